#include "server/ControlLink.h"

#include "dnc/ControlProtocol.h"

#include <QTcpSocket>

#include <cstdio>

namespace nodalis {

ControlLink::ControlLink(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &ControlLink::accept);
    // Room for a burst of clients connecting while a long command runs.
    m_server.setListenBacklogSize(256);
}

ControlLink::~ControlLink() = default;

QList<QByteArray> ControlLink::setAllowList(const QList<QByteArray>& entries)
{
    QList<QByteArray> bad;
    m_allow.clear();
    for (const QByteArray& entry : entries) {
        const QString text = QString::fromLatin1(entry.trimmed());
        if (text.isEmpty())
            continue;
        QPair<QHostAddress, int> subnet = text.contains(QLatin1Char('/'))
                                              ? QHostAddress::parseSubnet(text)
                                              : QPair<QHostAddress, int>(QHostAddress(text), -1);
        if (subnet.first.isNull()) {
            bad.append(entry);
            continue;
        }
        if (subnet.second < 0)
            subnet.second = subnet.first.protocol() == QAbstractSocket::IPv6Protocol ? 128 : 32;
        m_allow.append(subnet);
    }
    return bad;
}

bool ControlLink::allowed(const QHostAddress& address)
{
    if (m_allow.isEmpty())
        return true;
    bool ok = false;
    // An IPv4 client seen through an IPv6 socket still matches IPv4 ranges.
    const QHostAddress v4(address.toIPv4Address(&ok));
    for (const auto& subnet : m_allow) {
        if (address.isInSubnet(subnet) || (ok && v4.isInSubnet(subnet)))
            return true;
    }
    return false;
}

bool ControlLink::open(quint16 port, QString* error)
{
    m_server.close();
    m_listenIndex = freeIndex();
    if (!m_server.listen(QHostAddress::Any, port)) {
        if (error)
            *error = m_server.errorString();
        m_listenIndex = 0;
        return false;
    }
    emit listening(m_server.serverPort());
    return true;
}

quint16 ControlLink::port() const
{
    return m_server.isListening() ? m_server.serverPort() : 0;
}

int ControlLink::freeIndex() const
{
    int index = 1;
    while (m_clients.contains(index))
        ++index;
    return index;
}

void ControlLink::accept()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        if (!allowed(socket->peerAddress())) {
            const QString who = socket->peerAddress().toString();
            if (!m_refusedReported.contains(who)) {
                m_refusedReported.insert(who);
                std::fprintf(stderr,
                             "nodalis: control connection from %s refused (ControlAllowFrom)\n",
                             qPrintable(who));
                std::fflush(stderr);
            }
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // The client takes the listening element; listening moves on to a new one.
        const int k = m_listenIndex;
        socket->setParent(this);
        socket->setReadBufferSize(ArrivalBytes);
        m_clients.insert(k, socket);
        connect(socket, &QTcpSocket::readyRead, this, [this, k] { arrival(k); });
        connect(socket, &QTcpSocket::disconnected, this, [this, k] { remove(k); });
        m_listenIndex = freeIndex();
        emit listening(m_server.serverPort());
    }
}

void ControlLink::arrival(int k)
{
    QTcpSocket* socket = m_clients.value(k);
    if (!socket)
        return;
    // Each arrival is interpreted on its own, later, from the event loop: a
    // long command must not run inside readyRead, or this client's next
    // line (a stop) would not be seen until it ends.
    while (socket->bytesAvailable() > 0) {
        const QByteArray data = socket->read(ArrivalBytes);
        QMetaObject::invokeMethod(
            this, [this, data, k] { InterpreteDataTalmiron(data, k); }, Qt::QueuedConnection);
    }
}

void ControlLink::remove(int k)
{
    if (QTcpSocket* socket = m_clients.take(k)) {
        socket->disconnect(this);
        socket->deleteLater();
    }
}

void ControlLink::InterpreteDataTalmiron(const QByteArray& data, int k)
{
    for (const ControlLine& line : SplitArrival(data)) {
        if (!line.keyword.isEmpty() && m_runner)
            m_runner(line.keyword, line.arguments, k);
    }
}

int ControlLink::send(const QByteArray& message, int k)
{
    const QByteArray line = message + "\r\n";
    QList<QPair<int, QTcpSocket*>> targets;
    if (k != 0) {
        if (QTcpSocket* s = m_clients.value(k))
            targets.append({k, s});
    } else {
        for (auto it = m_clients.cbegin(); it != m_clients.cend(); ++it)
            targets.append({it.key(), it.value()});
    }
    int sent = 0;
    for (const auto& [index, socket] : targets) {
        if (socket->state() != QAbstractSocket::ConnectedState)
            continue;
        // Hand what the system takes now; what stays queued is what the
        // client has not read.
        socket->flush();
        if (socket->bytesToWrite() > MaxPendingBytes) {
            std::fprintf(stderr, "nodalis: control client %d does not read; closed\n", index);
            socket->abort();
            continue;
        }
        socket->write(line);
        ++sent;
    }
    return sent;
}

void ControlLink::closeClients()
{
    const QList<int> indices = m_clients.keys();
    for (int k : indices) {
        if (QTcpSocket* socket = m_clients.value(k)) {
            socket->flush();
            socket->disconnectFromHost();
        }
        remove(k);
    }
}

} // namespace nodalis
