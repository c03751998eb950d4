#pragma once

#include <QtGlobal>

namespace nodalis {

// True while a process of that identifier exists.
bool ProcessExists(qint64 pid);

// Waits, without time limit but letting events run, until the process ends.
void WaitForProcess(qint64 pid);

} // namespace nodalis
