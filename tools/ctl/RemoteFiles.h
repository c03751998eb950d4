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
    QString error; // a bad command line
};

// ls, get, preview, rm, rmdir, mv, mkdir, mktxt, put, receive, ftp-list.
bool IsRemoteCommand(const QString& command);
RemoteRequest BuildRemoteRequest(const QString& command, const QStringList& arguments);

// Whether a status text is one of the failure events of a remote operation.
bool IsFailureStatus(const QString& text);

} // namespace nodalis::ctl
