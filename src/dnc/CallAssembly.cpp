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

bool containsProgramStart(const QByteArray& line)
{
    const QByteArray start = Config().CarDebProg;
    if (start.isEmpty())
        return false;
    for (const QByteArray& alternative : start.split('|')) {
        if (!alternative.isEmpty() && line.contains(alternative))
            return true;
    }
    return false;
}

bool startsWithBlock(const QByteArray& line, const QByteArray& block)
{
    const QByteArray b = TrimSpaces(block);
    return !b.isEmpty() && TrimSpaces(line).startsWith(b);
}

bool writeLines(const QString& path, const QList<QByteArray>& lines)
{
    LineWriter out;
    if (!out.open(path))
        return false;
    for (const QByteArray& l : lines)
        out.writeLine(l);
    return out.close();
}

// The program's lines wrapped in the start and end blocks, without the
// start and end blocks they held.
QList<QByteArray> wrapInBlocks(const QList<QByteArray>& lines)
{
    const Settings& s = Config();
    QList<QByteArray> out;
    if (!TrimSpaces(s.BlocDeb).isEmpty())
        out.append(s.BlocDeb);
    for (const QByteArray& l : lines) {
        if (!startsWithBlock(l, s.BlocDeb) && !startsWithBlock(l, s.BlocFin))
            out.append(l);
    }
    if (!TrimSpaces(s.BlocFin).isEmpty())
        out.append(s.BlocFin);
    return out;
}

} // namespace

bool CallResolution::cutProgram(const QString& path, const CalledProgram& call,
                                QList<QByteArray>& out)
{
    FileLines lines;
    if (!lines.open(path))
        return QFileInfo(path).isFile(); // an empty program cuts to nothing
    bool copying = call.StartText.isEmpty();
    QByteArray line;
    while (lines.readLine(line)) {
        if (!copying && line.contains(call.StartText))
            copying = true;
        if (!copying)
            continue;
        out.append(line);
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
    if (!OpenProgramDatabase(ProgramDatabasePath(), db))
        return false;
    QSqlQuery query;
    if (!SelectCalledPrograms(db, name, MachineCondition(s.RefMO, s.ListRefMOShared), query))
        return false;
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
    if (HasPendingUpload(db, record.CodeProg)) {
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
    if (!CopyFile(source, send)) {
        error = 555;
        SetStatus(505);
        return false;
    }
    return true;
}

bool CallResolution::ConcatCalledPrograms(const QStringList& paths, const QString& output)
{
    const Settings& s = Config();
    QList<QByteArray> body;
    QByteArray cartouche;
    for (int i = 0; i < paths.size() && i < m_calls.size(); ++i) {
        QList<QByteArray> lines;
        if (!cutProgram(paths[i], m_calls[i], lines))
            return false;
        if (i == 0) {
            // The first program's own start line names the whole.
            FileLines first;
            QByteArray line;
            if (first.open(paths[0])) {
                while (first.readLine(line)) {
                    if (containsProgramStart(line)) {
                        cartouche = TrimSpaces(line);
                        break;
                    }
                }
            }
        }
        body += lines;
    }
    QList<QByteArray> out;
    if (!TrimSpaces(s.BlocDeb).isEmpty())
        out.append(s.BlocDeb);
    if (!cartouche.isEmpty() && !startsWithBlock(cartouche, s.BlocDeb))
        out.append(cartouche);
    for (const QByteArray& l : std::as_const(body)) {
        if (!startsWithBlock(l, s.BlocDeb) && !startsWithBlock(l, s.BlocFin) && l != cartouche)
            out.append(l);
    }
    if (!TrimSpaces(s.BlocFin).isEmpty())
        out.append(s.BlocFin);
    return writeLines(output, out);
}

bool CallResolution::AssembleMultiLine(const QStringList& paths, const QString& frame,
                                       const QString& output)
{
    QList<QList<QByteArray>> cuts;
    for (int i = 0; i < paths.size() && i < m_calls.size(); ++i) {
        QList<QByteArray> lines;
        if (!cutProgram(paths[i], m_calls[i], lines))
            return false;
        cuts.append(lines);
    }
    FileLines in;
    if (!in.open(frame))
        return false;
    QList<QByteArray> text;
    QByteArray line;
    int next = 0;
    while (in.readLine(line)) {
        if (next < cuts.size() && line.indexOf(m_calls[next].Name) > 0) {
            text += cuts[next++];
            continue;
        }
        text.append(line);
    }
    return writeLines(output, wrapInBlocks(text));
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
    FileLines program, frameLines;
    if (!program.open(path) || !frameLines.open(frame))
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
    QList<QByteArray> out;
    bool started = false;
    while (program.readLine(line)) {
        out.append(line);
        if (!started && containsProgramStart(line)) {
            started = true;
            out += before;
        }
    }
    if (!started)
        out = before + out;
    out += after;
    const QString merged = TempFilePath(QStringLiteral("ProgConcat.txt"));
    if (writeLines(merged, out))
        path = merged;
}

} // namespace nodalis
