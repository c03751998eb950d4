#include "ctl/RemoteFiles.h"

#include "dnc/ControlProtocol.h"
#include "dnc/EventTable.h"
#include "platform/AnsiText.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace nodalis::ctl {

using namespace Qt::StringLiterals;

namespace {

const QStringList kCommands = {u"ls"_s,    u"cd"_s,    u"get"_s,     u"preview"_s,
                               u"rm"_s,    u"rmdir"_s, u"mv"_s,      u"mkdir"_s,
                               u"mktxt"_s, u"put"_s,   u"receive"_s, u"ftp-list"_s};

// Failed remote operations: a put, a name refused, a delete, a folder, a
// rename, a fetch, the FTP client's link, a login, a file missing on the FTP
// server. (An empty listing says the same as a failed one: not counted.)
const int kFailures[] = {907, 251, 253, 255, 257, 260, 261, 312, 313, 314};

QByteArray line(const char* keyword, const QStringList& arguments = {})
{
    QList<QByteArray> args;
    for (const QString& a : arguments)
        args.append(toAnsi(a));
    return BuildInfoMessage(keyword, args);
}

} // namespace

bool IsRemoteCommand(const QString& command)
{
    return kCommands.contains(command);
}

RemoteRequest BuildRemoteRequest(const QString& command, const QStringList& a)
{
    RemoteRequest r;
    const auto needs = [&](qsizetype least, qsizetype most, const char* usage) {
        if (a.size() < least || a.size() > most)
            r.error = command + QLatin1Char(' ') + QLatin1String(usage);
        return r.error.isEmpty();
    };
    if (command == u"ls") {
        if (needs(0, 1, "[FOLDER]"))
            r.lines = {line("LF", {a.value(0, u"."_s)})};
        // Listing a folder below is no move into it, as with ls.
        if (r.error.isEmpty() && !a.isEmpty() && a[0] != u"." && a[0] != u"..") {
            r.lines.append(line("LF", {u".."_s}));
            r.answers = 2;
        }
        r.until = "{flf}";
    } else if (command == u"cd") {
        if (needs(1, 1, "FOLDER"))
            r.lines = {line("LF", a)};
        r.until = "{flf}";
    } else if (command == u"get") {
        if (needs(1, 2, "NAME [DEST]"))
            r.lines = {line("DP", a)};
    } else if (command == u"preview") {
        if (needs(1, 1, "NAME"))
            r.lines = {line("PP", a)};
        r.until = "{preview}";
    } else if (command == u"rm") {
        if (needs(1, 1, "NAME"))
            r.lines = {line("DF", a)};
    } else if (command == u"rmdir") {
        if (needs(1, 1, "FOLDER"))
            r.lines = {line("DD", a)};
    } else if (command == u"mv") {
        if (needs(2, 2, "OLD NEW"))
            r.lines = {line("RF", a)};
    } else if (command == u"mkdir") {
        if (needs(1, 1, "FOLDER"))
            r.lines = {line("MKDIR", a)};
        r.until = "{flf}";
    } else if (command == u"mktxt") {
        if (needs(1, 2, "NAME [TEXT]"))
            r.lines = {line("MKTXT", a)};
        r.until = "{flf}";
    } else if (command == u"put") {
        if (needs(1, 10000, "FILE...")) {
            r.lines = {line("BLFTS")};
            for (const QString& file : a)
                r.lines.append(
                    line("AFTS", {QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath()),
                                  QFileInfo(file).fileName()}));
            r.lines.append(line("ELFTS"));
        }
        r.until = "{flf}";
    } else if (command == u"receive") {
        QStringList names;
        QString folder;
        bool concat = false;
        for (qsizetype i = 0; i < a.size(); ++i) {
            if (a[i] == u"--concat")
                concat = true;
            else if (a[i] == u"--folder" && i + 1 < a.size())
                folder = a[++i];
            else
                names.append(a[i]);
        }
        if (names.isEmpty() && folder.isEmpty())
            r.error = u"receive NAME... [--folder F] [--concat]"_s;
        r.lines = {line("BLFTR")};
        for (const QString& name : names)
            r.lines.append(line("AFTR", {name}));
        if (!folder.isEmpty())
            r.lines.append(line("AFOTR", {folder}));
        r.lines.append(line("ELFTR", {concat ? u"1"_s : u"0"_s}));
        r.until = "{f}";
    } else if (command == u"ftp-list") {
        if (needs(0, 0, ""))
            r.lines = {line("A")};
        // The job ends when the server closes (308), or on a failure.
        r.endEvents = {308, 312, 313, 314};
    }
    return r;
}

bool IsStatusOf(const QString& text, int code)
{
    const QString pattern = EventTemplate(code);
    const qsizetype marker = pattern.indexOf(u"%P");
    const QString fixed = (marker < 0 ? pattern : pattern.left(marker)).trimmed();
    return !fixed.isEmpty() && text.startsWith(fixed);
}

bool IsFailureStatus(const QString& text)
{
    return std::any_of(std::begin(kFailures), std::end(kFailures),
                       [&](int code) { return IsStatusOf(text, code); });
}

} // namespace nodalis::ctl
