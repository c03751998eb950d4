#include "protocols/FtpSocketClient.h"

#include "dnc/EventMessages.h"
#include "dnc/InfoNotifier.h"
#include "dnc/LineFiles.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "dnc/ReceptionFile.h"
#include "dnc/ServerView.h"
#include "platform/AnsiText.h"
#include "platform/Clock.h"
#include "startup/AppPaths.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"

#include <QDir>
#include <QFileInfo>

namespace nodalis {

namespace {

constexpr int kDataError = 307;
constexpr int kDataClosed = 305;
constexpr int kControlClosed = 308;
constexpr int kControlConnected = 309;
constexpr int kCommandSent = 311;
constexpr int kControlError = 312;
constexpr int kLoginRefused = 313;
constexpr int kNoSuchFile = 314;
constexpr int kSendFileMissing = 506;
constexpr int kReceptionFailed = 713;
constexpr int kStopLookMs = 100;

} // namespace

FtpSocketClient::FtpSocketClient(QObject* parent) : QObject(parent)
{
    m_turn.setSingleShot(true);
    connect(&m_turn, &QTimer::timeout, this, &FtpSocketClient::step);
    m_silence.setSingleShot(true);
    connect(&m_silence, &QTimer::timeout, this, &FtpSocketClient::schedule);
    connect(&m_stopWatch, &QTimer::timeout, this, &FtpSocketClient::schedule);
    // The signals only note that something happened; the job acts on it
    // from its next turn.
    connect(&tcpComTCP, &QTcpSocket::connected, this, &FtpSocketClient::schedule);
    connect(&tcpComTCP, &QTcpSocket::readyRead, this, &FtpSocketClient::schedule);
    connect(&tcpComTCP, &QTcpSocket::disconnected, this, &FtpSocketClient::schedule);
    connect(&tcpComTCP, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        // The server closing the connection is the end of a job, no error.
        if (e == QAbstractSocket::RemoteHostClosedError || m_hasControlError)
            return;
        m_hasControlError = true;
        m_controlError = e;
        schedule();
    });
    connect(&tcpComData, &QTcpServer::newConnection, this, &FtpSocketClient::schedule);
}

FtpSocketClient::~FtpSocketClient()
{
    m_job = NoJob;
    tcpComTCP.abort();
    if (m_data)
        m_data->abort();
}

FtpSocketClient::Step FtpSocketClient::StepFor(int job, QByteArrayView code, const Script& s)
{
    const QByteArray login = "USER " + s.user;
    if (code == "220")
        return {login, 0, NewLogin};
    if (code == "332" || code == "532")
        return job == Send ? Step{login, 0, NewLogin} : Step{};
    if (code == "331")
        return {"PASS " + s.password};
    if (code == "230")
        return {"CWD " + (job == Send ? s.sendFolder : s.receiveFolder)};
    if (code == "250")
        return {"PORT " + s.portArgument};
    if (code == "200") {
        if (job == Send)
            return {"STOR " + s.remoteName};
        return {job == Fetch ? "RETR " + s.remoteName : QByteArray("LIST ")};
    }
    if (code == "150")
        return job == Send ? Step{{}, 0, SendFile} : Step{};
    if (code == "226")
        return {job == Send ? "QUIT" : "QUIT ", 0, Transferred};
    if (code == "501")
        return job == Fetch ? Step{"QUIT "} : Step{};
    if (code == "426" || code == "421")
        return job == Send ? Step{{}, 0, CloseFile} : Step{};
    if (code == "530")
        return {"QUIT ", kLoginRefused};
    if (code == "550")
        return job == Fetch ? Step{"QUIT ", kNoSuchFile} : Step{};
    if (code == "221")
        return job == Fetch ? Step{{}, 0, Closed} : Step{};
    return {};
}

QByteArray FtpSocketClient::PortArgument(const QHostAddress& address, quint16 port)
{
    bool ipv4 = false;
    const quint32 ip = address.toIPv4Address(&ipv4);
    const QHostAddress shown = ipv4 ? QHostAddress(ip) : QHostAddress(QHostAddress::LocalHost);
    return shown.toString().toLatin1().replace('.', ',') + ',' + QByteArray::number(port / 256) +
           ',' + QByteArray::number(port % 256);
}

QList<qsizetype> FtpSocketClient::BlockSizes(qint64 length)
{
    QList<qsizetype> blocks;
    for (qint64 left = length; left > 0; left -= BlockSize)
        blocks.append(qsizetype(qMin<qint64>(left, BlockSize)));
    return blocks;
}

int FtpSocketClient::WinsockError(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return 10061;
    case QAbstractSocket::RemoteHostClosedError:
        return 10053;
    case QAbstractSocket::HostNotFoundError:
        return 11001;
    case QAbstractSocket::SocketAccessError:
        return 10013;
    case QAbstractSocket::SocketResourceError:
        return 10055;
    case QAbstractSocket::SocketTimeoutError:
        return 10060;
    case QAbstractSocket::DatagramTooLargeError:
        return 10040;
    case QAbstractSocket::AddressInUseError:
        return 10048;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return 10049;
    case QAbstractSocket::UnsupportedSocketOperationError:
        return 10045;
    default:
        return 10051; // network unreachable: the general network failure
    }
}

bool FtpSocketClient::ExeCMD(int mode)
{
    if (mode < List || mode > Fetch || running())
        return false;
    const Settings& s = Config();
    if (mode == Send) {
        m_file.setFileName(TempFilePath(fromAnsi(Channel().targetName)));
        if (!m_file.open(QIODevice::ReadOnly)) {
            SetStatus(kSendFileMissing, {toAnsi(QDir::toNativeSeparators(m_file.fileName()))});
            return false;
        }
        m_blocks = BlockSizes(m_file.size());
    }
    if (mode == Fetch) {
        const QString& path = Paths().receptionFile;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QString error;
        m_sink = OpenFileSink(path, error);
        if (!m_sink) {
            SetStatusWithReason(kReceptionFailed, toAnsi(error));
            return false;
        }
    }
    tcpComData.close();
    if (!tcpComData.listen(QHostAddress::AnyIPv4)) {
        SetStatus(kDataError, {QByteArray::number(WinsockError(tcpComData.serverError())) +
                               ":\r\n" + toAnsi(tcpComData.errorString())});
        m_file.close();
        m_sink.reset();
        return false;
    }
    m_job = Job(mode);
    m_stopAtStart = State().stopRequested;
    m_connectedSaid = m_controlDone = m_hasControlError = false;
    m_replies.clear();
    m_transferred = m_failed = false;
    m_dataClosedSaid = m_hasDataError = false;
    m_carry.clear();
    m_nextBlock = 0;
    m_sendWanted = m_dataSent = m_closed = false;
    tcpComTCP.abort();
    tcpComTCP.connectToHost(fromAnsi(TrimSpaces(s.RemoteHost)),
                            quint16(TrimSpaces(s.RemotePort).toInt()));
    m_silence.start(Clock::realMs(SilenceMs));
    m_stopWatch.start(kStopLookMs);
    return true;
}

void FtpSocketClient::schedule()
{
    if (m_job != NoJob)
        m_turn.start(0);
}

void FtpSocketClient::step()
{
    // A status lets events run, and with them this timer again: the turn
    // in progress takes what came meanwhile.
    if (m_inStep) {
        m_again = true;
        return;
    }
    m_inStep = true;
    do {
        m_again = false;
        turn();
    } while (m_again && running());
    m_inStep = false;
}

void FtpSocketClient::turn()
{
    if (!running())
        return;
    if (!State().stopRequested)
        m_stopAtStart = false;
    else if (!m_stopAtStart) {
        m_failed = true;
        finish();
        return;
    }
    if (m_hasControlError) {
        failControl(WinsockError(m_controlError), toAnsi(tcpComTCP.errorString()));
        return;
    }
    if (!m_silence.isActive()) {
        failControl(WinsockError(QAbstractSocket::SocketTimeoutError),
                    toAnsi(QStringLiteral("le serveur FTP ne répond plus")));
        return;
    }
    if (!m_connectedSaid && tcpComTCP.state() == QAbstractSocket::ConnectedState) {
        m_connectedSaid = true;
        SetStatus(kControlConnected);
    }
    if (!m_data && tcpComData.hasPendingConnections())
        acceptData();
    takeData();
    if (!running())
        return;
    if (const QByteArray arrival = tcpComTCP.readAll(); !arrival.isEmpty()) {
        m_silence.start();
        takeReplies(arrival);
    }
    if (m_job == Send)
        sendBlocks();
    if (!m_controlDone && m_connectedSaid &&
        tcpComTCP.state() == QAbstractSocket::UnconnectedState && tcpComTCP.bytesAvailable() == 0) {
        m_controlDone = true;
        SetStatus(kControlClosed);
    }
    // A listing or a fetch ends once its data is all in.
    if (m_controlDone &&
        (m_job == Send || !m_data || m_data->state() == QAbstractSocket::UnconnectedState))
        finish();
}

void FtpSocketClient::takeReplies(const QByteArray& arrival)
{
    for (const QByteArray& code : m_replies.take(arrival)) {
        if (!running())
            break;
        apply(StepFor(m_job, code, script()));
    }
}

QList<QByteArray> FtpReplies::take(const QByteArray& arrival)
{
    QList<QByteArray> codes;
    const QByteArray text = std::exchange(m_multiPiece, {}) + arrival;
    qsizetype at = 0;
    while (at < text.size()) {
        const qsizetype end = text.indexOf("\r\n", at);
        const QByteArray line = text.mid(at, end < 0 ? -1 : end - at);
        at = end < 0 ? text.size() : end + 2;
        if (!m_multiCode.isEmpty()) {
            if (end < 0)
                m_multiPiece = line; // its end comes with the next arrival
            else if (line == m_multiCode || line.startsWith(m_multiCode + ' '))
                m_multiCode.clear();
            continue;
        }
        const QByteArray code = line.left(3);
        if (line.size() > 3 && line[3] == '-')
            m_multiCode = code;
        codes.append(code);
    }
    return codes;
}

void FtpReplies::clear()
{
    m_multiCode.clear();
    m_multiPiece.clear();
}

void FtpSocketClient::apply(const Step& step)
{
    if (step.status != 0)
        SetStatus(step.status);
    switch (step.effect) {
    case NewLogin:
        m_dataSent = false;
        m_closed = false;
        break;
    case SendFile:
        m_sendWanted = true;
        break;
    case CloseFile:
        // The server ended the transfer: what is left of the file stays here.
        m_file.close();
        m_sendWanted = false;
        if (m_data && !m_dataClosedSaid) {
            m_dataClosedSaid = true;
            m_data->abort();
        }
        break;
    case Transferred:
        m_transferred = true;
        break;
    case Closed:
        m_closed = true;
        break;
    case Nothing:
        break;
    }
    if (!step.command.isEmpty())
        SendTcpCmd(step.command);
}

void FtpSocketClient::SendTcpCmd(const QByteArray& command)
{
    if (tcpComTCP.state() != QAbstractSocket::ConnectedState)
        return;
    tcpComTCP.write(command + "\r\n");
    // Shown and logged like every command, but never the password itself.
    const QByteArray shown = command.startsWith("PASS ") ? QByteArray("PASS ****") : command;
    Channel().programText = shown;
    SetStatus(kCommandSent, {shown}, true);
}

FtpSocketClient::Script FtpSocketClient::script() const
{
    const Settings& s = Config();
    return {s.ReseauUserName,     s.UserPassword,
            s.DefaultDirHostSend, s.DefaultDirHostReceiv,
            Channel().targetName, PortArgument(tcpComTCP.localAddress(), tcpComData.serverPort())};
}

void FtpSocketClient::acceptData()
{
    m_data = tcpComData.nextPendingConnection();
    // One data connection per job: the listening socket takes no more.
    tcpComData.close();
    if (!m_data)
        return;
    m_data->setParent(this);
    connect(m_data, &QTcpSocket::readyRead, this, &FtpSocketClient::schedule);
    connect(m_data, &QTcpSocket::disconnected, this, &FtpSocketClient::schedule);
    connect(m_data, &QTcpSocket::bytesWritten, this, [this] {
        m_silence.start();
        schedule();
    });
    connect(m_data, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (e != QAbstractSocket::RemoteHostClosedError)
            m_hasDataError = true;
        schedule();
    });
}

void FtpSocketClient::takeData()
{
    if (!m_data || m_dataClosedSaid)
        return;
    if (m_hasDataError) {
        m_hasDataError = false;
        m_dataClosedSaid = true;
        SetStatus(kDataError, {QByteArray::number(WinsockError(m_data->error())) + ":\r\n" +
                               toAnsi(m_data->errorString())});
        m_data->abort();
        return;
    }
    if (const QByteArray bytes = m_data->readAll(); !bytes.isEmpty()) {
        m_silence.start();
        if (m_job == List) {
            m_carry += bytes;
            lines(false);
        } else if (m_job == Fetch && !(m_sink->write(bytes) && m_sink->flush())) {
            SetStatusWithReason(kReceptionFailed, toAnsi(m_sink->error()));
            m_failed = true;
            finish();
            return;
        }
    }
    if (m_data->state() == QAbstractSocket::UnconnectedState) {
        m_dataClosedSaid = true;
        if (m_job == List)
            lines(true);
        SetStatus(kDataClosed);
    }
}

void FtpSocketClient::lines(bool end)
{
    QByteArray message;
    qsizetype at = 0;
    for (qsizetype cr; (cr = m_carry.indexOf("\r\n", at)) >= 0; at = cr + 2)
        message += m_carry.mid(at, cr - at) + '|';
    m_carry.remove(0, at);
    if (end && !m_carry.isEmpty())
        message += std::exchange(m_carry, {}) + '|';
    if (!message.isEmpty())
        SendInfoMessage("{l}" + message, 0);
}

void FtpSocketClient::sendBlocks()
{
    if (!m_sendWanted || !m_data || m_data->state() != QAbstractSocket::ConnectedState ||
        m_data->bytesToWrite() > 0)
        return;
    // One block at a time: the next leaves once this one is with the system.
    if (m_file.isOpen() && m_nextBlock < m_blocks.size()) {
        const QByteArray block = m_file.read(m_blocks[m_nextBlock++]);
        View().setBlockDisplay(block);
        m_data->write(block);
        return;
    }
    // All sent, or the server stopped the send: the end of the data
    // connection is the end of the file.
    m_sendWanted = false;
    m_dataSent = m_file.isOpen() && m_nextBlock == m_blocks.size();
    m_file.close();
    m_dataClosedSaid = true;
    m_data->disconnectFromHost();
}

void FtpSocketClient::failControl(int number, const QByteArray& description)
{
    SetStatus(kControlError, {QByteArray::number(number), description}, true);
    View().setBlockDisplay({});
    m_failed = true;
    finish();
}

void FtpSocketClient::finish()
{
    if (m_sink) {
        if (!m_sink->close() && !m_failed) {
            SetStatusWithReason(kReceptionFailed, toAnsi(m_sink->error()));
            m_failed = true;
        }
        m_sink.reset();
    }
    const bool complete = m_transferred && !m_failed && (m_job != Send || m_dataSent);
    m_job = NoJob;
    m_turn.stop();
    m_silence.stop();
    m_stopWatch.stop();
    m_file.close();
    tcpComData.close();
    if (QTcpSocket* data = m_data) {
        data->disconnect(this);
        data->abort();
        data->deleteLater();
        m_data = nullptr;
    }
    tcpComTCP.abort();
    emit finished(complete);
}

} // namespace nodalis
