#pragma once

#include <QString>
#include <Qt>

namespace nodalis {

// File names differ by case on this system or not.
Qt::CaseSensitivity FileNameCase();

// A path written Windows-style in a setting ("C:\Data\") as this system
// reads it: backslashes become the separator off Windows.
QString SettingPathText(const QString& path);

// A shared folder's path as this system reaches it: off Windows a UNC name
// "\\host\share\dir" is the share mounted under uncRoot ("<uncRoot>/host/
// share/dir"); any other path as SettingPathText gives it.
QString ShareFolderPath(const QString& path, const QString& uncRoot);

// Root of the suite's fixed folders: C:/Orva/ on Windows, ~/Orva/ elsewhere.
QString OrvaRoot();

} // namespace nodalis
