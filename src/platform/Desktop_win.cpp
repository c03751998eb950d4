#include "platform/Desktop.h"

#include <QDir>
#include <QProcess>

namespace nodalis {

bool DisplayAvailable()
{
    return true;
}

void OpenInEditor(const QString& path)
{
    QProcess::startDetached(QStringLiteral("notepad.exe"), {QDir::toNativeSeparators(path)});
}

} // namespace nodalis
