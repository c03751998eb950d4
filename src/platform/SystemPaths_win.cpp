#include "platform/SystemPaths.h"

namespace nodalis {

Qt::CaseSensitivity FileNameCase()
{
    return Qt::CaseInsensitive;
}

QString SettingPathText(const QString& path)
{
    return path;
}

QString ShareFolderPath(const QString& path, const QString&)
{
    // Windows reaches \\host\share itself.
    return path;
}

QString OrvaRoot()
{
    return QStringLiteral("C:/Orva/");
}

} // namespace nodalis
