#include "startup/AppPaths.h"

#include "platform/SystemPaths.h"

#include <QDir>

namespace nodalis {

namespace {

QString withSeparator(const QString& folder)
{
    return folder.endsWith(QDir::separator()) ? folder : folder + QDir::separator();
}

QString under(const QString& base, const QString& relative)
{
    return QDir::toNativeSeparators(withSeparator(base) + relative);
}

} // namespace

void AppPaths::setBaseFolder(const QString& folder)
{
    baseFolder = QDir::toNativeSeparators(folder);
    while (baseFolder.size() > 1 && baseFolder.endsWith(QDir::separator()))
        baseFolder.chop(1);
    configPath = under(baseFolder, QStringLiteral("Nodalis.ini"));
    tempFolder = under(baseFolder, QStringLiteral("Temp/"));
    depFolder = under(baseFolder, QStringLiteral("DepFiles/"));
    sendFile = under(baseFolder, QStringLiteral("Send/ToCN.txt"));
    receptionFile = under(baseFolder, QStringLiteral("Receiv/FromCN.txt"));
    preCallCheckFile = tempFolder + QStringLiteral("ChkReceivBeforeAppel.txt");
    logFolder = under(baseFolder, QStringLiteral("LogFiles/"));
    trackingFolder = under(baseFolder, QStringLiteral("Suivi/"));
    journalFolder = OrvaFixedFolder(QStringLiteral("Talmiron/JournalProg/"));
}

AppPaths& Paths()
{
    static AppPaths paths;
    return paths;
}

bool IsUnderRuzavar(const QString& path)
{
    const QString sep = QDir::separator();
    QString p = QDir::toNativeSeparators(path).toUpper();
    if (!p.endsWith(sep))
        p += sep;
    return p.contains(sep + QStringLiteral("RUZAVAR") + sep);
}

QString OrvaFixedFolder(const QString& relative)
{
    return QDir::toNativeSeparators(OrvaRoot() + relative);
}

QString DefaultBaseFolder(const QString& applicationFolder)
{
    if (IsUnderRuzavar(applicationFolder))
        return OrvaFixedFolder(QStringLiteral("Talmiron/Nodalis/HURCO"));
    return QDir::toNativeSeparators(applicationFolder);
}

} // namespace nodalis
