#pragma once

namespace nodalis {

// Lets the process hold as many open files as the system allows it: each
// control client holds two descriptors, and services often start with a
// soft limit of 1024.
void RaiseOpenFileLimit();

} // namespace nodalis
