#include "dnc/ArcelReception.h"

#include "dnc/EventMessages.h"
#include "dnc/PortEngine.h"
#include "dnc/PortState.h"
#include "dnc/ReceivedChunks.h"
#include "dnc/SerialLine.h"
#include "platform/Clock.h"
#include "platform/SerialControl.h"
#include "dnc/InfoNotifier.h"
#include "dnc/ControlProtocol.h"
#include "dnc/ServerView.h"
#include "startup/Settings.h"
#include "dnc/ProcessState.h"

namespace nodalis {

namespace {

constexpr char kWakeUp = 127;

} // namespace

bool ReceiveSerialArcel(PortEngine& e)
{
    const PortSettings& r = Config().Port;
    SerialControl& com = e.m_com;
    e.m_cycleRunning = true;
    e.m_lineTakenOver = false;
    com.setRThreshold(0);
    e.m_timRS232.setInterval(Clock::realMs(qint64(r.TimeOut) * 1000));
    e.m_timRS232.stop();
    e.m_firstData = false;
    e.m_silence = false;
    bool askDopr = true;

    QFile file;
    const auto giveUp = [&] {
        file.close();
        e.m_timRS232.stop();
        e.m_cycleRunning = false;
        return false;
    };
    const auto examine = [&e](bool done) {
        e.m_timRS232.stop();
        e.m_cycleRunning = false;
        e.examine();
        return done;
    };
    if (!e.recreateReceptionFile(file)) {
        if (com.PortOpen())
            e.sendCharList(r.EOR);
        return examine(true);
    }
    e.sendCharList(r.BOR);
    com.setInputLen(0);

    // Wake-up: the machine announces its program.
    bool lineGone = false;
    QByteArray last;
    for (;;) {
        DoEvents();
        if (e.m_lineTakenOver)
            return giveUp();
        if (State().stopRequested) {
            file.close();
            return examine(false);
        }
        if (!com.PortOpen()) {
            lineGone = true;
            break;
        }
        if (com.InBufferCount() > 0)
            last = com.Input();
        SetStatus(999, {"Buffer ARCEL : " + last});
        if (last.contains(kWakeUp) || last == "\r")
            break;
        Pause(20);
    }

    QByteArray pending;
    while (!lineGone) {
        Pause(20);
        if (e.m_lineTakenOver)
            return giveUp();
        if (State().stopRequested) {
            file.close();
            return examine(false);
        }
        if (!com.PortOpen())
            break;
        if (com.InBufferCount() < 1) {
            if (!e.m_firstData)
                continue;
            if (!e.m_timRS232.isActive())
                e.m_timRS232.start();
            DoEvents();
            if (e.m_silence)
                break;
            continue;
        }
        if (askDopr) {
            WriteText(com, "DOPR\r");
            SetStatus(410, {"DOPR"});
            askDopr = false;
        }
        e.m_timRS232.stop();
        pending += com.Input();
        if (pending.isEmpty())
            continue;
        SetStatus(999, {"Buffer : " + pending});
        Channel().channelState = ChannelReceiving;
        if (!e.m_firstData) {
            e.SetPortState(ChannelReceiving);
            SetStatus(101);
            e.m_firstData = true;
        }
        // The end of one part: the machine goes on with the next once asked.
        const bool nextPart = pending.contains("FIN!!..%") && pending.contains("N9000");
        pending = SplitReceivedChunk(pending, &file, true);
        if (nextPart) {
            Pause(10);
            askDopr = true;
            SetStatus(999, {"N9000 reprise"});
            Pause(20);
        }
    }

    if (!pending.isEmpty()) {
        file.write(pending + "\r\n");
        SendInfoMessage(BuildInfoMessage("{b}", {pending}), 0);
        View().setBlockDisplay(pending);
    }
    file.close();
    if (com.PortOpen())
        e.sendCharList(r.EOR);
    return examine(true);
}

} // namespace nodalis
