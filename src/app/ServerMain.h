#pragma once

#include <QCoreApplication>

#include <memory>

namespace nodalis {

class ServerHost;
class Startup;

// What the window program adds to the server: the widget application, the
// window and its dialogs. The headless program runs without one and so never
// loads a widget library.
class WindowSide
{
public:
    virtual ~WindowSide() = default;
    virtual std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv) = 0;
    // Makes the window (hidden) and the dialogs, and hands them to the server.
    virtual void attach(ServerHost& host, Startup& startup) = 0;
    // Takes them back before the server goes.
    virtual void detach() = 0;
};

// True when the command line or the session asks for no window.
bool ArgumentsAskHeadless(int argc, char** argv);

// Runs the server to its end and gives the exit code. Without a window side
// it is headless whatever the session.
int ServerMain(int argc, char** argv, WindowSide* window);

} // namespace nodalis
