#include "server/ExplorerController.h"

#include "dnc/ControlProtocol.h"
#include "dnc/EventMessages.h"
#include "dnc/InfoNotifier.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "platform/AnsiText.h"
#include "platform/Clock.h"
#include "platform/OperatorPrompt.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"
#include "store/ProgramDatabase.h"
#include "store/ProgramRecords.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <cmath>
#include <utility>

namespace nodalis {

namespace {

const QString kTitle = QStringLiteral("ORVA");
// A failed get or delete on the machine leaves it a moment before the next.
constexpr qint64 kFailurePauseMs = 1000;

void notify(const QByteArray& keyword, const QList<QByteArray>& arguments = {})
{
    SendInfoMessage(BuildInfoMessage(keyword, arguments), 0);
}

void announceState(int state)
{
    Channel().channelState = qint16(state);
    notify("{a}", {QByteArray::number(state)});
}

// A name of one side's list: a single component, never a path.
bool plainName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

// At most PreviewLimit bytes of the file: a big program is never read whole.
ExplorerPreview readPreview(const QString& path, const QString& name)
{
    ExplorerPreview preview{name, {}, false};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return preview;
    preview.text = file.read(ExplorerController::PreviewLimit);
    preview.truncated = file.size() > preview.text.size();
    return preview;
}

// A POS_SIZE argument: a decimal number that fits a screen place.
std::optional<double> twipsValue(const QByteArray& text)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v) || std::fabs(v) > 1e8)
        return std::nullopt;
    return v;
}

} // namespace

std::optional<QRect> PosSizeTwips(const QList<QByteArray>& arguments)
{
    if (arguments.size() < 4)
        return std::nullopt;
    double v[4];
    for (int i = 0; i < 4; ++i) {
        const std::optional<double> value = twipsValue(arguments[i]);
        if (!value)
            return std::nullopt;
        v[i] = *value;
    }
    // Never off the top-left corner of the screen.
    return QRect(qRound(qMax(1000.0, v[0])), qRound(qMax(1000.0, v[1])), qRound(v[2]),
                 qRound(v[3] + 600.0));
}

QRect TwipsToPixels(const QRect& twips, double dpi)
{
    const auto px = [dpi](int t) { return qRound(t * dpi / 1440.0); };
    return QRect(px(twips.left()), px(twips.top()), px(twips.width()), px(twips.height()));
}

ExplorerController::ExplorerController(NetworkTransfer& network, QObject* parent)
    : QObject(parent), m_network(network)
{
}

ExplorerController::~ExplorerController()
{
    // The model's query goes before its connection.
    m_store.clear();
}

void ExplorerController::setWindow(ExplorerWindow* window)
{
    m_window = window;
}

void ExplorerController::setMode(int mode, int methode)
{
    // Method 19 starts the local side where received programs go.
    if (methode != m_methode)
        m_localFolder.clear();
    m_mode = mode;
    m_methode = methode;
}

void ExplorerController::activate()
{
    if (Config().TransfertBasic) {
        m_network.ListenOnNetwork();
        return;
    }
    if (m_window)
        m_window->showExplorer();
    refresh();
}

void ExplorerController::showWindow()
{
    if (!m_window)
        return;
    m_window->showExplorer();
    refresh();
}

void ExplorerController::hideWindow()
{
    if (m_window)
        m_window->hideExplorer();
}

void ExplorerController::place(int left, int top, int width, int height)
{
    if (m_window)
        m_window->placeExplorer(QRect(left, top, width, height));
}

void ExplorerController::refresh()
{
    // A running transfer lists the machine itself when it ends; listing now
    // would move the transport's folder under it.
    if (!m_transfer)
        listRemote(QStringLiteral("."));
    listLocal();
    if (showsStore())
        loadStore();
}

bool ExplorerController::showsStore() const
{
    return Config().DataAccess == 1;
}

void ExplorerController::setStoreFilter(const QString& callName)
{
    m_storeFilter = callName.trimmed();
    loadStore();
}

void ExplorerController::loadStore()
{
    m_store.clear();
    if (!m_storeDb)
        m_storeDb = std::make_unique<ProgramDatabase>();
    QSqlQuery query;
    if (OpenProgramDatabase(ProgramDatabasePath(), *m_storeDb) &&
        SelectMachinePrograms(*m_storeDb, Config().RefMO, ansi(m_storeFilter), query))
        m_store.setQuery(std::move(query)); // rows fetched as the grid scrolls
    else
        m_storeDb->close();
    if (m_window)
        m_window->localChanged();
}

QList<qint32> ExplorerController::storeCodes()
{
    QList<qint32> codes;
    if (!showsStore())
        return codes;
    // A connection of its own: opening the grid's again would close the
    // query the grid shows.
    ProgramDatabase db;
    QSqlQuery query;
    if (!OpenProgramDatabase(ProgramDatabasePath(), db) ||
        !SelectMachinePrograms(db, Config().RefMO, ansi(m_storeFilter), query))
        return codes;
    while (query.next())
        codes.append(ProgramRecordOf(query).CodeProg);
    return codes;
}

QString ExplorerController::localPath(const QString& name) const
{
    return QDir(m_localFolder).filePath(name);
}

void ExplorerController::setTransfer(bool running)
{
    m_transfer = running;
    if (running) {
        State().stopRequested = false;
        // An operator's transfer from an idle channel shows the explorer's state.
        if (Channel().channelState == ChannelIdle) {
            m_ownsChannelState = true;
            announceState(ChannelExplorer);
        }
    } else if (std::exchange(m_ownsChannelState, false) &&
               Channel().channelState == ChannelExplorer) {
        announceState(ChannelIdle);
    }
    if (m_window)
        m_window->transferChanged(running);
}

void ExplorerController::setProgress(int done, int total)
{
    m_progress = total > 0 ? done * 100 / total : 0;
    Channel().percentage = qint16(m_progress);
    notify("{%}", {QByteArray::number(m_progress)});
    if (m_window)
        m_window->progressChanged(m_progress);
}

bool ExplorerController::refuseDuringTransfer()
{
    if (!m_transfer)
        return false;
    SetStatus(265, {}, true);
    return true;
}

bool ExplorerController::listRemote(const QString& folder)
{
    RemoteListing listing;
    // A failed listing is told by ListRemoteFolder (267); ours stays.
    if (!m_network.ListRemoteFolder(folder, listing))
        return false;
    m_listing = listing;
    if (folder == QLatin1String("..")) {
        const qsizetype slash = m_remoteFolder.lastIndexOf(QLatin1Char('/'));
        m_remoteFolder = slash < 0 ? QString() : m_remoteFolder.left(slash);
    } else if (!folder.isEmpty() && folder != QLatin1String(".")) {
        m_remoteFolder += (m_remoteFolder.isEmpty() ? QString() : QStringLiteral("/")) + folder;
    }
    if (m_window)
        m_window->remoteChanged();
    return true;
}

void ExplorerController::listLocal()
{
    if (m_localFolder.isEmpty()) {
        const Settings& s = Config();
        m_localFolder = QDir::cleanPath(
            QDir(s.Port.Methode == 19 ? s.PathFileProgSave : s.PathFileProgOpen).absolutePath());
    }
    m_local.clear();
    const QDir dir(m_localFolder);
    if (!dir.isRoot())
        m_local.append({QStringLiteral(".."), true, 0, {}});
    const QFileInfoList found =
        dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                          QDir::Name | QDir::DirsFirst | QDir::IgnoreCase);
    for (const QFileInfo& f : found)
        m_local.append({f.fileName(), f.isDir(), f.isDir() ? 0 : f.size(), f.lastModified()});
    if (m_window)
        m_window->localChanged();
}

void ExplorerController::Receive(const QStringList& remoteNames)
{
    if (refuseDuringTransfer())
        return;
    QStringList files;
    for (const QString& name : remoteNames)
        if (plainName(name) && !m_listing.FNHaveThisFolder(name))
            files.append(name);
    if (files.isEmpty())
        return;
    setTransfer(true);
    const auto end = qScopeGuard([this] { setTransfer(false); });
    int received = 0;
    bool localChanged = false;
    for (const QString& name : std::as_const(files)) {
        if (State().stopRequested)
            break;
        if (receiveOne(name, localChanged) != Outcome::Failed)
            ++received;
        setProgress(received, int(files.size()));
    }
    listRemote(QStringLiteral("."));
    if (localChanged)
        listLocal();
}

ExplorerController::Outcome ExplorerController::receiveOne(const QString& name, bool& localChanged)
{
    if (!m_network.GetRemoteFile(name, Paths().receptionFile)) {
        SetStatus(261, {ansi(name)}, true);
        Pause(kFailurePauseMs);
        return Outcome::Failed;
    }
    SetStatus(258, {ansi(name)}, true);
    Channel().currentTransfer[0] = ansi(name);
    bool kept = true;
    if (Config().Port.Methode == 19) {
        kept = keepLocally(name);
        localChanged = true;
    } else {
        m_network.Examine(name);
        // The examination ends its transaction idle; the explorer is still at work.
        if (m_ownsChannelState && Channel().channelState == ChannelIdle)
            announceState(ChannelExplorer);
    }
    // The machine's file goes only once its copy here is kept.
    if (kept && Config().TransfertBasic && !m_network.DeleteRemoteFile(name))
        Pause(kFailurePauseMs);
    return kept ? Outcome::Done : Outcome::Declined;
}

bool ExplorerController::keepLocally(const QString& name)
{
    const QString destination = localPath(name);
    if (FileExists(destination) &&
        !Prompt().askYesNo(kTitle,
                           QStringLiteral("Programme '") + name +
                               QStringLiteral("' existant en local. Voulez-vous l'écraser ?"),
                           false))
        return false;
    MakeFolders(m_localFolder);
    if (CopyFile(Paths().receptionFile, destination))
        return true;
    SetStatusWithReason(713, ansi(destination));
    return false;
}

void ExplorerController::Send(const QStringList& localNames)
{
    if (refuseDuringTransfer())
        return;
    QList<Outgoing> files;
    for (const QString& name : localNames)
        if (plainName(name) && !QFileInfo(localPath(name)).isDir())
            files.append({localPath(name), {}, 0});
    sendFiles(files);
}

void ExplorerController::SendPrograms(const QList<qint32>& codes, bool overwriteAll)
{
    if (refuseDuringTransfer())
        return;
    QList<Outgoing> files;
    for (const qint32 code : codes)
        files.append({ProgramFilePath(ProgramTextPath, code), {}, code});
    m_overwriteAll = overwriteAll;
    sendFiles(files);
    m_overwriteAll = false;
}

void ExplorerController::sendFiles(const QList<Outgoing>& files)
{
    if (refuseDuringTransfer() || files.isEmpty())
        return;
    setTransfer(true);
    const auto end = qScopeGuard([this] {
        m_network.EndTransfer();
        setTransfer(false);
    });
    int done = 0;
    bool cancelled = false;
    for (const Outgoing& file : files) {
        if (State().stopRequested)
            break;
        if (sendOne(file) == Outcome::Failed)
            cancelled = true;
        else
            ++done;
        if (files.size() > 1)
            setProgress(done, int(files.size()));
    }
    // One message for the batch: a dead machine would otherwise ask for one click a file.
    if (cancelled)
        Prompt().showMessage(kTitle, QStringLiteral("Envoi annulé"), OperatorPrompt::Icon::Warning);
    listRemote(QStringLiteral("."));
}

ExplorerController::Outcome ExplorerController::sendOne(const Outgoing& file)
{
    if (!FileExists(file.path)) {
        SetStatus(506, {ansi(file.path)}, true);
        return Outcome::Failed;
    }
    // The name may come from the program's record (IsInfoProg).
    Channel().currentProgramCode = file.code;
    const QString name =
        file.remoteName.isEmpty() ? m_network.RemoteFileName(file.path) : file.remoteName;
    if (name.isEmpty()) {
        SetStatus(251, {}, true);
        return Outcome::Failed;
    }
    if (!m_overwriteAll && m_listing.FNHaveThisFile(name) &&
        !Prompt().askYesNo(
            kTitle, QStringLiteral("Fichier déjà existant. Voulez vous le remplacer ?"), false)) {
        SetStatus(251, {}, true);
        return Outcome::Declined;
    }
    const Settings& s = Config();
    const QString sendFile = Paths().sendFile;
    const QString companion = QStringLiteral(".dir");
    MakeFolders(QFileInfo(sendFile).absolutePath()); // a working folder is made again when lost
    bool copied = CopyScratchFile(file.path, sendFile);
    if (copied && s.ModeGestionBD == 1) {
        DeleteFolder(sendFile + companion);
        if (FolderExists(file.path + companion))
            copied = CopyFolder(file.path + companion, sendFile + companion);
    }
    if (!copied) {
        SetStatusWithReason(505, ansi(file.path));
        return Outcome::Failed;
    }
    // The operator answered above (or chose to replace everything).
    if (!m_network.PutRemoteFile(sendFile, name, false))
        return Outcome::Failed;
    if (s.ModeGestionBD == 1)
        m_network.PutCompanionFiles(sendFile, QFileInfo(name).completeBaseName(), false, false);
    // A second file of the batch under the same name is asked about too.
    if (!m_listing.FNHaveThisFile(name))
        m_listing.entries.append({RemoteEntry::File, name, QFileInfo(file.path).size(), {}});
    return Outcome::Done;
}

void ExplorerController::Delete(const QStringList& remoteNames)
{
    if (refuseDuringTransfer())
        return;
    setTransfer(true);
    const auto end = qScopeGuard([this] { setTransfer(false); });
    for (const QString& name : remoteNames) {
        if (State().stopRequested)
            break;
        if (!plainName(name))
            continue;
        if (m_listing.FNHaveThisFolder(name))
            m_network.DeleteRemoteFolder(name);
        else
            m_network.DeleteRemoteFile(name);
    }
    listRemote(QStringLiteral("."));
}

void ExplorerController::DeleteLocal(const QStringList& names)
{
    if (refuseDuringTransfer())
        return;
    for (const QString& name : names) {
        if (!plainName(name))
            continue;
        const QString path = localPath(name);
        if (FolderExists(path)) {
            SetStatus(259, {ansi(name)}, true);
            if (!DeleteFolder(path) || FolderExists(path))
                SetStatus(260, {ansi(name)}, true);
        } else {
            SetStatus(252, {ansi(name)}, true);
            if (!DeleteFile(path) || QFileInfo::exists(path))
                SetStatus(253, {ansi(name)}, true);
        }
    }
    listLocal();
}

void ExplorerController::PreviewRemote(const QString& name)
{
    if (!plainName(name) || m_listing.FNHaveThisFolder(name) || refuseDuringTransfer())
        return;
    qint64 size = 0;
    for (const RemoteEntry& e : m_listing.entries)
        if (e.TypeFD == RemoteEntry::File && e.Nom == name)
            size = e.size;
    const int methode = Config().Port.Methode;
    // Through TNCremo a big program takes too long to fetch for a glance.
    if ((methode == 17 || methode == 18) && size >= TncPreviewLimit) {
        m_remotePreview = {name, {}, true};
        if (m_window)
            m_window->previewChanged(true);
        return;
    }
    setTransfer(true);
    const auto end = qScopeGuard([this] { setTransfer(false); });
    SetStatus(264, {ansi(name)}, true);
    MakeFolders(Paths().tempFolder);
    const QString temp = Paths().tempFolder + QStringLiteral("TT_Apercu.txt");
    m_remotePreview = {name, {}, false};
    if (m_network.GetRemoteFile(name, temp))
        m_remotePreview = readPreview(temp, name);
    else
        SetStatus(261, {ansi(name)}, true);
    DeleteFile(temp);
    if (m_window)
        m_window->previewChanged(true);
}

void ExplorerController::PreviewLocal(const QString& name)
{
    if (!plainName(name) || FolderExists(localPath(name)))
        return;
    m_localPreview = readPreview(localPath(name), name);
    if (m_window)
        m_window->previewChanged(false);
}

void ExplorerController::PreviewProgram(qint32 code)
{
    const QString path = ProgramFilePath(ProgramTextPath, code);
    const QString called = fromAnsi(ReadProgramRecord(code).ProgAppel);
    m_localPreview = readPreview(path, called.isEmpty() ? QFileInfo(path).fileName() : called);
    if (m_window)
        m_window->previewChanged(false);
}

void ExplorerController::OpenRemote(const QString& folder)
{
    const bool navigation = folder == QLatin1String("..") || folder == QLatin1String(".");
    if ((!navigation && !plainName(folder)) || refuseDuringTransfer())
        return;
    if (listRemote(folder))
        SetStatus(263, {ansi(m_remoteFolder.isEmpty() ? QStringLiteral("/") : m_remoteFolder)});
}

void ExplorerController::OpenLocal(const QString& folder)
{
    if (folder == QLatin1String("..")) {
        QDir dir(m_localFolder);
        if (!dir.cdUp())
            return;
        m_localFolder = dir.absolutePath();
    } else {
        if (!plainName(folder) || !FolderExists(localPath(folder)))
            return;
        m_localFolder = QDir::cleanPath(localPath(folder));
    }
    listLocal();
}

void ExplorerController::NewRemoteFolder()
{
    if (refuseDuringTransfer())
        return;
    const QString name =
        Prompt().askText(kTitle, QStringLiteral("Nom du nouveau repertoire"), {}).trimmed();
    if (name.isEmpty())
        return;
    setTransfer(true);
    const auto end = qScopeGuard([this] { setTransfer(false); });
    m_network.CreateRemoteFolder(name); // 254, or 255 when refused
    listRemote(QStringLiteral("."));
}

void ExplorerController::NewLocalFolder()
{
    const QString name =
        Prompt().askText(kTitle, QStringLiteral("Nom du nouveau repertoire"), {}).trimmed();
    if (name.isEmpty())
        return;
    SetStatus(254, {ansi(name)}, true);
    if (!plainName(name) || !QDir(m_localFolder).mkdir(name))
        SetStatus(255, {ansi(name)}, true);
    listLocal();
}

bool ExplorerController::RenameRemote(const QString& from, const QString& to)
{
    if (refuseDuringTransfer())
        return false;
    if (from == to)
        return true;
    if (!plainName(from) || !plainName(to) || m_listing.FNHaveThisFile(to) ||
        m_listing.FNHaveThisFolder(to)) {
        SetStatus(257, {ansi(from)}, true);
        return false;
    }
    setTransfer(true);
    const auto end = qScopeGuard([this] { setTransfer(false); });
    const bool renamed = m_network.RenameRemoteFile(from, to); // 256, or 257
    listRemote(QStringLiteral("."));
    return renamed;
}

bool ExplorerController::RenameLocal(const QString& from, const QString& to)
{
    if (refuseDuringTransfer())
        return false;
    if (from == to)
        return true;
    if (!plainName(from) || !plainName(to) || !QFileInfo::exists(localPath(from)) ||
        QFileInfo::exists(localPath(to)) || !RenameFile(localPath(from), localPath(to))) {
        SetStatus(257, {ansi(from)}, true);
        return false;
    }
    SetStatus(256, {ansi(from), ansi(to)}, true);
    listLocal();
    return true;
}

void ExplorerController::RunCommand(int number, const QStringList& selection)
{
    const QString first = selection.value(0);
    const auto allRemote = [this] {
        QStringList names;
        for (const RemoteEntry& e : m_listing.entries)
            if (e.Nom != QLatin1String(".."))
                names.append(e.Nom);
        return names;
    };
    switch (number) {
    case 1:
        return Receive(selection);
    case 3:
        return NewRemoteFolder();
    case 4:
        return Delete(selection);
    case 5:
    case 9:
        if (m_window && !first.isEmpty())
            m_window->beginRename(number == 5, first);
        return;
    case 6:
        return NewLocalFolder();
    case 7:
        return DeleteLocal(selection);
    case 8:
        return Send(selection);
    case 10:
        return Receive(allRemote());
    case 11:
    case 14:
        if (!refuseDuringTransfer())
            SendPrograms(storeCodes(), number == 14);
        return;
    case 12:
        return Delete(allRemote());
    case 13:
        return PreviewRemote(first);
    case 15: {
        QStringList names;
        for (const LocalEntry& e : std::as_const(m_local))
            if (!e.folder)
                names.append(e.name);
        return Send(names);
    }
    default:
        return;
    }
}

void ExplorerController::RunToolbar(int button, const QStringList& remoteSelection,
                                    const QStringList& localSelection)
{
    switch (button) {
    case 1:
        refresh();
        notify("PROGACTIF");
        return;
    case 2:
        return Receive(remoteSelection);
    case 3:
        return Send(localSelection);
    case 4:
        // A new connection starts in the machine's first folder.
        m_remoteFolder.clear();
        return m_network.Disconnect();
    case 5:
        return refresh();
    default:
        return;
    }
}

void ExplorerController::RunFileTransfer(const FilesToTransfer& toSend,
                                         const FilesToTransfer& toReceive)
{
    if (refuseDuringTransfer())
        return;
    if (!toSend.isEmpty()) {
        QList<Outgoing> files;
        for (const FileToTransfer& f : toSend.items()) {
            if (f.isFolder)
                continue;
            const QString name = f.remoteName.isEmpty() ? f.NomFichier : f.remoteName;
            files.append({f.localPath, name, f.CodeProgFichier});
        }
        sendFiles(files);
    } else {
        QStringList names;
        for (const FileToTransfer& f : toReceive.items())
            if (!f.isFolder)
                names.append(f.remoteName);
        Receive(names);
    }
    refresh();
}

} // namespace nodalis
