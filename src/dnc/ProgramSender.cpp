#include "dnc/ProgramSender.h"

#include "dnc/ChannelFiles.h"
#include "dnc/CharLists.h"
#include "dnc/ControlProtocol.h"
#include "dnc/EventMessages.h"
#include "dnc/InfoNotifier.h"
#include "dnc/LibraryPort.h"
#include "dnc/LineFiles.h"
#include "dnc/MachineSpecifics.h"
#include "dnc/PortEngine.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "dnc/SendPreparation.h"
#include "dnc/SerialLine.h"
#include "dnc/ServerView.h"
#include "dnc/SyntaxCheck.h"
#include "platform/AnsiText.h"
#include "platform/Clock.h"
#include "platform/OperatorPrompt.h"
#include "platform/SerialControl.h"
#include "platform/SerialLibrary.h"
#include "startup/AppPaths.h"
#include "startup/IniFile.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>

namespace nodalis {

namespace {

bool stopRequested()
{
    return State().stopRequested;
}

void notify(const char* tag, const QList<QByteArray>& args = {})
{
    SendInfoMessage(BuildInfoMessage(tag, args), 0);
}

int timeOutSend()
{
    const QByteArray v = TrimSpaces(FNReadIni(Paths().configPath, "Tempo", "TimeOutSend", "600"));
    return int(LeadingNumber(v.isEmpty() ? QByteArray("600") : v));
}

void sleepSeconds(double seconds)
{
    if (seconds > 0)
        Pause(qint64(seconds * 1000));
}

} // namespace

ProgramSender::ProgramSender(PortEngine& engine) : m_engine(engine)
{
    plugMethods();
}

void ProgramSender::plugMethods()
{
    MethodTable& table = m_engine.methods();
    for (int m : {0, 1, 2}) {
        PortMethod method = *table.find(m);
        method.isReady = [this] { return controlReceptionWait(); };
        method.send = [this] { return sendSerial() == Outcome::Sent; };
        table.plug({m}, method);
    }
    PortMethod push = *table.find(20);
    push.isReady = [this] { return controlReceptionWait(); };
    table.plug({20}, push);
    PortMethod library = *table.find(3);
    library.isReady = [this] { return libraryReceptionWait(); };
    library.send = [this] { return sendLibrary() == Outcome::Sent; };
    table.plug({3}, library);
    PortMethod server;
    server.send = [this] { return sendServer() == Outcome::Sent; };
    table.plug({10}, server);
}

void ProgramSender::reset()
{
    if (m_reset)
        m_reset();
}

void ProgramSender::ShowProgress(int percent)
{
    if (percent <= m_lastProgress)
        return;
    m_lastProgress = percent >= 100 ? -1 : percent;
    Channel().percentage = qint16(qMin(percent, 100));
    SendInfoMessage(BuildInfoMessage("{%}", {QByteArray::number(Channel().percentage)}), 0);
}

bool ProgramSender::SendDispatcher()
{
    State().stopRequested = false;
    View().setCommandButtons("1001");
    const Settings& s = Config();
    const QString& file = Paths().sendFile;
    if (s.SendFirstAsLast) {
        for (int c = 1; c <= ChannelCount(); ++c)
            MoveFirstProgramLast(ChannelLabel(file, c));
    }
    const int methode = s.Port.Methode;
    const PortMethod* method = m_engine.methods().find(methode);
    if (!method || !method->send)
        return false;
    m_lastProgress = -1;
    if (!method->send())
        return false;
    if (method->ownCompletion)
        return true;
    notify("{f}");
    notify("{t}", {QByteArray::number(Channel().currentProgramCode)});
    SetStatus(903);
    if (m_journal)
        m_journal(903);
    sleepSeconds(s.Port.TempoAfterSend);
    Pause(800);
    return true;
}

void ProgramSender::failed(int event)
{
    SetStatus(event);
    reset();
}

ProgramSender::Outcome ProgramSender::sendSerial()
{
    const PortSettings& r = Config().Port;
    SerialControl& com = m_engine.comDNC();
    m_engine.TakeOverLine();
    if (!OpenControlPort(com, r, true)) {
        SetStatus(103);
        notify("{g}");
        State().stopRequested = true;
        return Outcome::Failed;
    }
    const bool arcel = TrimSpaces(r.Specificite).toUpper() == "DURER_OVARE";
    const bool ok = arcel ? SendSerialArcel(r, r.Methode, Paths().sendFile)
                          : SendSerialBlocks(r, r.Methode, Paths().sendFile);
    if (!ok) {
        failed(907);
        return Outcome::Failed;
    }
    return Outcome::Sent;
}

ProgramSender::Outcome ProgramSender::sendLibrary()
{
    const PortSettings& r = Config().Port;
    m_engine.TakeOverLine();
    if (!OpenLibraryPort(r, true)) {
        SetStatus(203);
        notify("{g}");
        State().stopRequested = true;
        return Outcome::Failed;
    }
    if (!SendLibraryFile(r, Paths().sendFile)) {
        failed(907);
        return Outcome::Failed;
    }
    return Outcome::Sent;
}

ProgramSender::Outcome ProgramSender::sendServer()
{
    if (!SendViaSerialServer(Paths().sendFile)) {
        failed(907);
        notify("{g}");
        State().stopRequested = true;
        return Outcome::Failed;
    }
    return Outcome::Sent;
}

void ProgramSender::preSendSteps(const QString& file, bool prepare)
{
    const Settings& s = Config();
    if (s.CheckBeforeSend)
        CheckSyntax(file);
    if (prepare)
        PrepareSendText(file);
    ApplySendSpecifics(file, s.Port.Specificite);
}

ProgramSender::Drain ProgramSender::waitOutput(const PortSettings& r, qint64 allowed,
                                               int limitSeconds)
{
    SerialControl& com = m_engine.comDNC();
    const int handshake =
        r.CtrlFluxSend >= 0 && r.CtrlFluxSend <= 6 ? HandshakeOf(r.CtrlFluxSend) : 0;
    const bool machinePaces = handshake == 1 || handshake == 3;
    qint64 lastCount = -1;
    qint64 lastMove = Clock::nowMs();
    for (;;) {
        // A line that went away took the rest of the text with it.
        if (!com.PortOpen())
            return Drain::Failed;
        // While the process itself holds more than allowed, what it holds
        // tells the progress; the driver's queue is read only near the end.
        const qint64 held = com.OutBufferHeld();
        const qint64 count = held > allowed ? held : com.OutBufferCount();
        if (count <= allowed)
            return Drain::Done;
        if (stopRequested())
            return Drain::Failed;
        const qint64 now = Clock::nowMs();
        if (count != lastCount) {
            lastCount = count;
            lastMove = now;
        } else if (com.WriteTimeout() > 0 && now - lastMove > com.WriteTimeout()) {
            SetStatus(118);
            return Drain::Failed;
        }
        // The limit is on a line that stopped taking text, not on a slow one.
        if (limitSeconds > 0 && !machinePaces && Clock::secondsSince(lastMove) >= limitSeconds) {
            SetStatus(907);
            return Drain::TimedOut;
        }
        WaitForEvents(10);
    }
}

bool ProgramSender::waitLineReady(const PortSettings& r)
{
    SerialControl& com = m_engine.comDNC();
    const qint64 start = Clock::nowMs();
    // Only the line condition of the flow mode counts against TimeOutEnvoi.
    while (!IsLineReady(com, r.CtrlFluxSend)) {
        if (stopRequested() || !com.PortOpen())
            return false;
        if (r.TimeOutEnvoi >= 1 && !r.IsModePassant &&
            Clock::secondsSince(start) > r.TimeOutEnvoi) {
            SetStatus(109);
            return false;
        }
        WaitForEvents(10);
    }
    // The output buffer is the size the record gives: the next block waits
    // for room as the machine takes the text, so that progress and a stop
    // follow what really left. A machine that holds XOFF while it cuts
    // keeps the rest waiting here for as long as it holds.
    return waitOutput(r, qMax(1, com.OutBufferSize()), 0) == Drain::Done;
}

bool ProgramSender::SendSerialBlocks(const PortSettings& r, int method, const QString& file)
{
    return sendBlocks(r, method, file, false);
}

bool ProgramSender::SendSerialArcel(const PortSettings& r, int method, const QString& file)
{
    return sendBlocks(r, method, file, true);
}

bool ProgramSender::arcelCheck(const QByteArray& block, bool& lastBlock)
{
    SerialControl& com = m_engine.comDNC();
    const QByteArray upper = UpperAnsi(block);
    if (upper.contains("N9000") && upper.contains("FIN!!")) {
        SetStatus(999, {"N9000 TT special"}, true);
        // Let the machine finish what it says, then wait for it to speak again.
        qint64 last = Clock::nowMs();
        while (Clock::nowMs() - last <= 5000) {
            if (stopRequested())
                return false;
            if (com.InBufferCount() > 0) {
                com.Input();
                last = Clock::nowMs();
            }
            Pause(20);
        }
        while (com.InBufferCount() < 1) {
            if (stopRequested())
                return false;
            Pause(20);
        }
    } else if (upper.contains("T999") && upper.contains("FIN!!")) {
        SetStatus(999, {"T999 TT special"}, true);
        lastBlock = true;
    }
    return true;
}

bool ProgramSender::sendBlocks(const PortSettings& r, int method, const QString& file, bool arcel)
{
    const int sendTimeOut = timeOutSend();
    preSendSteps(file, arcel || Config().FiltreCarSpec);
    SetStatus(102);
    m_engine.SetPortState(ChannelSending);
    // However the send ends, the channel is idle again afterwards.
    const auto idleAgain = qScopeGuard([&] {
        ShowProgress(100);
        m_engine.SetPortState(ChannelIdle);
        if (arcel)
            notify("{f}");
    });
    return sendHeader(r, sendTimeOut) && sendBody(r, method, file, arcel, sendTimeOut) &&
           sendTrailer(r);
}

bool ProgramSender::sendHeader(const PortSettings& r, int sendTimeOut)
{
    SerialControl& com = m_engine.comDNC();
    if (!TrimSpaces(r.BOT).isEmpty()) {
        if (waitOutput(r, 0, sendTimeOut) != Drain::Done)
            return false;
        WriteText(com, DecodeCharList(r.BOT, r.EOB));
    }
    if (TrimSpaces(r.Specificite).toUpper() == "CLEAR_ARCEL") {
        WriteText(com, "%CLF\r\nMPF1\r\nSPF1, 120\r\nM30\r\n");
        Pause(3000);
    }
    return true;
}

bool ProgramSender::sendBody(const PortSettings& r, int method, const QString& file, bool arcel,
                             int sendTimeOut)
{
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly)) {
        SetStatus(909, {toAnsi(file)});
        return false;
    }
    const qint64 total = input.size();
    input.close();
    FileLines lines;
    const bool any = total > 0 && lines.open(file);
    // Without pacing, character mode or a flow mode nothing needs the text to
    // leave block by block: the line's queue is kept full instead.
    if (!arcel && (method == 0 || method == 1) && r.TempoBloc <= 0 && r.CtrlFluxSend == 0)
        return sendUnpaced(r, file, lines, total);
    const int perCycle = qMax(1, r.NbBlocAvance);
    qint64 sent = 0;
    bool lastBlock = false;
    QList<QByteArray> blocks;
    for (bool more = any; more && !lastBlock;) {
        if (stopRequested())
            return false;
        blocks.clear();
        QByteArray line;
        while (blocks.size() < perCycle && (more = lines.readLine(line)))
            blocks.append(line);
        if (r.CtrlFluxSend > 3 && !waitDataSetReady(sendTimeOut))
            return false;
        m_engine.comDNC().setSThreshold(1);
        for (const QByteArray& block : blocks) {
            if (method != 0 && method != 1 && method != 2)
                break;
            const QByteArray text = block + r.EOB;
            View().setBlockDisplay(block);
            sent += text.size();
            if (!waitLineReady(r) || !writeBlock(r, method, text))
                return false;
            if (arcel) {
                if (!arcelCheck(block, lastBlock))
                    return false;
                if (lastBlock)
                    break;
            }
        }
        ShowProgress(total > 0 ? int(qMin<qint64>(100, sent * 100 / total)) : 100);
    }
    if (lines.failed()) {
        SetStatus(909, {toAnsi(file)});
        return false;
    }
    if (arcel) {
        ShowProgress(100);
        Pause(8000);
    }
    return true;
}

bool ProgramSender::sendUnpaced(const PortSettings& r, const QString& file, FileLines& lines,
                                qint64 total)
{
    SerialControl& com = m_engine.comDNC();
    QueueFiller filler(*this, r);
    qint64 sent = 0;
    QByteArrayView run;
    while (total > 0 && lines.readLines(run)) {
        if (stopRequested()) {
            // What an unpaced send queued does not leave after a stop either.
            com.clearOutBuffer();
            return false;
        }
        com.setSThreshold(1);
        if (!filler.write(run, r.EOB, sent))
            return false;
        ShowProgress(int(qMin<qint64>(100, sent * 100 / total)));
    }
    if (lines.failed()) {
        com.clearOutBuffer();
        SetStatus(909, {toAnsi(file)});
        return false;
    }
    return filler.flush();
}

ProgramSender::QueueFiller::QueueFiller(ProgramSender& sender, const PortSettings& r)
    : m_sender(sender), m_record(r)
{
    m_batch.reserve(BatchBytes + 4096);
}

bool ProgramSender::QueueFiller::write(QByteArrayView run, const QByteArray& eob, qint64& sent)
{
    // A run of whole lines, each with its CR LF, goes in batches of about
    // BatchBytes cut at line ends: the first bytes leave at once, and what a
    // stop has to drop stays small.
    while (!run.isEmpty()) {
        const char* const end = run.data() + run.size();
        const char* cut = end - 2;
        const qsizetype room = BatchBytes - m_batch.size();
        if (run.size() > room) {
            const char* const before =
                FindLastCrLf(run.data(), run.data() + std::max<qsizetype>(room, 2));
            cut = before ? before : FindCrLf(run.data(), end);
        }
        const QByteArrayView lines(run.data(), cut + 2 - run.data());
        const qsizetype had = m_batch.size();
        if (eob == "\r\n")
            m_batch += lines;
        else
            ForEachLine(lines, [&](QByteArrayView line) {
                m_batch += line;
                m_batch += eob;
            });
        sent += m_batch.size() - had;
        const char* const previousEnd = FindLastCrLf(lines.data(), cut);
        const char* const lastLine = previousEnd ? previousEnd + 2 : lines.data();
        m_last = QByteArray(lastLine, cut - lastLine);
        run = run.sliced(lines.size());
        if (m_batch.size() >= BatchBytes && !flush())
            return false;
    }
    return true;
}

bool ProgramSender::QueueFiller::flush()
{
    if (m_batch.isEmpty())
        return true;
    SerialControl& com = m_sender.m_engine.comDNC();
    View().setBlockDisplay(m_last);
    WriteText(com, m_batch);
    m_batch.clear();
    if (!com.PortOpen())
        return false;
    // Each wake-up hands the line a whole batch; a stop drops what is still
    // queued, so that it ends the send on the wire too.
    if (m_sender.waitOutput(m_record, QueueBytes, 0) == Drain::Done)
        return true;
    if (com.PortOpen())
        com.clearOutBuffer();
    return false;
}

bool ProgramSender::waitDataSetReady(int sendTimeOut)
{
    const qint64 start = Clock::nowMs();
    while (!m_engine.comDNC().DSRHolding()) {
        const qint64 waited = Clock::secondsSince(start);
        SetStatus(106, {QByteArray::number(sendTimeOut - waited)}, true);
        if (waited >= sendTimeOut) {
            SetStatus(907);
            return false;
        }
        if (stopRequested())
            return false;
        Pause(200);
    }
    return true;
}

bool ProgramSender::writeBlock(const PortSettings& r, int method, const QByteArray& text)
{
    SerialControl& com = m_engine.comDNC();
    if (method == 2) {
        for (char c : text) {
            if (stopRequested())
                return false;
            if (com.Output(QByteArray(1, c)) != 0)
                return false;
            sleepSeconds(r.TempoCar);
        }
    } else {
        WriteText(com, text);
        sleepSeconds(r.TempoBloc);
    }
    // A line that went away refuses what was written: the send is cut.
    return com.PortOpen();
}

bool ProgramSender::sendTrailer(const PortSettings& r)
{
    SerialControl& com = m_engine.comDNC();
    if (TrimSpaces(r.Specificite).toUpper() == "DIALOG3")
        WriteText(com, Dialog3Trailer(r.EOB));
    // The send is complete only when the last byte, EOT included, left.
    if (!TrimSpaces(r.EOT).isEmpty()) {
        WriteText(com, DecodeCharList(r.EOT, r.EOB));
        if (waitOutput(r, 0, 5) != Drain::Done)
            return false;
    }
    return waitOutput(r, 0, 5) == Drain::Done;
}

bool ProgramSender::SendLibraryFile(const PortSettings& r, const QString& file)
{
    LibraryPortState& lp = LibraryPort();
    const QByteArray bot =
        TrimSpaces(r.BOT).isEmpty() ? QByteArray() : DecodeCharList(r.BOT, r.EOB);
    const QByteArray eot =
        TrimSpaces(r.EOT).isEmpty() ? QByteArray() : DecodeCharList(r.EOT, r.EOB);
    preSendSteps(file, true);
    SetStatus(202);
    m_engine.SetPortState(ChannelSending);
    bool ok = false;
    [&] {
        while (!IsLibraryLineReady()) {
            if (stopRequested())
                return;
            Pause(10);
        }
        if (!bot.isEmpty() && sio_write(lp.settings.port, bot) < 0)
            return;
        const qint64 total = QFileInfo(file).size();
        const int result = sio_FtASCIITx(
            lp.settings.port, file,
            [this, total](qint64 amount, const QByteArray& piece) {
                if (stopRequested())
                    return -1;
                View().setBlockDisplay(piece.left(40));
                ShowProgress(total > 0 ? int(amount * 100 / total) : 100);
                DoEvents();
                return 0;
            },
            27);
        if (result < 0)
            return;
        if (!eot.isEmpty() && sio_write(lp.settings.port, eot) < 0)
            return;
        ok = true;
    }();
    if (ok)
        ShowProgress(100);
    else
        SetStatus(206);
    m_engine.SetPortState(ChannelIdle);
    return ok;
}

bool ProgramSender::SendViaSerialServer(const QString& file)
{
    const QDir folder(fromAnsi(TrimSpaces(Config().DefaultDirHostSend)));
    for (const char* leftover : {"Ok", "NotOk", "RecepOk"})
        QFile::remove(folder.filePath(QLatin1String(leftover)));
    if (folder.path().isEmpty() || !folder.exists())
        return false;
    preSendSteps(file, true);
    SetStatus(753);
    const QString shared = folder.filePath(QStringLiteral("Send.txt"));
    if (QFile::exists(shared)) {
        SetStatus(750);
        Prompt().showMessage(QString(), fromAnsi(EventText(750)), OperatorPrompt::Icon::Warning);
        return false;
    }
    if (!QFile::exists(file)) {
        SetStatus(752);
        Prompt().showMessage(QString(), fromAnsi(EventText(752)), OperatorPrompt::Icon::Warning);
        return false;
    }
    if (!CopyFile(file, shared))
        return false;
    SetStatus(754);
    const QString ok = folder.filePath(QStringLiteral("Ok"));
    const QString notOk = folder.filePath(QStringLiteral("NotOk"));
    const QString received = folder.filePath(QStringLiteral("RecepOk"));
    while (!QFile::exists(received)) {
        if (stopRequested()) {
            QFile::remove(shared);
            return false;
        }
        Pause(200);
    }
    QFile::remove(received);
    SetStatus(755);
    // The serial server's verdict; a stop ends the wait as a failure.
    for (;;) {
        if (QFile::exists(ok)) {
            QFile::remove(ok);
            Pause(80);
            SetStatus(903);
            Pause(800);
            return true;
        }
        if (QFile::exists(notOk) || stopRequested()) {
            QFile::remove(notOk);
            Pause(80);
            SetStatus(907);
            Pause(1500);
            return false;
        }
        Pause(200);
    }
}

bool ProgramSender::waitSeconds(int seconds)
{
    const qint64 start = Clock::nowMs();
    while (Clock::nowMs() - start < qint64(seconds) * 1000) {
        SetStatus(510,
                  {QByteArray::number(seconds), QByteArray::number(Clock::secondsSince(start))},
                  true);
        if (stopRequested())
            return false;
        Pause(50);
    }
    return true;
}

bool ProgramSender::readinessTimedOut(qint64 start)
{
    const qint32 limit = Config().Port.TimeOutModeRecep;
    if (limit < 1 || Clock::secondsSince(start) <= limit)
        return false;
    SetStatus(512, {QByteArray::number(limit)});
    SetStatus(513);
    return true;
}

bool ProgramSender::controlReceptionWait()
{
    SerialControl& com = m_engine.comDNC();
    const PortSettings& r = Config().Port;
    m_engine.SetPortState(-1);
    const QByteArray mode = TrimSpaces(r.CheckModeRecep);
    const QByteArray upper = mode.toUpper();
    const double number = LeadingNumber(mode);
    bool ready = true;
    const qint64 start = Clock::nowMs();
    auto giveUp = [&] {
        reset();
        ready = false;
    };
    if (mode.isEmpty()) {
        ready = true;
    } else if (number < 0) {
        if (!waitSeconds(int(-number)))
            giveUp();
    } else if (upper == "RTS") {
        while (!com.CTSHolding()) {
            SetStatus(511, {}, true);
            if (stopRequested() || readinessTimedOut(start)) {
                giveUp();
                break;
            }
            Pause(50);
        }
    } else if (upper == "QCQ" || number > 0) {
        com.setHandshaking(0);
        const QByteArray wanted = upper == "QCQ" ? QByteArray() : DecodeCharList(mode, {});
        for (;;) {
            const QByteArray got = com.Input();
            if (!got.isEmpty() && (wanted.isEmpty() || got.contains(wanted)))
                break;
            if (got.isEmpty())
                SetStatus(511, {}, true);
            if (stopRequested() || readinessTimedOut(start)) {
                giveUp();
                break;
            }
            Pause(50);
        }
    }
    com.setHandshaking(HandshakeOf(r.CtrlFlux));
    m_engine.SetPortState(ChannelIdle);
    return ready;
}

bool ProgramSender::libraryReceptionWait()
{
    m_engine.SetPortState(-1);
    bool ready = true;
    const double number = LeadingNumber(TrimSpaces(Config().Port.CheckModeRecep));
    if (number < 0 && !waitSeconds(int(-number))) {
        reset();
        ready = false;
    }
    m_engine.SetPortState(ChannelIdle);
    return ready;
}

bool ProgramSender::IsReadyToSend()
{
    const PortMethod* method = m_engine.methods().find(Config().Port.Methode);
    return !method || !method->isReady || method->isReady();
}

} // namespace nodalis
