#include "server/IpSerialLink.h"

#include "dnc/CharLists.h"
#include "dnc/ControlProtocol.h"
#include "dnc/EventMessages.h"
#include "dnc/InfoNotifier.h"
#include "dnc/PortEngine.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "dnc/ProgramSender.h"
#include "dnc/ReceivedChunks.h"
#include "dnc/ReceptionFile.h"
#include "dnc/ServerView.h"
#include "platform/AnsiText.h"
#include "platform/Clock.h"
#include "startup/AppPaths.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"

#include <QFileInfo>

#include <cmath>
#include <utility>

namespace nodalis {

namespace {

constexpr int kCharsPerTurn = 256;
constexpr qint64 kReadPiece = 64 * 1024;

bool stopRequested()
{
    return State().stopRequested;
}

} // namespace

bool SendPieces::open(const QString& file, int linesAtOnce, const QByteArray& eob)
{
    // Left at 0, one line at a time, as the serial block sender does.
    m_linesAtOnce = qMax(1, linesAtOnce);
    m_eob = eob;
    m_piece.clear();
    m_at = 0;
    const QFileInfo info(file);
    // An empty file has no lines (and no reader opens it).
    m_more = info.size() > 0;
    return info.exists() && (!m_more || m_lines.open(file));
}

bool SendPieces::next(char& c)
{
    if (m_at >= m_piece.size()) {
        if (!m_more)
            return false;
        m_piece.clear();
        m_at = 0;
        QByteArray line;
        for (int n = 0; n < m_linesAtOnce && (m_more = m_lines.readLine(line)); ++n)
            m_piece += line + m_eob;
        if (m_piece.isEmpty()) {
            m_more = false;
            return false;
        }
        SendInfoMessage(BuildInfoMessage("{b}", {m_piece}), 0);
        View().setBlockDisplay(m_piece);
    }
    c = m_piece[m_at++];
    return true;
}

IpSerialLink::IpSerialLink(PortEngine& engine, ProgramSender& sender, QObject* parent)
    : QObject(parent), m_engine(engine), m_sender(sender)
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        if (m_wanted)
            connectToBox();
    });
    m_timRS232.setSingleShot(true);
    m_timRS232.setTimerType(Qt::PreciseTimer);
    connect(&m_timRS232, &QTimer::timeout, this, &IpSerialLink::onSilence);
    // The socket reads ahead of the reception no more than this.
    m_socket.setReadBufferSize(4 * kReadPiece);
    connect(&m_socket, &QTcpSocket::connected, this, &IpSerialLink::onConnected);
    connect(&m_socket, &QTcpSocket::disconnected, this, &IpSerialLink::onDisconnected);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &IpSerialLink::onError);
    // What arrives and what leaves is handled by the send and listening
    // loops, outside the socket's own signals: a status said there lets
    // events run, and the socket tells nothing more inside its own signal.
    connect(&m_socket, &QTcpSocket::bytesWritten, this, [this](qint64 bytes) { m_sent += bytes; });

    PortMethod method;
    method.listen = [this] { listen(); };
    method.close = [this] { closeLink(); };
    method.isReady = [this] { return m_sender.WaitBeforeSend(); };
    method.send = [this] { return send(); };
    m_engine.methods().plug({7}, method);
}

IpSerialLink::~IpSerialLink()
{
    m_wanted = false;
    m_socket.abort();
}

int IpSerialLink::Progress(qint64 sent, qint64 total)
{
    if (total <= 0)
        return 100;
    return int(std::lround(double(sent) * 100.0 / double(total)));
}

bool IpSerialLink::connectToBox()
{
    const Settings& s = Config();
    bool ok = false;
    const int port = TrimSpaces(s.RemotePort).toInt(&ok);
    if (!ok || port < 1 || port > 65535 || TrimSpaces(s.RemoteHost).isEmpty()) {
        if (!m_badPortSaid)
            SetStatusWithReason(388, "RemoteHost \"" + s.RemoteHost + "\", RemotePort \"" +
                                         s.RemotePort + "\" : pas d'adresse de convertisseur");
        m_badPortSaid = true;
        return false;
    }
    m_badPortSaid = false;
    // Our own close is no outage; what came is kept all the same.
    m_wanted = false;
    m_unread += m_socket.readAll();
    m_socket.abort();
    m_wanted = true;
    m_retry.stop();
    m_socket.connectToHost(fromAnsi(TrimSpaces(s.RemoteHost)), quint16(port));
    return true;
}

void IpSerialLink::closeLink()
{
    m_wanted = false;
    m_retry.stop();
    m_socket.abort();
    m_outage = false;
}

void IpSerialLink::onConnected()
{
    m_outage = false;
    m_retry.stop();
    // A box that died without a word is noticed by the system.
    m_socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    SetStatus(385);
}

void IpSerialLink::onDisconnected()
{
    // What the machine sent before the box dropped is kept for the reception.
    m_unread += m_socket.readAll();
    if (!m_wanted)
        return;
    if (!m_outage)
        SetStatus(388);
    m_outage = true;
    if (m_phase == Sending)
        m_lost = true;
    // At once, from the event loop (not inside the socket's own signal).
    m_retry.start(0);
}

void IpSerialLink::onError(QAbstractSocket::SocketError)
{
    // A close is handled by onDisconnected; here the box refused or could
    // not be reached: tried again every 5 s.
    if (!m_wanted || m_socket.state() == QAbstractSocket::ConnectedState || m_retry.isActive())
        return;
    if (!m_outage)
        SetStatusWithReason(388, toAnsi(m_socket.errorString()));
    m_outage = true;
    // A send waits for the box (or a stop); only a connection lost under
    // it ends it.
    m_retry.start(Clock::realMs(RetryMs));
}

void IpSerialLink::SendTcpDataIPSerial(QByteArrayView text)
{
    if (m_socket.state() != QAbstractSocket::ConnectedState)
        return;
    m_socket.write(text.data(), text.size());
    // Told when it changes; BOT and EOT count too, past 100 they stay at 100.
    if (const int percent = qMin(Progress(m_sent, m_total), 100); percent != m_lastShown) {
        m_lastShown = percent;
        m_sender.ShowProgress(percent);
    }
}

void IpSerialLink::sendNext()
{
    char c = 0;
    if (m_pieces.next(c)) {
        SendTcpDataIPSerial(QByteArrayView(&c, 1));
        return;
    }
    const QByteArray& eot = Config().Port.EOT;
    if (!TrimSpaces(eot).isEmpty())
        SendTcpDataIPSerial(DecodeCharList(eot, Config().Port.EOB));
    m_phase = Finished;
}

void IpSerialLink::sendTurn()
{
    if (!m_begun) {
        m_begun = true;
        SetStatus(382);
        if (const QByteArray& bot = Config().Port.BOT; !TrimSpaces(bot).isEmpty()) {
            SendTcpDataIPSerial(DecodeCharList(bot, Config().Port.EOB));
            return;
        }
    }
    // One character in flight: the next leaves when this one has. One the
    // system takes at once is followed by the next in the same turn, a few
    // dozen at most so that other events still run; the last of a turn
    // leaves with the socket's own write, which ends the wait.
    for (int n = 1; m_phase == Sending; ++n) {
        sendNext();
        if (n == kCharsPerTurn || !m_socket.flush() || m_socket.bytesToWrite() != 0)
            return;
    }
}

void IpSerialLink::takeArrived()
{
    received(std::exchange(m_unread, {}));
    // In pieces of a bounded size into the same buffer: a fast upload is
    // never held whole in memory.
    while (m_socket.bytesAvailable() > 0) {
        m_chunk.resize(qMin(m_socket.bytesAvailable(), kReadPiece));
        const qint64 n = m_socket.read(m_chunk.data(), m_chunk.size());
        if (n <= 0)
            break;
        m_chunk.resize(n);
        received(m_chunk);
    }
}

void IpSerialLink::received(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    m_timRS232.stop();
    Channel().channelState = ChannelReceiving;
    if (m_shown.size() < 20) {
        m_shown += bytes.left(20 - m_shown.size());
        View().setBlockDisplay(m_shown);
    }
    m_lines->append(bytes);
    m_lines->cut();
    // Each chunk's lines reach the system as they arrive.
    m_file->flush();
    m_silence = false;
    m_timRS232.start();
    if (!m_started) {
        m_engine.SetPortState(ChannelReceiving);
        SetStatus(381);
        m_started = true;
    }
}

void IpSerialLink::onSilence()
{
    m_silence = true;
}

void IpSerialLink::listen()
{
    // One cycle at a time, and none inside a send: a cycle asked for
    // meanwhile starts once the running one (or the send) is over.
    if (m_cycleRunning || m_phase == Sending || m_phase == Finished) {
        m_listenAgain = true;
        return;
    }
    if (m_socket.state() == QAbstractSocket::UnconnectedState && !m_retry.isActive() &&
        !connectToBox())
        return;
    m_wanted = true;
    // From here a send may take the link over, even while the file opens.
    m_cycleRunning = true;
    m_takenOver = false;
    ReceptionFile file;
    const bool opened = file.open();
    if (const bool takenOver = m_takenOver; takenOver || !opened) {
        file.close();
        endCycle();
        if (!takenOver) {
            m_engine.ReceptionBlocked();
            m_engine.ReturnToListening();
        }
        return;
    }
    m_timRS232.setInterval(int(Clock::realMs(qint64(Config().Port.TimeOut) * 1000)));
    m_timRS232.stop();
    ReceivedLines lines([&file](const QByteArray& text) { file.write(text); }, false);
    m_file = &file;
    m_lines = &lines;
    m_shown.clear();
    m_started = false;
    m_silence = false;
    m_phase = Receiving;
    m_engine.SetPortState(ChannelListening);
    SetStatus(384);
    // What the machine sent between two receptions waits in the socket, or
    // aside when the box dropped the connection since.
    bool stopped = false;
    for (;;) {
        // What comes after a send took over is the next cycle's.
        if (m_takenOver)
            break;
        takeArrived();
        if (m_silence)
            break;
        if (stopRequested()) {
            stopped = true;
            break;
        }
        // What came in while a status let events run is taken at once.
        WaitForEvents(m_socket.bytesAvailable() > 0 || !m_unread.isEmpty() ? 0 : -1);
    }
    m_timRS232.stop();
    m_file = nullptr;
    m_lines = nullptr;
    if (m_takenOver) {
        // A send took the link over: it returns to listening itself.
        file.close();
        endCycle();
        return;
    }
    // Whatever arrived is kept: the unfinished line goes in too.
    if (const QByteArray last = lines.finish(); !last.isEmpty())
        SendInfoMessage(BuildInfoMessage("{b}", {last}), 0);
    const bool whole = file.close();
    m_phase = Idle;
    // A return to listening asked for from inside this cycle is this
    // cycle's own.
    m_listenAgain = false;
    m_cycleRunning = false;
    // Stopping the transfer closes the link; listening opens it again.
    if (stopped)
        closeLink();
    if (!whole)
        m_engine.ReceptionBlocked();
    else
        m_engine.Examine();
    m_engine.ReturnToListening();
}

void IpSerialLink::endCycle()
{
    m_cycleRunning = false;
    m_takenOver = false;
    if (m_phase == Receiving)
        m_phase = Idle;
    // The send that took over asked for listening while this cycle still
    // ran: that cycle starts now, from the event loop.
    if (std::exchange(m_listenAgain, false) && m_phase == Idle)
        m_engine.StartListeningSoon();
}

bool IpSerialLink::send()
{
    // A reception in progress ends without examination.
    if (m_cycleRunning)
        m_takenOver = true;
    const PortSettings& r = Config().Port;
    const QString& file = Paths().sendFile;
    m_sender.PreSendSteps(file, Config().FiltreCarSpec);
    m_phase = Sending;
    m_lost = false;
    m_total = QFileInfo(file).size();
    m_sent = 0;
    m_lastShown = -1;
    m_begun = false;
    if (!m_pieces.open(file, r.NbBlocAvance, r.EOB) || !connectToBox()) {
        m_phase = Idle;
        m_sender.SendFailed();
        return false;
    }
    while (m_phase == Sending && !m_lost && !stopRequested()) {
        if (m_socket.state() == QAbstractSocket::ConnectedState && m_socket.bytesToWrite() == 0)
            sendTurn();
        // A character that left while a status let events run is followed
        // at once.
        const bool gone =
            m_socket.state() == QAbstractSocket::ConnectedState && m_socket.bytesToWrite() == 0;
        if (m_phase == Sending)
            WaitForEvents(gone ? 0 : -1);
    }
    if (m_phase == Finished && !m_lost && !stopRequested()) {
        // EOT leaves, and the machine takes the end of the program.
        Pause(2000);
        m_phase = Idle;
        return true;
    }
    m_phase = Idle;
    if (stopRequested())
        closeLink();
    m_sender.SendFailed();
    return false;
}

} // namespace nodalis
