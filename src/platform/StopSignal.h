#pragma once

namespace nodalis {

// Turns the system's polite stop requests (SIGTERM, SIGINT, SIGHUP; console
// close on Windows) into a call of the handler on the event-loop thread, so
// that a service manager's stop ends the server as its own stop command does.
void InstallStopSignalHandler(void (*handler)());

} // namespace nodalis
