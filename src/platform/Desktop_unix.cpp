#include "platform/Desktop.h"

#include <QProcess>

namespace nodalis {

bool DisplayAvailable()
{
    // The offscreen and minimal platforms draw nowhere: nobody could answer a dialog.
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        return false;
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
           !platform.isEmpty();
}

void OpenInEditor(const QString& path)
{
    QProcess::startDetached(QStringLiteral("xdg-open"), {path});
}

} // namespace nodalis
