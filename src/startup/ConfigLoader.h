#pragma once

#include "startup/Settings.h"

#include <QString>
#include <QStringList>

namespace nodalis {

// Outcome of a configuration load: whether the file could be read at all,
// and the keys whose text could not be converted (each left at its default).
struct ConfigLoadResult
{
    bool loaded = false;
    QStringList problems;
};

// Reads every setting of the file into settings. Missing sections and keys
// take their defaults; a value that cannot be converted is listed in
// problems and leaves its setting at the default.
ConfigLoadResult ReadConfiguration(const QString& path, Settings& settings);

// Start-up's load into the process-wide settings: tells the operator when
// the file is missing or a value is unusable. False when the file is missing.
bool LoadConfiguration(const QString& path);

} // namespace nodalis
