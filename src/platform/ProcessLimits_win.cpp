#include "platform/ProcessLimits.h"

namespace nodalis {

void RaiseOpenFileLimit()
{
    // Sockets and files are handles here, without a per-process soft limit.
}

void KeepFreedMemory()
{
    // The system heap keeps freed blocks for the process already.
}

} // namespace nodalis
