#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace nodalis {

// Where the engine's notifications for the program-management application
// go. The server host hands in its control link; without one (stand-alone
// mode, tools, tests) notifications only update the view.
class InfoNotifier
{
public:
    virtual ~InfoNotifier() = default;

    // Sends one line to client k, or to every client when k is 0.
    // Returns the number of clients it went to.
    virtual int send(const QByteArray& message, int k) = 0;
    // The port the link listens on, 0 when it does not.
    virtual quint16 port() const = 0;
};

// Sends a notification to the program-management application (modes 0
// and 2; client k, or every client for 0), then updates the view from
// {a} and {%}. Returns the number of clients it went to.
int SendInfoMessage(const QByteArray& message, int k = 0);

} // namespace nodalis
