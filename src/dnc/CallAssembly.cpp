// Finding the called programs and assembling what is sent for a call.

#include "dnc/CallResolution.h"

#include "dnc/EventMessages.h"
#include "dnc/LineFiles.h"
#include "dnc/PortState.h"
#include "platform/AnsiText.h"
#include "startup/AppPaths.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"
#include "store/ProgramDatabase.h"
#include "store/ProgramRecords.h"

#include <QSqlQuery>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>

namespace nodalis {

namespace {

// The program store could not be read for a call: event 509 naming the
// program, followed by what the engine said (or the store's path).
void unreadableStore(const QByteArray& name, const ProgramDatabase& db)
{
    const QString why = db.errorText().isEmpty() ? ProgramDatabasePath() : db.errorText();
    EventText(509, {name}); // the program named in the event
    SetStatusWithReason(509, ansi(u"base de données illisible (") + toAnsi(why) + ')');
}

// A called name stays inside the program folders: no parent steps, no root,
// no drive.
bool isConfinedName(const QByteArray& name)
{
    if (name.isEmpty() || name.startsWith('/') || name.startsWith('\\'))
        return false;
    if (name.size() >= 2 && name[1] == ':')
        return false;
    const QList<QByteArray> parts = QByteArray(name).replace('\\', '/').split('/');
    return std::none_of(parts.cbegin(), parts.cend(),
                        [](const QByteArray& p) { return p == ".."; });
}

QString programFolder()
{
    return Config().PathFileProgOpen;
}

// The first file below the folder whose name, or whose name without its
// extension, is the name (without regard to case). A file that is a link
// leading out of the folder is passed over.
QString findInTree(const QString& folder, const QString& name, bool anyExtension)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return {};
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const bool named =
            info.fileName().compare(name, Qt::CaseInsensitive) == 0 ||
            (anyExtension && info.completeBaseName().compare(name, Qt::CaseInsensitive) == 0);
        if (named && IsInsideFolders(info.filePath(), {folder}))
            return info.filePath();
    }
    return {};
}

// The program-start characters of CarDebProg ("O|%": either).
QList<QByteArray> programStarts()
{
    QList<QByteArray> starts;
    for (const QByteArray& alternative : Config().CarDebProg.split('|')) {
        if (!alternative.isEmpty())
            starts.append(alternative);
    }
    return starts;
}

bool containsProgramStart(const QByteArray& line)
{
    const QList<QByteArray> starts = programStarts();
    return std::any_of(starts.cbegin(), starts.cend(),
                       [&](const QByteArray& start) { return line.contains(start); });
}

bool startsWithBlock(const QByteArray& line, const QByteArray& block)
{
    const QByteArray b = TrimSpaces(block);
    return !b.isEmpty() && TrimSpaces(line).startsWith(b);
}

bool isBlockLine(const QByteArray& line)
{
    return startsWithBlock(line, Config().BlocDeb) || startsWithBlock(line, Config().BlocFin);
}

// How many lines the header of a program may take.
constexpr int kHeaderLines = 20;

// The line that names a concatenation after its first program: the program
// number line of that program's header (the first line after the start
// block that begins with a program-start character), written as that
// character followed by the rest of the line. Empty when the header has no
// such line: a line is never made up, and no line of the program is taken
// for it because it merely holds the character (a comment does).
QByteArray headerLine(const QString& path)
{
    FileLines lines;
    if (!lines.open(path, LineEnds::Any))
        return {};
    const QList<QByteArray> starts = programStarts();
    QByteArray line;
    for (int n = 0; n < kHeaderLines && lines.readLine(line); ++n) {
        if (startsWithBlock(line, Config().BlocDeb))
            continue;
        const QByteArray text = TrimSpaces(line);
        for (const QByteArray& start : starts) {
            if (text.startsWith(start))
                return start + text.mid(start.size());
        }
    }
    return {};
}

// A text between the start and end blocks, without the start and end
// blocks it held itself; every line ends with CR LF.
class BlockedText
{
public:
    bool open(const QString& path)
    {
        if (!m_out.open(path))
            return false;
        if (!TrimSpaces(Config().BlocDeb).isEmpty())
            m_out.writeLine(Config().BlocDeb);
        return true;
    }
    // Written as it is, never taken for a start or end block.
    void writeHeader(const QByteArray& line) { m_out.writeLine(line); }
    void writeLine(const QByteArray& line)
    {
        if (!isBlockLine(line))
            m_out.writeLine(line);
    }
    bool close()
    {
        if (!TrimSpaces(Config().BlocFin).isEmpty())
            m_out.writeLine(Config().BlocFin);
        return m_out.close();
    }

private:
    LineWriter m_out;
};

} // namespace

bool CallResolution::cutProgram(const QString& path, const CalledProgram& call,
                                const std::function<void(const QByteArray&)>& perLine)
{
    FileLines lines;
    if (!lines.open(path, LineEnds::Any))
        return QFileInfo(path).isFile(); // an empty program cuts to nothing
    bool copying = call.StartText.isEmpty();
    QByteArray line;
    while (lines.readLine(line)) {
        if (!copying && line.contains(call.StartText))
            copying = true;
        if (!copying)
            continue;
        perLine(line);
        if (!call.EndText.isEmpty() && line.contains(call.EndText))
            break;
    }
    return !lines.failed();
}

bool CallResolution::FindCalledProgramFile(const QByteArray& name, QString& path, int& error)
{
    const Settings& s = Config();
    path.clear();
    error = 0;
    const QByteArray trimmed = TrimSpaces(name);
    if (isConfinedName(trimmed)) {
        const QString folder = programFolder();
        QString relative;
        if (s.ProgIndice) {
            const QString base = fromAnsi(s.CarDebProg + trimmed.rightJustified(4, '0'));
            int highest = 0;
            const QRegularExpression numeric(QStringLiteral("^\\d{1,3}$"));
            for (const QFileInfo& f :
                 QDir(folder).entryInfoList({base + QStringLiteral(".*")}, QDir::Files)) {
                if (numeric.match(f.suffix()).hasMatch())
                    highest = qMax(highest, f.suffix().toInt());
            }
            relative =
                base + (highest > 0 ? QStringLiteral(".%1").arg(highest, 3, 10, QLatin1Char('0'))
                                    : QString());
        } else {
            relative = fromAnsi(trimmed);
        }
        Channel().programText = trimmed;
        // The name may still reach out of the folder through a link, to a
        // file or to a folder: only a file that really lies inside is sent.
        if (!ConfinedPath(folder, relative).isEmpty())
            path = folder + relative;
        if (path.isEmpty())
            path = findInTree(folder, fromAnsi(trimmed), false);
        if (path.isEmpty())
            path = findInTree(folder, fromAnsi(trimmed), true);
        if (!path.isEmpty())
            return true;
    }
    error = 551;
    SetStatus(501, {trimmed});
    path.clear();
    return false;
}

bool CallResolution::FindCalledProgramInDb(const QByteArray& name, QString& path, int& error)
{
    const Settings& s = Config();
    path.clear();
    error = 0;
    ProgramDatabase db;
    QSqlQuery query;
    if (!OpenProgramDatabase(ProgramDatabasePath(), db) ||
        !SelectCalledPrograms(db, name, MachineCondition(s.RefMO, s.ListRefMOShared), query)) {
        // A store that cannot be read (missing, locked past the wait) says
        // nothing of the program: no look-up in the files, which would send
        // a program the store may refuse, but an answer the machine shows.
        unreadableStore(TrimSpaces(name), db);
        error = 559;
        return false;
    }
    const int count = CountRecords(query);
    if (count == 0) {
        SetStatus(509, {TrimSpaces(name)});
        db.close();
        if (FindCalledProgramFile(name, path, error))
            return true;
        error = 550;
        SetStatus(500);
        return false;
    }
    query.first();
    const ProgramRecord record = ProgramRecordOf(query);
    Channel().currentProgramCode = record.CodeProg;
    const QByteArray subject = TrimSpaces(name);
    if (count > 1) {
        error = 553;
        SetStatus(515, {subject});
        return false;
    }
    if (record.Downloadable == 1) {
        error = 554;
        SetStatus(516, {subject});
        return false;
    }
    const std::optional<bool> pending = HasPendingUpload(db, record.CodeProg);
    if (!pending) {
        // Whether an upload waits for validation is unknown: send nothing.
        unreadableStore(subject, db);
        error = 559;
        return false;
    }
    if (*pending) {
        error = 552;
        SetStatus(502, {subject});
        return false;
    }
    path = ProgramFilePath(ProgramTextPath, record.CodeProg);
    // A text file of the store that has become a link out of it is as good
    // as missing.
    if (!IsInsideFolders(path, {s.PathData})) {
        error = 551;
        SetStatus(506, {toAnsi(path)});
        path.clear();
        return false;
    }
    return true;
}

bool CallResolution::CopyToSendFile(const QString& path, int& error)
{
    error = 0;
    const QString& send = Paths().sendFile;
    // What goes to the machine comes from the program folder, the store or
    // our own assemblies, read where it really is so a link changed since
    // the look-up cannot lead elsewhere.
    const QStringList allowed = {programFolder(), Config().PathData, Paths().tempFolder};
    const QString source = QFileInfo(path).canonicalFilePath();
    if (!QFileInfo(path).isFile() || !IsInsideFolders(source, allowed)) {
        error = 551;
        SetStatus(506, {toAnsi(path)});
        return false;
    }
    const QString companion = source + QStringLiteral(".dir");
    if (Config().ModeGestionBD == 1 && QFileInfo(companion).isDir() &&
        IsInsideFolders(companion, allowed)) {
        DeleteFolder(send + QStringLiteral(".dir"));
        CopyFolder(companion, send + QStringLiteral(".dir"));
    }
    MakeFolders(QFileInfo(send).absolutePath());
    if (!CopyScratchFile(source, send)) {
        error = 555;
        SetStatus(505);
        return false;
    }
    return true;
}

bool CallResolution::ConcatCalledPrograms(const QStringList& paths, const QString& output)
{
    BlockedText out;
    if (paths.isEmpty() || !out.open(output))
        return false;
    const QByteArray header = headerLine(paths.first());
    if (!header.isEmpty())
        out.writeHeader(header);
    const auto write = [&](const QByteArray& line) { out.writeLine(line); };
    for (int i = 0; i < paths.size() && i < m_calls.size(); ++i) {
        if (!cutProgram(paths[i], m_calls[i], write))
            return false;
    }
    return out.close();
}

bool CallResolution::AssembleMultiLine(const QStringList& paths, const QString& frame,
                                       const QString& output)
{
    FileLines in;
    BlockedText out;
    if (!in.open(frame, LineEnds::Any) || !out.open(output))
        return false;
    const auto write = [&](const QByteArray& line) { out.writeLine(line); };
    const qsizetype count = std::min(paths.size(), m_calls.size());
    QByteArray line;
    qsizetype next = 0;
    while (in.readLine(line)) {
        // The n-th call line gives way to the part of the n-th program it asks for.
        if (next < count && line.indexOf(m_calls[next].Name) > 0) {
            if (!cutProgram(paths[next], m_calls[next], write))
                return false;
            ++next;
            continue;
        }
        out.writeLine(line);
    }
    return !in.failed() && out.close();
}

void CallResolution::MergeCallText(QString& path, const QString& frame)
{
    const Settings& s = Config();
    QByteArray prefix, suffix;
    callSyntax(prefix, suffix);
    auto isCallLine = [&](const QByteArray& l) {
        QByteArray bare = l;
        bare.replace(' ', QByteArray()).replace('\t', QByteArray());
        return bare.toUpper().contains(prefix.toUpper()) &&
               (suffix.isEmpty() || bare.contains(suffix));
    };
    FileLines frameLines;
    if (!frameLines.open(frame, LineEnds::Any))
        return;
    QList<QByteArray> before, after;
    bool inCall = s.Port.MarqueurDebAppel.isEmpty();
    bool pastCall = false;
    QByteArray line;
    while (frameLines.readLine(line)) {
        if (!pastCall) {
            if (!inCall) {
                inCall = line.contains(s.Port.MarqueurDebAppel);
                continue;
            }
            if (isCallLine(line)) {
                pastCall = true;
                continue;
            }
            before.append(line);
        } else {
            if (!s.Port.MarqueurFinAppel.isEmpty() && line.contains(s.Port.MarqueurFinAppel))
                break;
            after.append(line);
        }
    }
    // The call's text goes after the program's start line; a program
    // without one gets it in front.
    FileLines scan, program;
    bool hasStart = false;
    if (!scan.open(path, LineEnds::Any) || !program.open(path, LineEnds::Any))
        return;
    while (!hasStart && scan.readLine(line))
        hasStart = containsProgramStart(line);
    const QString merged = TempFilePath(QStringLiteral("ProgConcat.txt"));
    LineWriter out;
    if (!out.open(merged))
        return;
    const auto writeAll = [&](const QList<QByteArray>& lines) {
        for (const QByteArray& l : lines)
            out.writeLine(l);
    };
    bool started = !hasStart;
    if (started)
        writeAll(before);
    while (program.readLine(line)) {
        out.writeLine(line);
        if (!started && containsProgramStart(line)) {
            started = true;
            writeAll(before);
        }
    }
    writeAll(after);
    if (out.close() && !program.failed())
        path = merged;
}

} // namespace nodalis
