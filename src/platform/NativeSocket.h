#pragma once

#include <QtGlobal>

namespace nodalis {

// A socket handle of the system, as libraries that open their own hand them out.

// Shuts both directions down: whoever waits on the socket learns at once
// that nothing more will come.
void ShutdownSocket(qintptr socket);
// Closes the handle; 0 on success, as the system's own call.
int CloseSocket(qintptr socket);

} // namespace nodalis
