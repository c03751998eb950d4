#pragma once

#include <QString>

namespace nodalis {

// Start-with-the-system registration: the Run key of the machine on
// Windows, an XDG autostart entry elsewhere. The entry is named after the
// machine reference so that several servers of one workstation each have
// their own. Returns false when the entry could not be written.
bool RegisterAutoStart(const QString& entryName, const QString& executable,
                       const QString& baseFolder);

// Where the entry of that name lives (a registry path on Windows).
QString AutoStartLocation(const QString& entryName);

} // namespace nodalis
