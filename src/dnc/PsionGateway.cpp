#include "dnc/PsionGateway.h"

#include "dnc/EventMessages.h"
#include "dnc/PortEngine.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "dnc/ProgramSender.h"
#include "platform/AnsiText.h"
#include "platform/Clock.h"
#include "platform/SystemPaths.h"
#include "startup/AppPaths.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>

namespace nodalis {

namespace {

bool stopRequested()
{
    return State().stopRequested;
}

// A gateway folder as this system reaches it (a UNC name through UncRoot),
// without its trailing separator; empty when not set.
QString gatewayFolder(const QByteArray& setting)
{
    const QString text = fromAnsi(TrimSpaces(setting));
    if (text.isEmpty())
        return {};
    return QDir::cleanPath(ShareFolderPath(text, fromAnsi(TrimSpaces(Config().UncRoot))));
}

QString companionOf(const QString& path)
{
    return path + QStringLiteral(".dir");
}

// The first file of the folder whose name holds FROMPSION, in any case.
QString firstGatewayFile(const QString& folder)
{
    const QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name);
    for (const QString& name : names) {
        if (name.toUpper().contains(QLatin1String("FROMPSION")))
            return name;
    }
    return {};
}

} // namespace

PsionGateway::PsionGateway(PortEngine& engine, ProgramSender& sender)
    : m_engine(engine), m_sender(sender)
{
    MethodTable& table = m_engine.methods();
    PortMethod method;
    if (const PortMethod* own = table.find(9))
        method = *own;
    method.listen = [this] { ListenPsion(); };
    method.isReady = [this] { return PsionReadyToSend(); };
    method.send = [this] {
        if (SendToPsion(Paths().sendFile))
            return true;
        // Like every other sender: 907, and the channel idle again.
        m_sender.SendFailed();
        return false;
    };
    method.ownCompletion = false;
    method.returnToListening = [this, own = method.returnToListening] {
        m_returned = true;
        if (own)
            own();
    };
    table.plug({9}, method);
}

bool PsionGateway::TryDeleteFile(const QString& path)
{
    return DeleteFile(path);
}

bool PsionGateway::deleteInTheWay(const QString& path)
{
    const qint64 start = Clock::nowMs();
    while (FileExists(path) && !TryDeleteFile(path)) {
        if (Clock::nowMs() - start >= DeleteLimitMs) {
            SetStatus(253, {toAnsi(path)});
            return false;
        }
        Pause(PollMs);
        if (stopRequested())
            return false;
    }
    Pause(PollMs);
    return !stopRequested();
}

bool PsionGateway::SendToPsion(const QString& programFile)
{
    const Settings& s = Config();
    const QString folder = gatewayFolder(s.DefaultDirHostSend);
    if (!FolderExists(folder)) {
        SetStatus(855);
        return false;
    }
    m_sender.PreSendSteps(programFile, true);
    SetStatus(852);
    if (!FileExists(programFile))
        return false;
    // The gateway has not taken the previous program yet: this one replaces it.
    const QString target = folder + QStringLiteral("/ToPsion.txt");
    if (FileExists(target) && !deleteInTheWay(target))
        return false;
    if (!CopyFile(programFile, target)) {
        SetStatus(909, {toAnsi(target)});
        return false;
    }
    const QString companion = companionOf(programFile);
    if (s.ModeGestionBD == 1 && FolderExists(companion)) {
        const QString targetFolder = companionOf(target);
        if (FolderExists(targetFolder)) {
            DeleteFolder(targetFolder);
            Pause(PollMs);
            if (stopRequested())
                return false;
        }
        if (!CopyFolder(companion, targetFolder)) {
            SetStatus(909, {toAnsi(targetFolder)});
            return false;
        }
    }
    return true;
}

bool PsionGateway::PsionReadyToSend()
{
    // Only a wait of -n seconds in CheckModeRecep applies to a gateway.
    return m_sender.WaitBeforeSend();
}

void PsionGateway::ListenPsion()
{
    m_engine.SetPortState(ChannelListening);
    SetStatus(864);
    // A send made while the loop waits asks for listening again from inside
    // that wait: the loop already running goes on listening.
    if (m_listening)
        return;
    m_listening = true;
    const bool taken = TakeFromPsion(Paths().receptionFile);
    m_listening = false;
    if (!taken && !stopRequested()) {
        // Nothing was taken and the reception file may be an old one: there
        // is nothing to examine. The relaunch timer listens again.
        m_engine.SetPortState(ChannelIdle);
        return;
    }
    m_returned = false;
    m_engine.Examine();
    if (!m_returned)
        m_engine.ReturnToListening();
}

bool PsionGateway::TakeFromPsion(const QString& receptionFile)
{
    const QString folder = gatewayFolder(Config().DefaultDirHostReceiv);
    if (!FolderExists(folder)) {
        SetStatus(856);
        return false;
    }
    if (FileExists(receptionFile) && !deleteInTheWay(receptionFile))
        return false;
    if (Config().ModeGestionBD == 1)
        DeleteFolder(companionOf(receptionFile));
    // The folder is looked at every 200 ms, and at once when the system
    // tells of a change in it.
    QFileSystemWatcher watcher({folder});
    bool changed = false;
    QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged,
                     [&changed] { changed = true; });
    for (;;) {
        DoEvents();
        if (stopRequested())
            return false;
        const QString name = firstGatewayFile(folder);
        if (!name.isEmpty())
            return takeFile(folder, name, receptionFile);
        WaitUntil(changed, PollMs);
        changed = false;
    }
}

bool PsionGateway::takeFile(const QString& folder, const QString& name,
                            const QString& receptionFile)
{
    const QString source = folder + QLatin1Char('/') + name;
    m_engine.SetPortState(ChannelReceiving);
    SetStatus(851);
    Pause(SettleMs);
    if (stopRequested())
        return false;
    const QString sourceFolder = companionOf(source);
    const QString targetFolder = companionOf(receptionFile);
    const bool withFolder = Config().ModeGestionBD == 1 && FolderExists(sourceFolder);
    MakeFolders(QFileInfo(receptionFile).absolutePath());
    // The gateway's file goes only once its copy is whole: a failed copy
    // leaves it for the next cycle.
    if (!CopyFile(source, receptionFile)) {
        SetStatus(858, {toAnsi(name)});
        return true;
    }
    if (withFolder && !CopyFolder(sourceFolder, targetFolder)) {
        DeleteFile(receptionFile);
        DeleteFolder(targetFolder);
        SetStatus(858, {toAnsi(companionOf(name))});
        return true;
    }
    Pause(PollMs);
    if (stopRequested()) {
        // A stop drops what was taken; the gateway still has it.
        DeleteFile(receptionFile);
        DeleteFolder(targetFolder);
        return false;
    }
    deleteGatewayFile(source);
    if (withFolder)
        DeleteFolder(sourceFolder);
    return true;
}

void PsionGateway::deleteGatewayFile(const QString& path)
{
    for (int tries = 0; tries < GatewayDeleteTries && FileExists(path); ++tries) {
        if (TryDeleteFile(path))
            return;
        Pause(PollMs);
        if (stopRequested())
            break;
    }
    if (FileExists(path))
        SetStatus(857, {toAnsi(path)});
}

} // namespace nodalis
