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

private:
    ServerHost* m_host;
    std::unique_ptr<SingleInstance> m_lock;
};

} // namespace nodalis
