#include "startup/Startup.h"

#include "dnc/EventMessages.h"
#include "dnc/PortState.h"
#include "platform/AnsiText.h"
#include "platform/AutoStart.h"
#include "platform/HostIdentity.h"
#include "platform/OperatorPrompt.h"
#include "platform/SiblingApp.h"
#include "platform/SingleInstance.h"
#include "server/ServerHost.h"
#include "startup/AppPaths.h"
#include "startup/ConfigLoader.h"
#include "startup/IniFile.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"
#include "store/TextUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace nodalis {

namespace {

// Methods whose channel is reached through the FTP explorer in stand-alone mode.
constexpr qint32 kMethodeFtp = 4;

void writeIdentity(const AppPaths& paths)
{
    const HostIdentity id = ReadHostIdentity();
    const QString& ini = paths.configPath;
    const QByteArray section = QByteArrayLiteral("NODALIS");
    WriteIni(ini, section, QByteArrayLiteral("PID"), QByteArray::number(id.processId));
    WriteIni(ini, section, QByteArrayLiteral("IPserver"), toAnsi(id.localAddress));
    WriteIni(ini, section, QByteArrayLiteral("HostName"), toAnsi(id.hostName));
    WriteIni(ini, section, QByteArrayLiteral("LocalPathDir"), toAnsi(paths.baseFolder));
}

void registerFirstRun(const QString& applicationFolder, const QString& executable)
{
    Settings& s = Config();
    if (!s.FirstExe || IsUnderRuzavar(applicationFolder))
        return;
    const QString name =
        s.RefMO.isEmpty() ? QStringLiteral("Nodalis") : fromAnsi(s.RefMO);
    // A failed registration is not worth stopping the server for.
    RegisterAutoStart(name, executable, Paths().baseFolder);
    WriteIni(Paths().configPath, QByteArrayLiteral("NODALIS"), QByteArrayLiteral("FirstExe"),
             QByteArrayLiteral("0"));
}

// Stand-alone mode: the file named on the command line becomes the send file.
bool takeCommandLineFile(const QString& file)
{
    if (file.isEmpty() || !QFileInfo(file).isFile())
        return false;
    const QString& send = Paths().sendFile;
    MakeFolders(FolderOf(send));
    DeleteFile(send);
    return CopyFile(file, send);
}

} // namespace

ServerState& State()
{
    static ServerState state;
    return state;
}

Startup::Startup(ServerHost* host) : m_host(host) {}
Startup::~Startup() = default;

bool Startup::PathSetup(const QString& applicationFolder, const QString& baseFolder,
                        const QString& executable)
{
    AppPaths& paths = Paths();
    paths.applicationFolder = QDir::toNativeSeparators(applicationFolder);
    paths.setBaseFolder(baseFolder);
    if (!LoadConfiguration(paths.configPath))
        return false;
    registerFirstRun(applicationFolder, executable);
    QCoreApplication::setApplicationName(QStringLiteral("Nodalis ") + fromAnsi(Config().RefMO));
    writeIdentity(paths);
    QDir().mkpath(paths.tempFolder);
    Channel().reset();
    State().stopRequested = false;
    SetStatus(901);
    return true;
}

StartOutcome Startup::Main(const QString& baseFolder, const QString& file)
{
    const QString applicationFolder = QCoreApplication::applicationDirPath();
    const QString base = baseFolder.isEmpty() ? DefaultBaseFolder(applicationFolder)
                                              : QFileInfo(baseFolder).absoluteFilePath();

    m_lock = std::make_unique<SingleInstance>(base);
    if (!m_lock->acquire()) {
        Prompt().showMessage(QString(), QStringLiteral("Le Nodalis est déjà en exécution"),
                             OperatorPrompt::Icon::Information);
        return {false, ExitAlreadyRunning};
    }

    State() = ServerState();
    if (!PathSetup(applicationFolder, base, QCoreApplication::applicationFilePath()))
        return {false, ExitConfigError};

    Settings& s = Config();
    if (m_window)
        m_window->setCaption(QStringLiteral("DNC Server ") + fromAnsi(s.RefMO));
    if (m_host)
        m_host->ApplySettings();
    if ((s.DncAppMode == 0 || s.DncAppMode == 2) && m_host)
        m_host->OpenControlLink();
    if (s.DncAppMode == 1 && s.Port.Methode != kMethodeFtp) {
        s.DataAccess = 0;
        s.ModeGestionBD = 0;
        State().sendAtStart = takeCommandLineFile(file);
        if (m_window) {
            m_window->LoadIcones();
            m_window->showWindow();
        }
        if (State().sendAtStart && m_host) {
            // Stand-alone with a program named: send it, and that is all.
            const bool sent = m_host->SendAndReturn();
            return {false, sent ? 0 : ExitSendFailed};
        }
    } else if (s.DncAppMode == 2) {
        s.DataAccess = 0;
        s.ModeGestionBD = 0;
        if (m_window)
            m_window->LoadIcones();
    }
    Paths().siblingFolder = SiblingInstallFolder();
    Paths().siblingTempFolder =
        Paths().siblingFolder.isEmpty() ? QString()
                                        : Paths().siblingFolder + QStringLiteral("Temp") +
                                              QDir::separator();
    if (s.IconTray && m_window)
        m_window->AddTrayIcon();

    if (s.IsModeEcoute && m_host) {
        m_host->StartListeningSoon();
        m_host->LoadCurrentProgram();
    }

    if (State().quitAtStart)
        return {false, 0};

    std::printf("Nodalis %s: serving from %s (pid %lld)\n", s.RefMO.constData(),
                qPrintable(Paths().baseFolder), QCoreApplication::applicationPid());
    std::fflush(stdout);
    return {true, 0};
}

} // namespace nodalis
