#include "protocols/ClsTNCRemo.h"

#include "dnc/ProcessState.h"
#include "platform/AnsiText.h"
#include "platform/Clock.h"
#include "platform/ToolProcess.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"
#include "store/TextUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace nodalis {

namespace {

const QByteArray kCrLf = "\r\n";
const QString kRoot = QStringLiteral("TNC:");
// The date and time the tool writes at the end of each listing line.
constexpr qsizetype kTail = 25;
// How long a tool may run without a TimeOutEnvoi.
constexpr qint64 kDefaultLimitMs = 600 * 1000;

QByteArray quoted(const QString& text)
{
    return '"' + toAnsi(text) + '"';
}

// Temporary and local paths go to the tool as the system names them.
QByteArray native(const QString& path)
{
    return toAnsi(QDir::toNativeSeparators(path));
}

} // namespace

ClsTNCRemo::ClsTNCRemo()
{
    Init(Ethernet);
}

ClsTNCRemo::~ClsTNCRemo()
{
    if (!m_scriptPath.isEmpty())
        QFile::remove(m_scriptPath);
}

void ClsTNCRemo::Init(int mode)
{
    m_mode = mode;
    m_folder.clear();
    m_toolPath = ToolPath();
}

QString ClsTNCRemo::ToolPath()
{
    const QByteArray own = TrimSpaces(Config().TncCmd);
    if (!own.isEmpty())
        return fromAnsi(own);
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("tnccmd.exe"));
}

QByteArray ClsTNCRemo::Script(const QByteArray& folder, const QList<QByteArray>& commands)
{
    QByteArray text = "cd \"" + folder + '"' + kCrLf;
    for (const QByteArray& line : commands)
        text += line + kCrLf;
    return text + "exit" + kCrLf;
}

QByteArray ClsTNCRemo::FolderRemovalScript(const QByteArray& folder, const QByteArray& name,
                                           const QByteArray& resultFile)
{
    return Script(folder, {"rmdir " + name, "ON ERROR ALWAYS GOTO ERR", "ON ALWAYS GOTO END",
                           ":ERR", "echo \"Erreur\" > " + resultFile, ":END"});
}

QString ClsTNCRemo::ToolFolder(const QString& current)
{
    QString folder = current;
    folder.remove(QStringLiteral(".\\"));
    return folder.isEmpty() ? QStringLiteral(".") : folder;
}

QString ClsTNCRemo::NextFolder(const QString& current, const QString& argument)
{
    if (current.isEmpty())
        return kRoot;
    if (argument == QLatin1String("."))
        return current;
    if (argument == QLatin1String(".."))
        return FolderOf(current);
    return current.endsWith(QLatin1Char('\\')) ? current + argument
                                               : current + QLatin1Char('\\') + argument;
}

QStringList ClsTNCRemo::ToolArguments(int mode, const QByteArray& host, int port,
                                      const QByteArray& baud, const QString& script)
{
    QStringList words;
    if (mode == Serial)
        words << QStringLiteral("-p%1").arg(port)
              << QStringLiteral("-b") + fromAnsi(TrimSpaces(baud));
    else
        words << QStringLiteral("-i") + fromAnsi(TrimSpaces(host));
    return words << QStringLiteral("START") << QDir::toNativeSeparators(script);
}

bool ClsTNCRemo::ParseListingLine(const QString& line, RemoteEntry& entry)
{
    if (line.size() < kTail)
        return false;
    const QString text = line.left(line.size() - kTail).trimmed();
    // From the end: the digits of the size, up to a blank.
    QString name = text;
    qint64 size = -1;
    qsizetype at = text.size();
    while (at > 0 && text.at(at - 1).isDigit())
        --at;
    if (at > 0 && at < text.size() && text.at(at - 1) == QLatin1Char(' ')) {
        size = text.mid(at).toLongLong();
        name = text.left(at - 1).trimmed();
    }
    RemoteEntry::Kind kind = RemoteEntry::File;
    if (name.size() > 3 && name.endsWith(QLatin1String(" DIR"))) {
        kind = RemoteEntry::Folder;
        name = name.chopped(4).trimmed();
    } else if (name.size() > 2 && name.at(name.size() - 2) == QLatin1Char(' ')) {
        name = name.chopped(1).trimmed(); // the status letter
    }
    if (const qsizetype h = name.toUpper().indexOf(QLatin1String(".H ")); h >= 0)
        name.truncate(h + 2);
    if (name == QLatin1String(".."))
        kind = RemoteEntry::Folder;
    if (name.isEmpty() || name.indexOf(QLatin1Char('/'), 1) > 0)
        return false;
    entry = {kind, name, size, {}};
    return true;
}

void ClsTNCRemo::ParseListing(const QByteArray& text, RemoteListing& listing)
{
    QList<QByteArray> lines = text.split('\n');
    // A listing that ends its summary with a line end still has the summary last.
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (!lines.isEmpty())
        lines.removeLast();
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        RemoteEntry entry;
        if (ParseListingLine(fromAnsi(line), entry))
            listing.entries.append(entry);
    }
}

bool ClsTNCRemo::ScriptSafe(const QString& text)
{
    for (const QChar c : text)
        if (c == QLatin1Char('"') || c.unicode() < 0x20 || c.unicode() == 0x7F)
            return false;
    return true;
}

bool ClsTNCRemo::acceptable(const QStringList& texts)
{
    for (const QString& text : texts) {
        if (ScriptSafe(text))
            continue;
        QString shown = text;
        for (QChar& c : shown)
            if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                c = QLatin1Char('?');
        m_lastError = QStringLiteral("nom refusé (guillemet ou caractère de contrôle) : ") + shown;
        return false;
    }
    return true;
}

QString ClsTNCRemo::toolTempFile(const QString& extension)
{
    // The reserved temporary file itself takes the extension: months of
    // operations leave no reservation behind.
    const QString reserved = NewTempFile();
    if (reserved.isEmpty()) {
        m_lastError =
            QStringLiteral("impossible de créer un fichier temporaire dans ") + TempFolder();
        return {};
    }
    const QString path = reserved.chopped(4) + QLatin1Char('.') + extension;
    // The result and script paths go to the tool unquoted.
    if (path.contains(QLatin1Char(' ')) || !QFile::rename(reserved, path)) {
        QFile::remove(reserved);
        m_lastError =
            path.contains(QLatin1Char(' '))
                ? QStringLiteral("le dossier temporaire contient un espace : ") + TempFolder()
                : QStringLiteral("impossible de créer ") + path;
        return {};
    }
    return path;
}

bool ClsTNCRemo::run(const QByteArray& script)
{
    const QString path = toolTempFile(QStringLiteral("bat"));
    if (path.isEmpty())
        return false;
    if (!m_scriptPath.isEmpty() && m_scriptPath != path)
        QFile::remove(m_scriptPath);
    m_scriptPath = path;
    QByteArray text = script;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size() ||
        !file.flush()) {
        m_lastError = path + QStringLiteral(" : ") + file.errorString();
        return false;
    }
    file.close();
    const Settings& s = Config();
    const qint32 seconds = s.Port.TimeOutEnvoi;
    const ToolOutcome outcome = RunTool(
        m_toolPath, ToolArguments(m_mode, s.RemoteHost, s.Port.NumPort, s.Port.BaudsEnvoi, path),
        seconds >= 1 ? qint64(seconds) * 1000 : kDefaultLimitMs,
        [] { return State().stopRequested; });
    Pause(100);
    if (outcome.kind != ToolOutcome::Ended) {
        m_lastError = outcome.error;
        return false;
    }
    return true;
}

bool ClsTNCRemo::runInFolder(const QList<QByteArray>& commands)
{
    return acceptable({m_folder}) && run(Script(toAnsi(ToolFolder(m_folder)), commands));
}

bool ClsTNCRemo::CreerRep(const QString& name)
{
    return acceptable({name}) && runInFolder({"mkdir " + quoted(name)});
}

bool ClsTNCRemo::CreerTxtFile(const QString& name, const QString& text)
{
    return acceptable({name, text}) && runInFolder({"echo " + quoted(text) + "> " + quoted(name)});
}

bool ClsTNCRemo::FNGetList(const QString& folder, RemoteListing& listing)
{
    listing.entries.clear();
    const QString next = NextFolder(m_folder, folder);
    if (!acceptable({next}))
        return false;
    const QString result = toolTempFile(QStringLiteral("txt"));
    if (result.isEmpty())
        return false;
    QFile::remove(result);
    const bool ran = run(Script(toAnsi(ToolFolder(next)), {"dir > " + native(result)}));
    QFile file(result);
    if (ran && !file.open(QIODevice::ReadOnly))
        m_lastError = QStringLiteral("aucune liste rendue par ") + m_toolPath;
    const bool ok = ran && file.isOpen();
    if (ok) {
        ParseListing(file.readAll(), listing);
        m_folder = next;
    }
    file.close();
    QFile::remove(result);
    return ok;
}

bool ClsTNCRemo::FNSupprimerDossier(const QString& name)
{
    if (!acceptable({m_folder, name}))
        return false;
    const QString result = toolTempFile(QStringLiteral("txt"));
    if (result.isEmpty())
        return false;
    QFile::remove(result);
    bool ok = run(FolderRemovalScript(toAnsi(ToolFolder(m_folder)), toAnsi(name), native(result)));
    QFile file(result);
    if (ok && file.open(QIODevice::ReadOnly) && file.read(6) == "Erreur") {
        m_lastError = QStringLiteral("la commande a refusé de supprimer ") + name;
        ok = false;
    }
    file.close();
    QFile::remove(result);
    return ok;
}

bool ClsTNCRemo::FNSupprimerFichier(const QString& name)
{
    if (!acceptable({m_folder, name}))
        return false;
    DoEvents();
    Pause(100);
    return runInFolder({"DEL " + quoted(name)});
}

bool ClsTNCRemo::RecupererFichier(const QString& remoteName, const QString& localPath)
{
    if (!acceptable({m_folder, remoteName}))
        return false;
    const QString temp = toolTempFile(QStringLiteral("txt"));
    if (temp.isEmpty())
        return false;
    QFile::remove(temp);
    bool ok = runInFolder({"GET " + quoted(remoteName) + ' ' + native(temp)});
    if (ok && !CopyFile(temp, localPath)) {
        m_lastError = remoteName + QStringLiteral(" : rien de reçu");
        ok = false;
    }
    QFile::remove(temp);
    return ok;
}

bool ClsTNCRemo::RenommerFichier(const QString& from, const QString& to)
{
    return acceptable({from, to}) && runInFolder({"rename " + quoted(from) + ' ' + quoted(to)});
}

bool ClsTNCRemo::SendFichier(const QString& localPath, const QString& remoteName)
{
    return acceptable({localPath, remoteName}) &&
           runInFolder(
               {"PUT " + quoted(QDir::toNativeSeparators(localPath)) + ' ' + quoted(remoteName)});
}

bool ClsTNCRemo::list(const QString& folder, RemoteListing& listing)
{
    return FNGetList(folder.isEmpty() ? QStringLiteral(".") : folder, listing);
}

bool ClsTNCRemo::put(const QString& localPath, const QString& name)
{
    return SendFichier(localPath, name);
}

bool ClsTNCRemo::get(const QString& name, const QString& localPath, const Progress&)
{
    return RecupererFichier(name, localPath);
}

bool ClsTNCRemo::deleteFile(const QString& name)
{
    return FNSupprimerFichier(name);
}

bool ClsTNCRemo::deleteFolder(const QString& name)
{
    return FNSupprimerDossier(name);
}

bool ClsTNCRemo::rename(const QString& from, const QString& to)
{
    return RenommerFichier(from, to);
}

bool ClsTNCRemo::createFolder(const QString& name)
{
    return CreerRep(name);
}

bool ClsTNCRemo::createTextFile(const QString& name)
{
    return CreerTxtFile(name, {});
}

} // namespace nodalis
