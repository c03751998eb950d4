#include "server/ControlLink.h"

#include "dnc/EventMessages.h"
#include "dnc/WorkGate.h"
#include "platform/AnsiText.h"
#include "platform/ClosingConnection.h"

#include <QRegularExpression>
#include <QTcpSocket>

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace nodalis {

namespace {

void logLink(const QString& text)
{
    LogLine(toAnsi(QStringLiteral("Liaison de contrôle : ") + text));
}

} // namespace

ControlLink::ControlLink(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &ControlLink::accept);
    // Room for a burst of clients, or for those connecting while a long
    // command runs: a connection the queue has no room for is only tried
    // again by the client's system a second later. The system caps the
    // size at its own limit.
    m_server.setListenBacklogSize(4096);
}

ControlLink::~ControlLink()
{
    // Sockets are children of the link; their signals must not reach a
    // half-destroyed link.
    for (auto& [k, client] : m_clients) {
        if (client.socket)
            client.socket->disconnect(this);
    }
}

QList<QByteArray> ControlLink::setAllowList(const QList<QByteArray>& entries)
{
    QList<QByteArray> bad;
    m_allow.clear();
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    for (const QByteArray& entry : entries) {
        for (const QString& text :
             QString::fromLatin1(entry).split(separators, Qt::SkipEmptyParts)) {
            if (text.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) {
                m_allow.append({QHostAddress(QHostAddress::LocalHost), 8});
                m_allow.append({QHostAddress(QHostAddress::LocalHostIPv6), 128});
                continue;
            }
            QPair<QHostAddress, int> subnet =
                text.contains(QLatin1Char('/')) ? QHostAddress::parseSubnet(text)
                                                : QPair<QHostAddress, int>(QHostAddress(text), -1);
            if (subnet.first.isNull()) {
                bad.append(text.toLatin1());
                continue;
            }
            bool mapped = false;
            const quint32 v4 = subnet.first.toIPv4Address(&mapped);
            if (mapped && subnet.first.protocol() == QAbstractSocket::IPv6Protocol &&
                (subnet.second < 0 || subnet.second >= 96)) {
                // "::ffff:10.0.0.1" is the IPv4 address written the IPv6 way.
                subnet = {QHostAddress(v4), subnet.second < 0 ? 32 : subnet.second - 96};
            }
            if (subnet.second < 0)
                subnet.second = subnet.first.protocol() == QAbstractSocket::IPv6Protocol ? 128 : 32;
            m_allow.append(subnet);
        }
    }
    // A list that cannot be read fails closed: letting everyone in because
    // of a typing error would open E, T and REINIT to the whole network.
    m_refuseAll = !bad.isEmpty();
    return bad;
}

bool ControlLink::allowed(const QHostAddress& address) const
{
    if (m_refuseAll)
        return false;
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

QList<int> ControlLink::clientIndices() const
{
    QList<int> indices;
    for (const auto& entry : m_clients)
        indices.append(entry.first);
    return indices;
}

int ControlLink::freeIndex() const
{
    return m_freeIndices.empty() ? m_endIndex : *m_freeIndices.begin();
}

void ControlLink::takeIndex(int k)
{
    // The listening element may sit above indices freed since it was made.
    for (int i = m_endIndex; i < k; ++i)
        m_freeIndices.insert(i);
    m_endIndex = std::max(m_endIndex, k + 1);
    m_freeIndices.erase(k);
}

void ControlLink::releaseIndex(int k)
{
    m_freeIndices.insert(k);
    while (!m_freeIndices.empty() && *m_freeIndices.rbegin() == m_endIndex - 1) {
        m_freeIndices.erase(std::prev(m_freeIndices.end()));
        --m_endIndex;
    }
}

void ControlLink::publishSoon()
{
    // Clients connecting together move the listener many times over the
    // same port: one rewrite of Socket for them all, once they are in.
    if (m_publishPending)
        return;
    m_publishPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_publishPending = false;
            if (m_server.isListening())
                emit listening(m_server.serverPort());
        },
        Qt::QueuedConnection);
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
        takeIndex(k);
        Client& client = m_clients[k];
        client.socket = socket;
        // Taken now: once the peer stops sending, the socket layer has
        // already let go of its own descriptor.
        client.duplicate = std::make_unique<ClosingConnection>(socket->socketDescriptor());
        connect(socket, &QTcpSocket::readyRead, this, [this, k] { arrival(k); });
        connect(socket, &QTcpSocket::stateChanged, this, [this, k](auto state) {
            if (state == QAbstractSocket::ClosingState)
                peerStoppedSending(k);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, k] {
            const auto it = m_clients.find(k);
            if (it != m_clients.end() && !it->second.peerStopped)
                remove(k);
        });
        m_listenIndex = freeIndex();
        publishSoon();
    }
}

void ControlLink::arrival(int k)
{
    const auto it = m_clients.find(k);
    if (it == m_clients.end() || !it->second.socket)
        return;
    Client& client = it->second;
    // Lines are only queued here: their commands run later, each in its
    // turn, never inside readyRead (this client's next line, a stop, would
    // not be seen until a long command ended).
    const int dropped = client.lines.dropped();
    const QList<QByteArray> lines = client.lines.add(client.socket->readAll());
    if (client.lines.dropped() > dropped)
        logLink(QStringLiteral("ligne de commande de plus de %1 octets du client %2 ignorée")
                    .arg(MaxPendingBytes)
                    .arg(k));
    InterpreteDataTalmiron(k, lines);
}

void ControlLink::InterpreteDataTalmiron(int k, const QList<QByteArray>& lines)
{
    for (const QByteArray& text : lines) {
        const ControlLine line = ParseLine(text);
        if (line.keyword.isEmpty())
            continue;
        const auto it = m_clients.find(k);
        Client* client = it == m_clients.end() ? nullptr : &it->second;
        if (m_immediate && m_immediate(line.keyword, line.arguments)) {
            QMetaObject::invokeMethod(
                this,
                [this, k, line] {
                    if (m_runner && m_clients.count(k) > 0)
                        m_runner(line.keyword, line.arguments, k);
                },
                Qt::QueuedConnection);
            continue;
        }
        if (m_urgent && m_urgent(line.keyword)) {
            if (m_droppedByStop)
                dropWaiting();
            m_urgentLines.append({k, line});
            ++m_queuedCount;
        } else if (client &&
                   (client->queued.size() >= MaxQueuedPerClient || m_queuedCount >= MaxQueued)) {
            // Nobody drives a machine with a thousand commands in hand: a
            // client this far ahead is flooding the link.
            if (!client->overflowReported) {
                client->overflowReported = true;
                logLink(QStringLiteral("trop de commandes en attente du client %1 ; "
                                       "connexion fermée")
                            .arg(k));
            }
            if (client->socket)
                client->socket->abort();
            remove(k);
            return;
        } else if (client) {
            client->queued.append(line);
            ++m_queuedCount;
        } else {
            continue;
        }
        QMetaObject::invokeMethod(
            this, [this] { Gate().run([this] { runNext(); }); }, Qt::QueuedConnection);
    }
}

void ControlLink::dropWaiting()
{
    for (auto& [index, client] : m_clients) {
        const qsizetype dropped = client.queued.removeIf(
            [this](const ControlLine& waiting) { return m_droppedByStop(waiting.keyword); });
        m_queuedCount -= dropped;
        if (dropped > 0)
            logLink(QStringLiteral("arrêt : %1 commande(s) du client %2 abandonnée(s)")
                        .arg(dropped)
                        .arg(index));
    }
}

void ControlLink::runNext()
{
    int k = 0;
    ControlLine line;
    if (!m_urgentLines.isEmpty()) {
        std::tie(k, line) = m_urgentLines.takeFirst();
    } else {
        // The clients in turn, from the one after the last served.
        auto it = m_clients.upper_bound(m_lastServed);
        for (qsizetype n = 0; n < qsizetype(m_clients.size()); ++n, ++it) {
            if (it == m_clients.end())
                it = m_clients.begin();
            if (!it->second.queued.isEmpty())
                break;
        }
        if (it == m_clients.end() || it->second.queued.isEmpty())
            return;
        k = m_lastServed = it->first;
        line = it->second.queued.takeFirst();
    }
    --m_queuedCount;
    if (m_runner)
        m_runner(line.keyword, line.arguments, k);
    closeWhenAnswered(k);
}

void ControlLink::peerStoppedSending(int k)
{
    const auto it = m_clients.find(k);
    if (it == m_clients.end())
        return;
    Client& client = it->second;
    // Answers still owed go through the duplicate taken at the connection.
    if (!client.queued.isEmpty() && client.duplicate && client.duplicate->isValid())
        client.peerStopped = true;
}

void ControlLink::closeWhenAnswered(int k)
{
    const auto it = m_clients.find(k);
    if (it != m_clients.end() && it->second.peerStopped && it->second.queued.isEmpty())
        remove(k);
}

void ControlLink::remove(int k)
{
    const auto it = m_clients.find(k);
    if (it == m_clients.end())
        return;
    if (QTcpSocket* socket = it->second.socket) {
        socket->disconnect(this);
        socket->deleteLater();
    }
    m_queuedCount -= it->second.queued.size();
    m_queuedCount -= m_urgentLines.removeIf([k](const auto& entry) { return entry.first == k; });
    m_clients.erase(it);
    releaseIndex(k);
}

int ControlLink::send(const QByteArray& message, int k)
{
    const QByteArray line = message + "\r\n";
    QList<int> targets;
    if (k != 0) {
        if (m_clients.count(k) > 0)
            targets.append(k);
    } else {
        targets = clientIndices();
    }
    int sent = 0;
    for (int index : targets) {
        Client& client = m_clients.at(index);
        if (client.peerStopped) {
            if (client.duplicate->write(line))
                ++sent;
            continue;
        }
        QTcpSocket* socket = client.socket;
        if (!socket || socket->state() != QAbstractSocket::ConnectedState)
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
        // Straight to the system: a client that stops sending has its
        // connection closed at once, and what is still buffered here is lost.
        socket->flush();
        ++sent;
    }
    return sent;
}

void ControlLink::closeClients()
{
    for (int k : clientIndices()) {
        if (QTcpSocket* socket = m_clients.at(k).socket) {
            socket->flush();
            socket->disconnectFromHost();
        }
        remove(k);
    }
}

} // namespace nodalis
