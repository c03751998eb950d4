#include "platform/ProcessLimits.h"

namespace nodalis {

void RaiseOpenFileLimit()
{
    // Sockets and files are handles here, without a per-process soft limit.
}

} // namespace nodalis
