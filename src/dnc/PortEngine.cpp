#include "dnc/PortEngine.h"

#include "dnc/ArcelReception.h"
#include "dnc/CharLists.h"
#include "dnc/ControlProtocol.h"
#include "dnc/EventMessages.h"
#include "dnc/InfoNotifier.h"
#include "dnc/LibraryPort.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "dnc/ReceivedChunks.h"
#include "dnc/ReceivedDataExaminer.h"
#include "dnc/ReceptionFile.h"
#include "dnc/SerialLine.h"
#include "dnc/ServerView.h"
#include "dnc/WorkGate.h"
#include "platform/Clock.h"
#include "platform/SerialControl.h"
#include "platform/SerialLibrary.h"
#include "startup/AppPaths.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"
#include "store/TextUtils.h"

namespace nodalis {

namespace {

void notify(const char* tag)
{
    SendInfoMessage(BuildInfoMessage(tag), 0);
}

bool stopRequested()
{
    return State().stopRequested;
}

} // namespace

PortEngine::PortEngine(SerialControl& comDNC, QObject* parent) : QObject(parent), m_com(comDNC)
{
    m_timRS232.setSingleShot(true);
    m_timRS232.setTimerType(Qt::PreciseTimer);
    connect(&m_timRS232, &QTimer::timeout, this, &PortEngine::InactivityTimeout);
    connect(&m_relaunch, &QTimer::timeout, this, &PortEngine::RelaunchTick);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &PortEngine::RelaunchTick);
    connect(&m_com, &SerialControl::OnComm, this, &PortEngine::OnComm);
    plugSerialMethods();
}

PortEngine::~PortEngine() = default;

void PortEngine::plugSerialMethods()
{
    PortMethod control;
    control.listen = [this] { listenSerial(); };
    control.close = [this] { ReleaseSerialPort(m_com); };
    control.returnToListening = control.close;
    m_methods.plug({0, 1, 2, 20}, control);

    PortMethod library;
    library.listen = [this] { listenLibrary(); };
    library.close = [] {
        if (LibraryPort().open)
            CloseLibraryPort();
    };
    m_methods.plug({3}, library);
}

void PortEngine::SetPortState(int state)
{
    if (state != -1)
        Channel().channelState = qint16(state);
    SendInfoMessage(BuildInfoMessage("{a}", {QByteArray::number(Channel().channelState)}), 0);
}

void PortEngine::setRelaunchEnabled(bool on)
{
    if (on) {
        m_relaunch.start(Clock::realMs(RelaunchMs));
    } else {
        m_relaunch.stop();
    }
}

void PortEngine::RelaunchTick()
{
    Gate().runInBackground([this] {
        if (Config().IsModeEcoute && Channel().channelState == ChannelIdle)
            StartListening();
    });
}

void PortEngine::StartListeningSoon()
{
    QMetaObject::invokeMethod(
        this, [this] { Gate().runInBackground([this] { StartListening(); }); },
        Qt::QueuedConnection);
}

void PortEngine::StartListening()
{
    m_listenPosted = false;
    // One cycle at a time: a restart asked for meanwhile waits for its end.
    if (m_cycleRunning) {
        m_listenAfterCycle = true;
        return;
    }
    State().stopRequested = false;
    View().setCommandButtons(Config().IsModeEcoute ? "1101" : "1001");
    m_eventFile.close();
    if (const PortMethod* method = m_methods.find(Config().Port.Methode); method && method->listen)
        method->listen();
}

void PortEngine::OpenFailed(int event)
{
    SetStatus(event);
    notify("{g}");
    State().stopRequested = true;
}

void PortEngine::TakeOverLine()
{
    if (m_eventReception && Channel().channelState == ChannelListening) {
        EndEventReception();
        m_eventReception = false;
    }
    if (m_cycleRunning)
        m_lineTakenOver = true;
}

void PortEngine::ClearReceptionFlags()
{
    m_firstData = false;
    m_silence = false;
    m_eventReception = false;
}

void PortEngine::listenSerial()
{
    if (!OpenControlPort(m_com, Config().Port, false))
        return OpenFailed(103);
    notify("M");
    SetPortState(ChannelListening);
    if (Config().Port.ModeIRQ == 1) {
        SetStatus(104);
        // Event-driven reception only arms the line: its end comes later
        // from the inactivity timer or a stop, which then examine the data
        // and listen again. Returning to listening now would release the
        // port the reception has just armed.
        StartEventReception();
        return;
    }
    SetStatus(105);
    // A send that took the line over during the cycle returns to listening itself.
    ArcelReception arcel;
    ReceptionSteps* steps =
        SpecificiteName(Config().Port.Specificite) == "DURER_OVARE" ? &arcel : nullptr;
    if (PolledReception(steps) || !m_lineTakenOver) {
        if (!m_shuttingDown)
            ReturnToListening();
    }
    cycleOver();
}

void PortEngine::listenLibrary()
{
    if (!OpenLibraryPort(Config().Port, false))
        return OpenFailed(203);
    const int returns = m_returns;
    LibraryReception();
    if (!m_shuttingDown && m_returns == returns)
        ReturnToListening();
    cycleOver();
}

void PortEngine::ReturnToListening()
{
    ++m_returns;
    const int methode = Config().Port.Methode;
    if (const PortMethod* method = m_methods.find(methode); method && method->returnToListening)
        method->returnToListening();
    SendInfoMessage(BuildInfoMessage("{i}", {""}), 0);
    SendInfoMessage(BuildInfoMessage("{b}", {""}), 0);
    notify("{f}");
    if (methode != 4 && methode != 6 && methode != 14 && Config().IsModeEcoute &&
        !stopRequested() && !m_listenPosted) {
        if (m_blocked) {
            // Listening again at once would only meet the same fault.
            m_retry.start(Clock::realMs(RetryMs));
            return;
        }
        // The next cycle starts from the event loop, not from inside this
        // one: months of cycles must not pile up on the stack.
        m_listenPosted = true;
        StartListeningSoon();
    }
}

void PortEngine::endEventCycleSoon()
{
    // The end of an event-driven reception examines what came, and may
    // serve a call: the listening cycle's work, run outside any other.
    Gate().runInBackground([this] {
        if (m_eventReception)
            endEventCycle();
    });
}

void PortEngine::endEventCycle()
{
    const int returns = m_returns;
    EndEventReception();
    if (m_blocked)
        receptionBlocked();
    else
        examine();
    if (m_returns == returns)
        ReturnToListening();
}

void PortEngine::cycleOver()
{
    m_lineTakenOver = false;
    if (m_listenAfterCycle && !m_listenPosted && !m_shuttingDown) {
        m_listenPosted = true;
        StartListeningSoon();
    }
    m_listenAfterCycle = false;
}

void PortEngine::ClosePort()
{
    if (const PortMethod* method = m_methods.find(Config().Port.Methode); method && method->close)
        method->close();
}

void PortEngine::examine()
{
    if (m_examiner)
        m_examiner->ExamineReceivedData();
    else
        SetPortState(ChannelIdle); // without call resolution the transaction ends here
    ReceptionFile::Examined();
}

void PortEngine::receptionBlocked()
{
    m_blocked = true;
    m_timRS232.stop();
    ClearReceptionFlags();
    SetPortState(ChannelIdle);
}

void PortEngine::sendCharList(const QByteArray& list)
{
    if (!TrimSpaces(list).isEmpty())
        WriteText(m_com, DecodeCharList(list, Config().Port.EOB));
}

bool PortEngine::PolledReception(ReceptionSteps* steps)
{
    const PortSettings& r = Config().Port;
    m_cycleRunning = true;
    m_lineTakenOver = false;
    m_com.setRThreshold(0);
    m_timRS232.setInterval(Clock::realMs(qint64(r.TimeOut) * 1000));
    m_timRS232.stop();
    m_firstData = false;
    m_silence = false;

    ReceptionFile file;
    if (!file.open()) {
        // Nothing can be kept: no EOR, and no examination of an older file.
        m_cycleRunning = false;
        receptionBlocked();
        return true;
    }
    m_blocked = false;
    sendCharList(r.BOR);
    m_com.setInputLen(0);
    const qint64 start = Clock::nowMs();
    bool awake = steps == nullptr;
    ReceivedLines lines([&file](const QByteArray& text) { file.write(text); }, true);
    bool receiving = false;
    bool ended = false; // silence after data, or the line gone
    for (;;) {
        DoEvents();
        if (m_lineTakenOver) {
            file.close();
            m_timRS232.stop();
            m_cycleRunning = false;
            return false;
        }
        if (stopRequested()) {
            // Whatever arrived is kept: the unfinished line goes in too.
            lines.finish();
            const bool whole = file.close();
            m_timRS232.stop();
            m_cycleRunning = false;
            if (whole)
                examine();
            else
                receptionBlocked();
            return false;
        }
        if (!m_com.PortOpen()) {
            ended = true;
            break;
        }
        if (!awake) {
            awake = steps->awake(m_com);
            if (!awake)
                Pause(20);
            continue;
        }
        if (m_com.InBufferCount() < 1) {
            if (!receiving) {
                // A machine that woke the port up has announced its program.
                if (!steps && r.TimeOutEcoute >= 1 && Clock::secondsSince(start) > r.TimeOutEcoute)
                    break;
            } else if (m_silence) {
                ended = true;
                break;
            }
            // Asleep until the line, the silence timer, a command or a stop
            // wakes us (every flag of this loop is set by one of them); only
            // a listening time-out needs a look now and then.
            WaitForEvents(!receiving && r.TimeOutEcoute >= 1 ? ListenTimeOutStepMs : -1);
            continue;
        }
        if (steps)
            steps->beforeChunk(m_com);
        m_timRS232.stop();
        m_silence = false;
        const QByteArray chunk = m_com.Input();
        if (!chunk.isEmpty()) {
            lines.append(chunk);
            if (steps)
                steps->onChunk(lines.pending());
            Channel().channelState = ChannelReceiving;
            if (!m_firstData) {
                SetPortState(ChannelReceiving);
                SetStatus(101);
                m_firstData = true;
            }
            receiving = true;
            lines.cut();
            // Each chunk's lines reach the system as they arrive: a crash
            // loses at most the unfinished line.
            file.flush();
            if (steps)
                steps->afterChunk();
            // The silence is counted from the last chunk; the timer's own
            // event ends the reception.
            m_timRS232.start();
        }
    }
    if (ended) {
        if (const QByteArray last = lines.finish(); !last.isEmpty()) {
            SendInfoMessage(BuildInfoMessage("{b}", {last}), 0);
            View().setBlockDisplay(last);
        }
    }
    m_timRS232.stop();
    // On the disk before anything reads it.
    const bool whole = file.close();
    if (m_com.PortOpen())
        sendCharList(r.EOR);
    m_cycleRunning = false;
    if (!whole) {
        // A cut reception is no program: it stays for the next cycle to
        // keep under its dated name.
        receptionBlocked();
        return true;
    }
    examine();
    return true;
}

void PortEngine::StartEventReception()
{
    const PortSettings& r = Config().Port;
    if (!m_eventFile.open()) {
        receptionBlocked();
        ReturnToListening();
        return;
    }
    m_blocked = false;
    sendCharList(r.BOR);
    m_eventReception = true;
    m_timRS232.setInterval(Clock::realMs(qint64(r.TimeOut) * 1000));
    m_timRS232.stop();
    m_eventBuffer.clear();
    m_firstData = false;
    m_com.setRThreshold(1);
}

void PortEngine::OnComm()
{
    const int event = m_com.CommEvent();
    static const QHash<int, int> lineErrors = {
        {SerialControl::EventBreak, 110},  {SerialControl::EventCDTO, 111},
        {SerialControl::EventCTSTO, 112},  {SerialControl::EventDSRTO, 113},
        {SerialControl::EventFrame, 114},  {SerialControl::EventOverrun, 115},
        {SerialControl::EventRxOver, 116}, {SerialControl::EventRxParity, 117},
        {SerialControl::EventTxFull, 118},
    };
    // Line events may come during any wait: what they report waits its turn.
    if (const auto it = lineErrors.constFind(event); it != lineErrors.constEnd()) {
        Gate().run([code = *it] { SetStatus(code); });
        return;
    }
    if (event == SerialControl::EventDeviceLost) {
        m_silence = true;
        Gate().run([] { SetStatus(107); });
        endEventCycleSoon();
        return;
    }
    if (event != SerialControl::EvReceive || !m_eventReception || Config().Port.ModeIRQ != 1 ||
        Channel().channelState == ChannelSending)
        return;
    Channel().channelState = ChannelReceiving;
    if (!m_firstData) {
        m_firstData = true;
        SendInfoMessage("{a}1", 0);
        Gate().run([] { SetStatus(101); });
    }
    if (stopRequested()) {
        endEventCycleSoon();
        return;
    }
    m_com.setRThreshold(Config().Port.InBufferSize > 0 ? Config().Port.InBufferSize : 1);
    m_timRS232.stop();
    if (m_com.InBufferCount() > 0) {
        keepEventInput(m_com.Input());
        View().setBlockDisplay(m_eventBuffer);
    }
    m_timRS232.setInterval(Clock::realMs(qint64(Config().Port.TimeOut) * 1000));
    m_timRS232.start();
}

void PortEngine::EndEventReception()
{
    m_timRS232.stop();
    while (!stopRequested() && m_com.OutBufferCount() != 0) {
        DoEvents();
        keepEventInput(m_com.Input());
    }
    if (stopRequested())
        m_com.clearOutBuffer();
    // Characters below the receive threshold are still waiting: keep them.
    keepEventInput(m_com.Input());
    m_eventBuffer.clear();
    // On the disk before anything reads it; a cut reception is not examined.
    m_blocked = !m_eventFile.close();
    if (m_com.PortOpen())
        sendCharList(Config().Port.EOR);
    m_eventReception = false;
    m_com.setRThreshold(0);
}

void PortEngine::keepEventInput(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    // What arrives goes to the system at once; the display shows the
    // reception's first characters.
    m_eventFile.write(bytes);
    m_eventFile.flush();
    if (m_eventBuffer.size() < 20)
        m_eventBuffer += bytes.left(20 - m_eventBuffer.size());
}

void PortEngine::InactivityTimeout()
{
    const int methode = Config().Port.Methode;
    if ((methode == 1 || methode == 2) && Config().Port.ModeIRQ == 1 && m_eventReception) {
        endEventCycleSoon();
        return;
    }
    m_silence = true;
}

bool PortEngine::LibraryReception()
{
    const PortSettings& r = Config().Port;
    LibraryPortState& lp = LibraryPort();
    m_cycleRunning = true;
    SetPortState(ChannelListening);
    SetStatus(204);
    const QByteArray bor =
        TrimSpaces(r.BOR).isEmpty() ? QByteArray() : DecodeCharList(r.BOR, r.EOB);
    const QByteArray eor =
        TrimSpaces(r.EOR).isEmpty() ? QByteArray() : DecodeCharList(r.EOR, r.EOB);
    m_firstData = false;
    m_silence = false;
    const QString& path = Paths().receptionFile;
    // The library writes the file itself; it starts empty and marked.
    ReceptionFile prepared;
    if (!prepared.open() || !prepared.close()) {
        m_cycleRunning = false;
        receptionBlocked();
        return true;
    }
    m_blocked = false;

    bool received = false;
    bool ready = false;
    while (!(ready = IsLibraryLineReady()) && !stopRequested()) {
        DoEvents();
        Pause(10);
    }
    if (ready && (bor.isEmpty() || sio_write(lp.settings.port, bor) >= 0)) {
        m_timRS232.setInterval(Clock::realMs(qint64(r.TimeOut) * 1000));
        const auto callback = [this](qint64, const QByteArray& piece) {
            if (!piece.isEmpty()) {
                Channel().channelState = ChannelReceiving;
                m_timRS232.start();
                View().setBlockDisplay(piece);
                if (!m_firstData) {
                    SetPortState(ChannelReceiving);
                    SetStatus(201);
                    m_firstData = true;
                }
            }
            DoEvents();
            return stopRequested() || m_silence ? -1 : 0;
        };
        const int result = sio_FtASCIIRx(lp.settings.port, path, callback, 27, 99999999);
        m_timRS232.stop();
        if (result >= 0 || result == SIOFT_FUNC || result == -10) {
            if (!lp.open)
                OpenLibraryPort(r, false);
            if (!eor.isEmpty())
                sio_write(lp.settings.port, eor);
            received = true;
            State().stopRequested = false;
        } else {
            SetStatus(205);
            if (result == SIOFT_FOPEN)
                SendInfoMessage(BuildInfoMessage("{h}", {QByteArray::number(result)}), 0);
        }
    }
    if (received)
        NormaliseLibraryReception(path);
    m_cycleRunning = false;
    examine();
    return received;
}

} // namespace nodalis
