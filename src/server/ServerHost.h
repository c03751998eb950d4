#pragma once

#include "dnc/CallResolution.h"
#include "dnc/MazakWatch.h"
#include "dnc/PortEngine.h"
#include "dnc/ProgramSender.h"
#include "dnc/PsionGateway.h"
#include "dnc/UsbAndFolderExchange.h"
#include "platform/RemovableDrives.h"
#include "platform/SerialControl.h"
#include "protocols/FtpSocketClient.h"
#include "protocols/NetworkTransfer.h"
#include "server/ControlLink.h"
#include "server/ExplorerController.h"
#include "server/IpSerialLink.h"
#include "server/MazatrolLink.h"
#include "server/SerialControllers.h"
#include "store/ProgramRecords.h"

#include <QObject>

namespace nodalis {

class ControlCommands;

// Owner of the server's event sources (the control link now; the machine
// line, timers and device events as they come) and of the server-wide stop.
class ServerHost : public QObject
{
    Q_OBJECT

public:
    ServerHost();
    ~ServerHost() override;

    ControlLink& link() { return m_link; }
    SerialControl& comDNC() { return m_comDNC; }
    PortEngine& engine() { return m_engine; }
    RemovableDrives& drives() { return m_drives; }
    ProgramSender& sender() { return m_sender; }
    CallResolution& calls() { return m_calls; }
    NetworkTransfer& network() { return m_network; }
    // The network explorer: its window, when there is one, is set on it.
    ExplorerController& explorer() { return m_explorer; }
    // Opens the network explorer from the event loop, as the operator's
    // window (stand-alone with an FTP machine).
    void ShowExplorerSoon();
    // The small FTP client of command A (and its send and fetch jobs).
    FtpSocketClient& ftpJobs() { return m_ftpJobs; }
    // Connects to a networked machine from the event loop (start-up).
    void ConnectNetworkSoon();

    // Sends the send file, then ends the transfer: the line released,
    // {i}, {b} and {f}, listening again in listening mode.
    bool SendAndReturn();

    // The program record of the current program code.
    void LoadCurrentProgram();
    const ProgramRecord& CurrentProgram() const { return m_currentProgram; }

    // Applies the settings that drive the host's timers (after a load or a reload).
    void ApplySettings();
    // Starts listening from the event loop, once start-up is over.
    void StartListeningSoon();

    // Opens the control link on PortListen and publishes the real port in
    // the Socket key; false when the port cannot be listened on.
    bool OpenControlLink();

    // Stops the server and ends the program: event 902, the stop flag,
    // every control connection closed, the event loop left with status 0.
    void ArretNodalis();

    // Stops the transfer in progress: the stop flag, the channel idle and
    // announced, event 902, the block display cleared.
    void ArreterTrans();

private:
    ControlLink m_link;
    SerialControl m_comDNC;
    PortEngine m_engine;
    ProgramSender m_sender;
    IpSerialLink m_ipSerial;
    CallResolution m_calls;
    MazakWatch m_mazak;
    NetworkTransfer m_network;
    ExplorerController m_explorer{m_network};
    UsbAndFolderExchange m_files; // after the network transfer: it keeps its sends for 14
    PsionGateway m_psion;
    SerialControllers m_controllers;
    MazatrolLink m_mazatrol;
    FtpSocketClient m_ftpJobs;
    RemovableDrives m_drives;
    ProgramRecord m_currentProgram;
    ControlCommands* m_commands;
};

} // namespace nodalis
