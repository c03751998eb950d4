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

QString OrvaRoot()
{
    return QDir::homePath() + QStringLiteral("/Orva/");
}

} // namespace nodalis
