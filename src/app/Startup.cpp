#include "app/Startup.h"
#include "dnc/ReceptionFile.h"

#include "dnc/ProcessState.h"
#include "platform/AnsiText.h"
#include "platform/OperatorPrompt.h"
#include "platform/SiblingApp.h"
#include "platform/SingleInstance.h"
#include "server/PathSetup.h"
#include "server/ServerHost.h"
#include "startup/AppPaths.h"
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

// Stand-alone mode: the file named on the command line becomes the send file.
bool takeCommandLineFile(const QString& file)
{
    if (file.isEmpty() || !QFileInfo(file).isFile())
        return false;
    const QString& send = Paths().sendFile;
    MakeFolders(FolderOf(send));
    DeleteFile(send);
    return CopyScratchFile(file, send);
}

} // namespace

Startup::Startup(ServerHost* host) : m_host(host) {}
Startup::~Startup() = default;

StartOutcome Startup::Main(const QString& baseFolder, const QString& file)
{
    const QString applicationFolder = QCoreApplication::applicationDirPath();
    const QString base = baseFolder.isEmpty() ? DefaultBaseFolder(applicationFolder)
                                              : QFileInfo(baseFolder).absoluteFilePath();

    m_lock = std::make_unique<SingleInstance>(base);
    if (!m_lock->acquire()) {
        Prompt().showMessage(QString(), QStringLiteral("Le Nodalis est déjà en exécution"),
                             OperatorPrompt::Icon::Information);
        if (IsHeadless())
            std::fprintf(stderr, "nodalis: %s is already served by process %lld\n",
                         qPrintable(QDir::toNativeSeparators(base)), m_lock->holder());
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
    } else if (s.DncAppMode == 1) {
        // Stand-alone with an FTP machine: the operator works in the
        // explorer of its files.
        if (m_host)
            m_host->ShowExplorerSoon();
    } else if (s.DncAppMode == 2) {
        s.DataAccess = 0;
        s.ModeGestionBD = 0;
        if (m_window)
            m_window->LoadIcones();
    }
    Paths().siblingFolder = SiblingInstallFolder();
    Paths().siblingTempFolder =
        Paths().siblingFolder.isEmpty()
            ? QString()
            : Paths().siblingFolder + QStringLiteral("Temp") + QDir::separator();
    if (s.IconTray && m_window)
        m_window->AddTrayIcon();

    // A reception the previous run did not finish is kept, never overwritten.
    ReceptionFile::KeepInterrupted();
    if (m_host)
        m_host->ConnectNetworkSoon();
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
