#pragma once

#include "server/RemoteCommands.h"

#include <QByteArray>
#include <QHash>

#include <functional>

namespace nodalis {

class ServerHost;

// The commands the program-management application sends over the control
// link, by keyword (compared exactly). Unknown keywords are ignored.
class ControlCommands
{
public:
    explicit ControlCommands(ServerHost& host);

    void run(const QByteArray& keyword, const QByteArray& arguments, int k);
    // Whether a command acts as soon as it is received (S and E set the stop
    // flag then); it still runs in its turn, before the others waiting.
    static bool ActsAtOnce(const QByteArray& keyword);
    // Whether a command only answers, without waiting for anything, and so
    // runs as soon as it arrives (a bare PING). A PING with an argument
    // waits its turn instead: its answer tells a client that its earlier
    // lines were handled.
    static bool AnswersAtOnce(const QByteArray& keyword, const QByteArray& arguments);

private:
    using Command = std::function<void(const QByteArray& arguments, int k)>;

    void Connect(int k);
    void Refresh();
    void Reinit();
    // POS_SIZE: the explorer window placed, or the command logged and left.
    void PlaceExplorer(const QByteArray& arguments);

    ServerHost& m_host;
    RemoteCommands m_remote;
    QHash<QByteArray, Command> m_table;
};

} // namespace nodalis
