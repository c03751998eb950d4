#include "platform/ProcessLimits.h"

#include <sys/resource.h>

namespace nodalis {

void RaiseOpenFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max)
        return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit); // a refusal leaves the limit as it was
}

} // namespace nodalis
