#include "app/ServerMain.h"

#include "app/CommandLine.h"
#include "app/Startup.h"
#include "dnc/ProcessState.h"
#include "platform/Desktop.h"
#include "platform/OperatorPrompt.h"
#include "platform/ProcessLimits.h"
#include "platform/StopSignal.h"
#include "server/ServerHost.h"
#include "startup/AppPaths.h"
#include "startup/ConfigCheck.h"
#include "startup/ConfigLoader.h"
#include "startup/SettingsDump.h"

#include <QFileInfo>

#include <cstdio>

namespace nodalis {

namespace {

// The server a stop signal stops; none before it exists.
ServerHost* g_host = nullptr;

int checkConfig(const QString& path)
{
    Settings settings;
    const ConfigLoadResult result = ReadConfiguration(path, settings);
    if (!result.loaded) {
        std::fprintf(stderr, "%s\n", "Problème durant l'ouverture du fichier Nodalis.ini");
        return Startup::ExitConfigError;
    }
    const QByteArray dump = DumpSettings(settings);
    std::fwrite(dump.constData(), 1, std::size_t(dump.size()), stdout);
    std::fflush(stdout);
    bool failed = false;
    for (const ConfigFinding& finding : CheckConfiguration(path, settings)) {
        std::fprintf(stderr, "%s\n", qPrintable(finding.text));
        failed = failed || finding.error;
    }
    // The check judges every value the loader converts; should it miss one
    // the loader could not use, the loader's word still counts.
    if (!failed) {
        for (const QString& problem : result.problems)
            std::fprintf(stderr, "%s\n", qPrintable(problem));
    }
    return failed || !result.problems.isEmpty() ? Startup::ExitConfigError : 0;
}

} // namespace

bool ArgumentsAskHeadless(int argc, char** argv)
{
    bool window = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--headless" || arg == "--check-config" || arg == "--help" || arg == "-h" ||
            arg == "--version")
            return true;
        window = window || arg == "--window";
    }
    return !window && !DisplayAvailable();
}

int ServerMain(int argc, char** argv, WindowSide* window)
{
    if (ArgumentsAskHeadless(argc, argv))
        window = nullptr;
    std::unique_ptr<QCoreApplication> app = window ? window->makeApplication(argc, argv)
                                                   : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(NODALIS_VERSION));

    const CommandLine cl = CommandLine::Parse(QCoreApplication::arguments());
    if (!cl.error.isEmpty()) {
        std::fprintf(stderr, "nodalis: %s\n\n%s", qPrintable(cl.error),
                     qPrintable(CommandLine::Usage()));
        return 64;
    }
    if (cl.showHelp) {
        std::printf("%s", qPrintable(CommandLine::Usage()));
        return 0;
    }
    if (cl.showVersion) {
        std::printf("nodalis %s\n", NODALIS_VERSION);
        return 0;
    }

    SetHeadless(!window || cl.headless);
    RaiseOpenFileLimit();
    KeepFreedMemory();

    if (cl.checkConfig) {
        AppPaths paths;
        paths.setBaseFolder(cl.baseFolder.isEmpty()
                                ? DefaultBaseFolder(QCoreApplication::applicationDirPath())
                                : QFileInfo(cl.baseFolder).absoluteFilePath());
        return checkConfig(paths.configPath);
    }

    // Installed first: a stop asked for during start-up ends the server
    // as soon as its event loop runs. A service manager's stop is the
    // server's own stop command: event 902, clients told, ports closed.
    InstallStopSignalHandler([] {
        if (g_host) {
            g_host->ArretNodalis();
            return;
        }
        State().stopRequested = true;
        QCoreApplication::exit(0);
    });
    ServerHost host;
    g_host = &host;
    Startup startup(&host);
    // The window exists, hidden, from here to the end; start-up decides
    // whether it shows.
    if (window)
        window->attach(host, startup);
    const StartOutcome outcome = startup.Main(cl.baseFolder, cl.file);
    int code = outcome.exitCode;
    if (outcome.keepRunning)
        code = State().stopRequested ? 0 : QCoreApplication::exec();
    g_host = nullptr;
    if (window)
        window->detach();
    return code;
}

} // namespace nodalis
