// nodalis-tnccmd: stands in for Heidenhain's TNCremo command tool.
//
// The server writes a command script and runs the tool on it, as it runs
// TNCremo against a real control. Here a local folder plays the control:
// NODALIS_TNC_ROOT is its "TNC:" root, and control paths use backslashes
// ("TNC:\NC_PROG\SUB"). Commissioning and tests use it to drive the whole
// exchange without a machine.
//
// NODALIS_TNC_FAULTS (comma-separated) makes it misbehave on purpose: hang,
// crash, rmdirfail, slow, garbage, emptyresult. NODALIS_TNC_LOG names a file
// that gets the arguments, then one line per script line run with its
// outcome.
//
// Exit codes: 0 once the script has run (failing commands do not change it),
// 2 for bad arguments or a missing NODALIS_TNC_ROOT, 3 for an unreadable
// script, 4 for a script that keeps jumping back on itself.

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

enum ExitCode : int
{
    Done = 0,
    BadUsage = 2,
    NoScript = 3,
    RunAway = 4,
};

// A script that jumps back before its jump would run forever; it is cut off
// after this many lines.
constexpr int kMaxSteps = 100000;

void complain(const QString& text)
{
    std::fprintf(stderr, "nodalis-tnccmd: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

// Opened and closed per line, so the log is complete whenever the tool dies.
void logLine(const QByteArray& line)
{
    const QString path = qEnvironmentVariable("NODALIS_TNC_LOG");
    if (path.isEmpty())
        return;
    QFile log(path);
    if (log.open(QIODevice::WriteOnly | QIODevice::Append))
        log.write(line + '\n');
}

// The faults asked for in NODALIS_TNC_FAULTS, lower-cased.
QStringList readFaults()
{
    QStringList faults = qEnvironmentVariable("NODALIS_TNC_FAULTS").split(u',');
    for (QString& fault : faults)
        fault = fault.trimmed().toLower();
    return faults;
}

// Accepts "-iHOST START SCRIPT" and "-pN -bBAUD START SCRIPT", each value
// glued to its letter or given as the next word. Returns the script path.
std::optional<QString> parseArguments(const QStringList& args)
{
    QString host, port, baud, script;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg.compare(u"START", Qt::CaseInsensitive) == 0) {
            if (i + 2 != args.size())
                return {};
            script = args[i + 1];
            break;
        }
        if (arg.size() < 2 || arg[0] != u'-')
            return {};
        QString value = arg.mid(2);
        if (value.isEmpty() && i + 1 < args.size())
            value = args[++i];
        QString* slot = arg[1] == u'i'   ? &host
                        : arg[1] == u'p' ? &port
                        : arg[1] == u'b' ? &baud
                                         : nullptr;
        if (slot == nullptr || !slot->isEmpty() || value.isEmpty())
            return {};
        *slot = value;
    }
    const auto positive = [](const QString& text) {
        bool ok = false;
        return text.toInt(&ok) > 0 && ok;
    };
    const bool ethernet = !host.isEmpty() && port.isEmpty() && baud.isEmpty();
    const bool serial = host.isEmpty() && positive(port) && positive(baud);
    if (script.isEmpty() || !(ethernet || serial))
        return {};
    return script;
}

// A name inside a control folder: never one that could reach elsewhere.
bool validName(const QString& name)
{
    if (name.isEmpty() || name == u"." || name == u"..")
        return false;
    return std::none_of(name.begin(), name.end(), [](QChar ch) {
        const char16_t c = ch.unicode();
        return c == u'/' || c == u'\\' || c < 0x20 || (c >= 0x7f && c < 0xa0);
    });
}

// Walks one script line: a keyword, then quoted or bare arguments.
class Words
{
public:
    explicit Words(const QString& text) : m_text(text) {}

    bool atEnd()
    {
        skipSpaces();
        return m_pos >= m_text.size();
    }
    bool take(char16_t c)
    {
        skipSpaces();
        if (m_pos >= m_text.size() || m_text[m_pos] != c)
            return false;
        ++m_pos;
        return true;
    }
    // A quoted argument, taken literally, or a bare word (ends at a space or '>').
    std::optional<QString> next()
    {
        if (atEnd())
            return {};
        if (m_text[m_pos] == u'"') {
            const qsizetype end = m_text.indexOf(u'"', m_pos + 1);
            if (end < 0)
                return {};
            const QString word = m_text.mid(m_pos + 1, end - m_pos - 1);
            m_pos = end + 1;
            return word;
        }
        const qsizetype start = m_pos;
        while (m_pos < m_text.size() && !m_text[m_pos].isSpace() && m_text[m_pos] != u'>')
            ++m_pos;
        return m_text.mid(start, m_pos - start);
    }
    // The rest of the line, trimmed, without surrounding quotes.
    QString rest()
    {
        QString text = m_text.mid(m_pos).trimmed();
        m_pos = m_text.size();
        if (text.size() >= 2 && text.startsWith(u'"') && text.endsWith(u'"'))
            text = text.mid(1, text.size() - 2);
        return text;
    }

private:
    void skipSpaces()
    {
        while (m_pos < m_text.size() && m_text[m_pos].isSpace())
            ++m_pos;
    }

    QString m_text;
    qsizetype m_pos = 0;
};

QString readFile(const QString& path, QByteArray& data)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return u"cannot read %1"_s.arg(path);
    data = file.readAll();
    return {};
}

QString writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(data) != data.size())
        return u"cannot write %1"_s.arg(path);
    return {};
}

// The folder's listing: folders then files, each by name ignoring case.
QByteArray listing(const QString& dir)
{
    QFileInfoList entries = QDir(dir).entryInfoList(
        QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden, QDir::NoSort);
    std::sort(entries.begin(), entries.end(), [](const QFileInfo& a, const QFileInfo& b) {
        if (a.isDir() != b.isDir())
            return a.isDir();
        const int byName = a.fileName().compare(b.fileName(), Qt::CaseInsensitive);
        return byName != 0 ? byName < 0 : a.fileName() < b.fileName();
    });
    QString text;
    qint64 total = 0;
    for (const QFileInfo& entry : entries) {
        const QString stamp = entry.lastModified().toString(u"dd.MM.yyyy hh:mm:ss"_s);
        const QString tail = u"  "_s + stamp.leftJustified(19) + u"    "_s;
        const QString name = entry.fileName().leftJustified(32);
        if (entry.isDir()) {
            text += (name + u" DIR"_s).leftJustified(48) + tail + u"\r\n"_s;
        } else {
            text += name + u" M "_s + QString::number(entry.size()).rightJustified(13) + tail +
                    u"\r\n"_s;
            total += entry.size();
        }
    }
    text += u"%1 file(s) %2 bytes"_s.arg(entries.size()).arg(total);
    return text.toLatin1();
}

QByteArray garbage()
{
    QByteArray bytes(4096, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(QRandomGenerator::global()->bounded(256));
    // Whatever the draw, the awkward bytes are all in there.
    bytes[100] = '\0';
    bytes[1000] = '\r';
    bytes[1001] = '\n';
    bytes[2000] = static_cast<char>(0xff);
    bytes[3000] = static_cast<char>(0x80);
    return bytes;
}

// The control folder and the commands that work on it.
struct Control
{
    QString root;
    QStringList folder; // below the root
    QStringList faults;

    QString localDir(const QStringList& parts) const
    {
        return parts.isEmpty() ? root : root + u'/' + parts.join(u'/');
    }
    QString local(const QString& name) const { return localDir(folder) + u'/' + name; }

    QString changeFolder(const QString& target)
    {
        if (target.isEmpty())
            return u"no folder given"_s;
        QString path = target;
        QStringList parts = folder;
        if (path.startsWith(u"TNC:", Qt::CaseInsensitive)) {
            path = path.mid(4);
            parts.clear();
        }
        for (const QString& part : path.split(u'\\', Qt::SkipEmptyParts)) {
            if (part == u".")
                continue;
            if (!validName(part))
                return u"bad folder name"_s;
            parts.append(part);
        }
        if (!QFileInfo(localDir(parts)).isDir())
            return u"no such folder"_s;
        folder = parts;
        return {};
    }

    // Runs one file command; returns why it failed, or nothing.
    QString run(const QString& keyword, Words& words)
    {
        // Each command's arguments: some quoted (or bare) words, then maybe a
        // '>', then maybe the rest of the line (a local path, spaces and all).
        struct Shape
        {
            int words;
            bool redirect;
            bool tail;
        };
        static const QHash<QString, Shape> shapes = {
            {u"cd"_s, {1, false, false}},    {u"dir"_s, {0, true, true}},
            {u"get"_s, {1, false, true}},    {u"put"_s, {2, false, false}},
            {u"del"_s, {1, false, false}},   {u"rename"_s, {2, false, false}},
            {u"mkdir"_s, {1, false, false}}, {u"rmdir"_s, {0, false, true}},
            {u"echo"_s, {1, true, true}},
        };
        const auto shape = shapes.constFind(keyword);
        if (shape == shapes.cend())
            return u"unknown command"_s;
        QStringList args;
        while (args.size() < shape->words) {
            const auto word = words.next();
            if (!word)
                return u"bad arguments"_s;
            args.append(*word);
        }
        if (shape->redirect && !words.take(u'>'))
            return u"bad arguments"_s;
        if (shape->tail)
            args.append(words.rest());
        if (!words.atEnd() || (shape->tail && args.last().isEmpty()))
            return u"bad arguments"_s;

        const QString here = localDir(folder);
        const QString first = args.value(0);
        const QString second = args.value(1);
        if (keyword == u"cd")
            return changeFolder(first);
        if (keyword == u"dir") {
            return writeFile(first, faults.contains(u"garbage")       ? garbage()
                                    : faults.contains(u"emptyresult") ? QByteArray()
                                                                      : listing(here));
        }
        if (keyword == u"echo") {
            // An absolute path is a local file, a relative one a control file.
            if (QDir::isAbsolutePath(second))
                return writeFile(second, first.toLatin1() + "\r\n");
            return validName(second) ? writeFile(local(second), first.toLatin1() + "\r\n")
                                     : u"bad name"_s;
        }
        QByteArray data;
        if (keyword == u"put") {
            if (!validName(second) || QFileInfo(local(second)).isDir())
                return u"bad name"_s;
            const QString error = readFile(first, data);
            return error.isEmpty() ? writeFile(local(second), data) : error;
        }
        if (!validName(first))
            return u"bad name"_s;
        if (keyword == u"get") {
            const QString error = readFile(local(first), data);
            return error.isEmpty()
                       ? writeFile(second, faults.contains(u"emptyresult") ? QByteArray() : data)
                       : error;
        }
        if (keyword == u"del") {
            const bool ok = QFileInfo(local(first)).isFile() && QFile::remove(local(first));
            return ok ? QString() : u"cannot delete"_s;
        }
        if (keyword == u"rename") {
            // An existing target is never replaced.
            const bool ok = validName(second) && QFileInfo::exists(local(first)) &&
                            !QFileInfo::exists(local(second)) && QDir(here).rename(first, second);
            return ok ? QString() : u"cannot rename"_s;
        }
        if (keyword == u"mkdir")
            return QDir(here).mkdir(first) ? QString() : u"cannot create"_s;
        // rmdir: only an empty folder goes.
        const bool ok = QFileInfo(local(first)).isDir() && !faults.contains(u"rmdirfail") &&
                        QDir(here).rmdir(first);
        return ok ? QString() : u"cannot remove"_s;
    }
};

} // namespace

int main(int argc, char* argv[])
{
    QStringList args;
    QByteArray joined;
    for (int i = 1; i < argc; ++i) {
        args.append(QString::fromLocal8Bit(argv[i]));
        joined += (i > 1 ? " " : "") + QByteArray(argv[i]);
    }
    logLine("args: " + joined);

    const auto scriptPath = parseArguments(args);
    if (!scriptPath) {
        complain(u"usage: nodalis-tnccmd (-iHOST | -pN -bBAUD) START SCRIPT"_s);
        return BadUsage;
    }
    Control control;
    control.root = qEnvironmentVariable("NODALIS_TNC_ROOT");
    if (control.root.isEmpty() || !QFileInfo(control.root).isDir()) {
        complain(u"NODALIS_TNC_ROOT does not name a folder"_s);
        return BadUsage;
    }
    QFile scriptFile(*scriptPath);
    if (!scriptFile.open(QIODevice::ReadOnly)) {
        complain(u"cannot read script %1"_s.arg(*scriptPath));
        return NoScript;
    }
    QList<QByteArray> lines = scriptFile.readAll().split('\n');
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }

    control.faults = readFaults();
    if (control.faults.contains(u"hang")) {
        for (;;)
            QThread::sleep(60);
    }
    if (control.faults.contains(u"crash"))
        std::abort();

    const auto findLabel = [&lines](QString label) -> qsizetype {
        label = label.trimmed();
        if (label.startsWith(u':'))
            label = label.mid(1).trimmed();
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString line = QString::fromLatin1(lines[i]).trimmed();
            if (line.startsWith(u':') && !label.isEmpty() &&
                line.mid(1).trimmed().compare(label, Qt::CaseInsensitive) == 0)
                return i;
        }
        return -1;
    };

    bool lastFailed = false; // the last command's outcome, for ON ERROR
    int steps = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromLatin1(lines[i]).trimmed();
        if (line.isEmpty())
            continue;
        if (++steps > kMaxSteps) {
            complain(u"script keeps running, stopped at line %1"_s.arg(i + 1));
            return RunAway;
        }
        if (control.faults.contains(u"slow"))
            QThread::sleep(1);

        Words words(line);
        const QString keyword =
            line.startsWith(u':') ? u":"_s : words.next().value_or(QString()).toLower();
        QString error;
        qsizetype jump = -1;
        if (keyword == u":") {
            // A label: nothing to do.
        } else if (keyword == u"exit") {
            logLine(lines[i] + " -> ok");
            return Done;
        } else if (keyword == u"on") {
            // ON ERROR [ALWAYS] GOTO L: to L when the command before failed;
            // ON ALWAYS GOTO L: to L.
            QString word = words.next().value_or(QString()).toLower();
            const bool onError = word == u"error";
            if (onError)
                word = words.next().value_or(QString()).toLower();
            if (word == u"always")
                word = words.next().value_or(QString()).toLower();
            const qsizetype target = word == u"goto" ? findLabel(words.rest()) : -1;
            if (target < 0)
                error = u"no such label"_s;
            else if (!onError || lastFailed)
                jump = target;
        } else {
            error = control.run(keyword, words);
            lastFailed = !error.isEmpty();
        }

        logLine(lines[i] + (error.isEmpty() ? " -> ok" : " -> failed"));
        if (!error.isEmpty())
            complain(u"line %1: %2: %3"_s.arg(i + 1).arg(line, error));
        if (jump >= 0)
            i = jump - 1; // the label line runs next
    }
    return Done;
}
