#pragma once

#include <QString>
#include <QStringList>

namespace nodalis::ctl {

// What the nodalisctl command line asks for.
struct CtlOptions
{
    QString host;        // empty: from --base, else 127.0.0.1
    int port = -1;       // -1: from --base
    QString baseFolder;  // reads IPserver and Socket of its Nodalis.ini
    double timeout = 10; // seconds; 0 waits without limit
    bool raw = false;
    QString command; // ping, stop, watch, send, store
    QStringList arguments;
    QString until; // send: print until this notification tag arrives
    QString error;

    static CtlOptions Parse(const QStringList& arguments);
    static QString Usage();

    // Fills host and port from the base folder when needed; false with error set.
    bool resolveServer();
};

} // namespace nodalis::ctl
