#include "dnc/ProcessState.h"

#include "dnc/MachineSpecifics.h"
#include "dnc/ServerView.h"

namespace nodalis {

ProcessState& Process()
{
    static ProcessState state;
    return state;
}

ServerState& State()
{
    return Process().server;
}

PortState& Channel()
{
    return Process().channel;
}

EventState& Events()
{
    return Process().events;
}

LibraryPortState& LibraryPort()
{
    return Process().libraryPort;
}

QByteArray& ChannelChecksum()
{
    return Process().channelChecksum;
}

qint32& CurrentUploadCode()
{
    return Process().currentUploadCode;
}

ServerView& View()
{
    static HeadlessView headless;
    ServerView* view = Process().view;
    return view ? *view : headless;
}

void SetView(ServerView* view)
{
    Process().view = view;
}

InfoNotifier* Notifier()
{
    return Process().notifier;
}

void SetNotifier(InfoNotifier* notifier)
{
    Process().notifier = notifier;
}

} // namespace nodalis
