#include "platform/AutoStart.h"
#include "platform/FileSync.h"

#include <QDir>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

namespace nodalis {

#ifdef Q_OS_WIN

namespace {
const QString kRunKey =
    QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN");
}

QString AutoStartLocation(const QString& entryName)
{
    return kRunKey + QLatin1Char('\\') + entryName;
}

bool RegisterAutoStart(const QString& entryName, const QString& executable, const QString&)
{
    QSettings run(kRunKey, QSettings::NativeFormat);
    run.setValue(entryName, QDir::toNativeSeparators(executable));
    run.sync();
    return run.status() == QSettings::NoError;
}

#else

namespace {

QString desktopQuoted(const QString& arg)
{
    QString quoted = arg;
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    quoted.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString safeFileName(const QString& name)
{
    QString safe;
    for (QChar c : name)
        safe.append(c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_')
                        ? c
                        : QLatin1Char('_'));
    return safe;
}

} // namespace

QString AutoStartLocation(const QString& entryName)
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return config + QStringLiteral("/autostart/nodalis-") + safeFileName(entryName) +
           QStringLiteral(".desktop");
}

bool RegisterAutoStart(const QString& entryName, const QString& executable,
                       const QString& baseFolder)
{
    const QString path = AutoStartLocation(entryName);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Nodalis %1\n"
                                         "Exec=%2 --base %3\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(entryName, desktopQuoted(executable), desktopQuoted(baseFolder));
    file.write(entry.toUtf8());
    return CommitWhole(file);
}

#endif

} // namespace nodalis
