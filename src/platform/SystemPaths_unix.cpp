#include "platform/SystemPaths.h"

#include <QDir>

namespace nodalis {

Qt::CaseSensitivity FileNameCase()
{
    return Qt::CaseSensitive;
}

QString SettingPathText(const QString& path)
{
    QString text = path;
    return text.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

QString ShareFolderPath(const QString& path, const QString& uncRoot)
{
    QString text = SettingPathText(path);
    if (!text.startsWith(QLatin1String("//")))
        return text;
    QString root = SettingPathText(uncRoot);
    while (root.endsWith(QLatin1Char('/')))
        root.chop(1);
    return root + text.mid(1);
}

QString OrvaRoot()
{
    return QDir::homePath() + QStringLiteral("/Orva/");
}

} // namespace nodalis
