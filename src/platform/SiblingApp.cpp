#include "platform/SiblingApp.h"

#include <QDir>
#include <QSettings>

namespace nodalis {

QString SiblingInstallFolder()
{
#ifdef Q_OS_WIN
    QSettings key(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\MERIDOT\\ORVA\\TALMIRON"),
                  QSettings::NativeFormat);
    QString path = key.value(QStringLiteral("AppPath")).toString().trimmed();
#else
    QString path = qEnvironmentVariable("NODALIS_SIBLING_PATH").trimmed();
#endif
    if (path.isEmpty())
        return {};
    path = QDir::toNativeSeparators(path);
    if (!path.endsWith(QDir::separator()))
        path += QDir::separator();
    return path;
}

} // namespace nodalis
