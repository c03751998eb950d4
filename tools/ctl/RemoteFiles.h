#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace nodalis::ctl {

// A networked machine's files through the control link: the lines a
// nodalisctl subcommand sends, and the notification that ends its answer
// (empty: the command is done once the server has handled it).
struct RemoteRequest
{
    QList<QByteArray> lines;
    QByteArray until;
    // Notifications of that tag the answer holds; only the first answer is
    // printed (ls FOLDER lists it, then goes back where it was).
    int answers = 1;
    // Or the status of one of these events ends it (the FTP client's jobs).
    QList<int> endEvents;
    QString error; // a bad command line
};

// ls, get, preview, rm, rmdir, mv, mkdir, mktxt, put, receive, ftp-list.
bool IsRemoteCommand(const QString& command);
RemoteRequest BuildRemoteRequest(const QString& command, const QStringList& arguments);

// Whether a status text is one of the failure events of a remote operation.
bool IsFailureStatus(const QString& text);
// Whether a status text is that of the event code.
bool IsStatusOf(const QString& text, int code);

} // namespace nodalis::ctl
