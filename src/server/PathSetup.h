#pragma once

#include <QString>

namespace nodalis {

// Sets the working paths under the base folder, loads the configuration,
// registers the start with the system on a first run and publishes the
// server's identity in Nodalis.ini. False when the configuration is missing.
// Start-up runs it first, the REINIT command again.
bool PathSetup(const QString& applicationFolder, const QString& baseFolder,
               const QString& executable);

} // namespace nodalis
