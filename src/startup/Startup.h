#pragma once

#include <QString>

#include <memory>

namespace nodalis {

class ServerHost;
class SingleInstance;

// Flags of the running server that start-up sets and every long operation reads.
struct ServerState
{
    bool stopRequested = false; // a stop has been asked for; wait loops end at their next step
    bool quitAtStart = false;   // the window was unloaded during start-up
    bool sendAtStart = false;   // stand-alone: the command-line file waits in the send file
};

ServerState& State();

// Status of a start-up: go on into the event loop, or end with this exit code.
struct StartOutcome
{
    bool keepRunning = false;
    int exitCode = 0;
};

// What start-up does with the server window. A run without a window has none;
// the core never sees the widgets behind it.
class StartupWindow
{
public:
    virtual ~StartupWindow() = default;

    virtual void setCaption(const QString& title) = 0;
    // Loads the window's pictures (background and command buttons).
    virtual void LoadIcones() = 0;
    virtual void showWindow() = 0;
    // Adds the notification-area icon, its tooltip and its quit entry.
    virtual void AddTrayIcon() = 0;
};

// The start-up sequence of the server.
class Startup
{
public:
    static constexpr int ExitConfigError = 1;
    static constexpr int ExitAlreadyRunning = 2;
    static constexpr int ExitSendFailed = 3;

    // Sets the working paths under the base folder, loads the configuration,
    // registers the start with the system on a first run and publishes the
    // server's identity in Nodalis.ini. False when the configuration is missing.
    static bool PathSetup(const QString& applicationFolder, const QString& baseFolder,
                          const QString& executable);

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
