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

constexpr int kCharsPerTurn = 64;

bool stopRequested()
{
    return State().stopRequested;
}

} // namespace

bool SendPieces::open(const QString& file, int linesAtOnce, const QByteArray& eob)
{
    m_linesAtOnce = linesAtOnce;
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
    connect(&m_socket, &QTcpSocket::connected, this, &IpSerialLink::onConnected);
    connect(&m_socket, &QTcpSocket::disconnected, this, &IpSerialLink::onDisconnected);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &IpSerialLink::onError);
    connect(&m_socket, &QTcpSocket::bytesWritten, this, &IpSerialLink::onBytesWritten);
    connect(&m_socket, &QTcpSocket::readyRead, this, &IpSerialLink::onReadyRead);

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
    if (m_phase != Sending)
        return;
    SetStatus(382);
    const QByteArray& bot = Config().Port.BOT;
    if (!TrimSpaces(bot).isEmpty())
        SendTcpDataIPSerial(DecodeCharList(bot, Config().Port.EOB));
    else
        sendNext();
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

void IpSerialLink::onBytesWritten(qint64 bytes)
{
    if (m_phase != Sending)
        return;
    m_sent += bytes;
    // One character in flight: the next leaves when this one has. One the
    // system takes at once is followed by the next in the same turn (the
    // socket tells no bytesWritten inside its own), a few dozen at most so
    // that other events still run.
    for (int n = 1; m_socket.bytesToWrite() == 0; ++n) {
        sendNext();
        // The last of a turn leaves with the socket's own, which tells it.
        if (m_phase != Sending || n == kCharsPerTurn)
            return;
        if (!m_socket.flush() || m_socket.bytesToWrite() != 0)
            return;
        ++m_sent;
    }
}

void IpSerialLink::onReadyRead()
{
    if (m_phase == Receiving && m_file)
        received(m_socket.readAll());
    // Otherwise it waits for the next reception.
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
    m_pending += bytes;
    m_pending = SplitReceivedChunk(
        m_pending, [this](const QByteArray& line) { m_file->write(line); }, false);
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
    // One cycle at a time, and none inside a send (its own return to
    // listening starts the next once it is over).
    if (m_cycleRunning || m_phase == Sending || m_phase == Finished)
        return;
    if (m_socket.state() == QAbstractSocket::UnconnectedState && !m_retry.isActive() &&
        !connectToBox())
        return;
    m_wanted = true;
    ReceptionFile file;
    if (!file.open()) {
        m_engine.ReceptionBlocked();
        m_engine.ReturnToListening();
        return;
    }
    m_timRS232.setInterval(int(Clock::realMs(qint64(Config().Port.TimeOut) * 1000)));
    m_timRS232.stop();
    m_file = &file;
    m_pending.clear();
    m_shown.clear();
    m_started = false;
    m_silence = false;
    m_takenOver = false;
    m_cycleRunning = true;
    m_phase = Receiving;
    m_engine.SetPortState(ChannelListening);
    SetStatus(384);
    // What the machine sent between two receptions waits in the socket, or
    // here when the box dropped the connection since.
    received(std::exchange(m_unread, {}));
    onReadyRead();
    bool stopped = false;
    while (!m_takenOver && !m_silence) {
        if (stopRequested()) {
            stopped = true;
            break;
        }
        WaitForEvents(-1);
    }
    m_timRS232.stop();
    m_file = nullptr;
    m_cycleRunning = false;
    if (m_takenOver) {
        // A send took the link over: it returns to listening itself.
        file.close();
        m_takenOver = false;
        return;
    }
    // Whatever arrived is kept: the unfinished line goes in too.
    if (!m_pending.isEmpty()) {
        file.write(m_pending + "\r\n");
        SendInfoMessage(BuildInfoMessage("{b}", {m_pending}), 0);
        m_pending.clear();
    }
    const bool whole = file.close();
    m_phase = Idle;
    // Stopping the transfer closes the link; listening opens it again.
    if (stopped)
        closeLink();
    if (!whole)
        m_engine.ReceptionBlocked();
    else
        m_engine.Examine();
    m_engine.ReturnToListening();
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
    if (!m_pieces.open(file, r.NbBlocAvance, r.EOB) || !connectToBox()) {
        m_phase = Idle;
        m_sender.SendFailed();
        return false;
    }
    while (m_phase == Sending && !m_lost && !stopRequested())
        WaitForEvents(-1);
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
