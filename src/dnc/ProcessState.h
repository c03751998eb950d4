#pragma once

#include "dnc/EventMessages.h"
#include "dnc/LibraryPort.h"
#include "dnc/PortState.h"
#include "dnc/WorkGate.h"

#include <QByteArray>
#include <QtGlobal>

namespace nodalis {

class InfoNotifier;
class ServerView;

// Flags of the running server that start-up sets and every long operation reads.
struct ServerState
{
    bool stopRequested = false; // a stop has been asked for; wait loops end at their next step
    bool quitAtStart = false;   // the window was unloaded during start-up
    bool sendAtStart = false;   // stand-alone: the command-line file waits in the send file
};

// Everything one server keeps between events for its channel, in one place.
// The configuration (Config(), Paths()) sits a layer below, with the loader.
// The accessors State(), Channel(), Events(), LibraryPort(), ChannelChecksum(),
// CurrentUploadCode(), View() and Notifier() each read one member.
struct ProcessState
{
    ServerState server;
    PortState channel;
    EventState events;
    LibraryPortState libraryPort;
    QByteArray channelChecksum; // DIALOG3 checksum of the program being sent
    // Key (CodeFromCN) of the FROMCN record of the upload being stored; 0
    // while there is none, also after a record that could not be written.
    qint32 currentUploadCode = 0;
    // The outlets the server host (or the window) hands in; null: headless
    // view, no control link.
    ServerView* view = nullptr;
    InfoNotifier* notifier = nullptr;
    WorkGate gate;
};

ProcessState& Process();

ServerState& State();
qint32& CurrentUploadCode();
InfoNotifier* Notifier();
void SetNotifier(InfoNotifier* notifier);

} // namespace nodalis
