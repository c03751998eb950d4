// nodalis: DNC server for one machine tool.
//
// This program holds no widgets, so a headless server (a service, a
// stand-alone send from a script) starts without loading them. Where a
// window is wanted it hands over to nodalis-window, the same server with its
// window.

#include "app/ServerMain.h"
#include "platform/ProgramSwitch.h"

#include <cstdio>

int main(int argc, char** argv)
{
    using namespace nodalis;
    if (!ArgumentsAskHeadless(argc, argv)) {
        const QByteArray failure = RunInstead("nodalis-window", argc, argv);
        std::fprintf(stderr, "nodalis: no window (%s); serving without one\n", failure.constData());
    }
    return ServerMain(argc, argv, nullptr);
}
