#pragma once

namespace nodalis {

// Lets the process hold as many open files as the system allows it: each
// control client holds two descriptors, and services often start with a
// soft limit of 1024.
void RaiseOpenFileLimit();

// Keeps freed memory in the process, up to some megabytes, rather than
// giving it back to the system at once: during a send the line's batches
// are made and freed many times a second, and memory given back comes
// again one page fault at a time.
void KeepFreedMemory();

} // namespace nodalis
