#include "server/PathSetup.h"

#include "dnc/EventMessages.h"
#include "dnc/ProcessState.h"
#include "platform/AnsiText.h"
#include "platform/AutoStart.h"
#include "platform/HostIdentity.h"
#include "platform/OperatorPrompt.h"
#include "startup/AppPaths.h"
#include "startup/ConfigLoader.h"
#include "startup/IniFile.h"
#include "startup/Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace nodalis {

namespace {

void writeIdentity(const AppPaths& paths)
{
    const HostIdentity id = ReadHostIdentity();
    const auto write = [&paths](const QByteArray& key, const QByteArray& value) {
        // Written again at every start: not worth waiting for the disk.
        WriteIni(paths.configPath, QByteArrayLiteral("NODALIS"), key, value, IniFlush::ToSystem);
    };
    write(QByteArrayLiteral("PID"), QByteArray::number(id.processId));
    write(QByteArrayLiteral("IPserver"), toAnsi(id.localAddress));
    write(QByteArrayLiteral("HostName"), toAnsi(id.hostName));
    write(QByteArrayLiteral("LocalPathDir"), toAnsi(paths.baseFolder));
}

void registerFirstRun(const QString& applicationFolder, const QString& executable)
{
    Settings& s = Config();
    if (!s.FirstExe || IsUnderRuzavar(applicationFolder))
        return;
    const QString name = s.RefMO.isEmpty() ? QStringLiteral("Nodalis") : fromAnsi(s.RefMO);
    // A failed registration is not worth stopping the server for.
    RegisterAutoStart(name, executable, Paths().baseFolder);
    WriteIni(Paths().configPath, QByteArrayLiteral("NODALIS"), QByteArrayLiteral("FirstExe"),
             QByteArrayLiteral("0"));
}

} // namespace

bool PathSetup(const QString& applicationFolder, const QString& baseFolder,
               const QString& executable)
{
    AppPaths& paths = Paths();
    paths.applicationFolder = QDir::toNativeSeparators(applicationFolder);
    paths.setBaseFolder(baseFolder);
    if (!LoadConfiguration(paths.configPath)) {
        if (IsHeadless()) {
            const QFileInfo file(paths.configPath);
            std::fprintf(stderr, "nodalis: %s %s\n",
                         file.exists() ? "cannot read" : "no configuration file",
                         qPrintable(QDir::toNativeSeparators(file.absoluteFilePath())));
        }
        return false;
    }
    registerFirstRun(applicationFolder, executable);
    QCoreApplication::setApplicationName(QStringLiteral("Nodalis ") + fromAnsi(Config().RefMO));
    writeIdentity(paths);
    QDir().mkpath(paths.tempFolder);
    Channel().reset();
    State().stopRequested = false;
    SetStatus(901);
    return true;
}

} // namespace nodalis
