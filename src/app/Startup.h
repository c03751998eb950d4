#pragma once

#include "server/StartupWindow.h"

#include <QString>

#include <memory>

namespace nodalis {

class ServerHost;
class SingleInstance;

// Status of a start-up: go on into the event loop, or end with this exit code.
struct StartOutcome
{
    bool keepRunning = false;
    int exitCode = 0;
};

// The start-up sequence of the server.
class Startup
{
public:
    static constexpr int ExitConfigError = 1;
    static constexpr int ExitAlreadyRunning = 2;
    static constexpr int ExitSendFailed = 3;

    // The whole sequence up to the event loop. baseFolder may be empty (the
    // executable's folder); file is the command line's program file.
    StartOutcome Main(const QString& baseFolder, const QString& file);

    // host owns the control link; none: the link is not opened.
    explicit Startup(ServerHost* host = nullptr);
    ~Startup();

    // The window start-up creates hidden, titles, shows and gives a tray icon.
    void setWindow(StartupWindow* window) { m_window = window; }

private:
    ServerHost* m_host;
    StartupWindow* m_window = nullptr;
    std::unique_ptr<SingleInstance> m_lock;
};

} // namespace nodalis
