#pragma once

#include "dnc/EventMessages.h"
#include "dnc/PortEngine.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "dnc/ReceivedDataExaminer.h"
#include "platform/Clock.h"
#include "platform/SerialControl.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"

#include "sim/MachineSimulator.h"
#include "support/ProcessReset.h"

#include <QFile>

#include <memory>

namespace nodalis {

// Notes what the reception file holds each time the engine hands it over,
// and ends the transaction as call resolution would.
class RecordingExaminer : public ReceivedDataExaminer
{
public:
    void ExamineReceivedData() override
    {
        QFile f(Paths().receptionFile);
        receptions.append(f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<no file>"));
        Channel().channelState = ChannelIdle;
    }
    QList<QByteArray> receptions;
};

// A fresh server state in a base folder, and a machine line: the simulator
// on a pseudo-terminal, the serial control and the port engine on the other
// end (9600 8N1, waits twenty times shorter).
struct SimulatedLine
{
    std::unique_ptr<sim::MachineSimulator> sim;
    std::unique_ptr<SerialControl> com;
    std::unique_ptr<PortEngine> engine;

    bool open(const QString& baseFolder)
    {
        Clock::setScale(0.05);
        ResetProcessState(baseFolder);
        Config().DncAppMode = 1;
        sim = std::make_unique<sim::MachineSimulator>();
        if (!sim->open())
            return false;
        PortSettings& p = Config().Port;
        p.PortName = sim->devicePath().toLocal8Bit();
        p.NumPort = 1;
        p.Bauds = p.BaudsEnvoi = "9600";
        p.DataBit = "8";
        p.Parite = "N";
        p.StopBit = "1";
        com = std::make_unique<SerialControl>();
        engine = std::make_unique<PortEngine>(*com);
        return true;
    }

    void close()
    {
        engine.reset();
        com.reset();
        sim.reset();
        Clock::setScale(1.0);
    }
};

} // namespace nodalis
