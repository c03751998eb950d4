#include "platform/ProcessLimits.h"

#include <sys/resource.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace nodalis {

void RaiseOpenFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max)
        return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit); // a refusal leaves the limit as it was
}

void KeepFreedMemory()
{
#if defined(__GLIBC__)
    // Blocks up to 4 MB (a chunk of a program, a batch for the line) come
    // from the heap, whose free top is given back beyond 16 MB only.
    ::mallopt(M_MMAP_THRESHOLD, 4 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 16 << 20);
    ::mallopt(M_TOP_PAD, 1 << 20);
#endif
}

} // namespace nodalis
