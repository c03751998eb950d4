#include "support/ProcessReset.h"

#include "dnc/ProcessState.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"

namespace nodalis {

void ResetProcessState(const QString& baseFolder)
{
    Config() = Settings();
    Paths() = AppPaths();
    Paths().setBaseFolder(baseFolder);
    ProcessState& process = Process();
    ProcessState fresh;
    fresh.view = process.view;
    fresh.notifier = process.notifier;
    process = fresh;
}

} // namespace nodalis
