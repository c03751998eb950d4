#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <array>

namespace nodalis {

// Channel states announced with {a}; also the number of the state picture.
enum ChannelStateCode : qint16
{
    ChannelIdle = 0,
    ChannelReceiving = 1,
    ChannelSending = 2,
    ChannelListening = 3,
    ChannelExplorer = 5,
};

// Run-time values of the DNC channel that notifications carry and commands
// read or set.
struct PortState
{
    qint16 channelState = ChannelIdle;
    QByteArray programText;                    // about the program in transfer ({b})
    qint16 percentage = 0;                     // progress of the current transfer ({%})
    std::array<QByteArray, 3> currentTransfer; // [0] identifies the program served ({n})
    qint32 currentProgramCode = 0;
    QByteArray targetName;   // program or file name set by M and T
    QByteArray infoText;     // last text sent with I
    QByteArray programIndex; // index of the called program, shown with event 102
    int matchedActivity = 0; // workshop activity found by the last noise check (0: none)
    QString removableFolder; // root of the removable drive in use (method 12), empty: none
    // A received program's number and name as its controller's protocol gave
    // them (a TNC's file name, a Mazatrol header); empty: read from the program.
    QByteArray receivedNumber;
    QByteArray receivedName;
    // The reception is a controller's own records, stored byte for byte:
    // no filter, no line-end change.
    bool receivedVerbatim = false;

    // Back to the start-up values (program text, percentage, transfer record, state).
    void reset();
};

PortState& Channel();

} // namespace nodalis
