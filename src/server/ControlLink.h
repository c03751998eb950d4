#pragma once

#include "dnc/ControlProtocol.h"
#include "dnc/InfoNotifier.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QTcpServer>

#include <functional>
#include <map>
#include <memory>
#include <set>

class QTcpSocket;

namespace nodalis {

class ClosingConnection;

// The control link's socket set (TcpVX): element 0 never listens nor
// connects, one element listens, every accepted client keeps the element
// that accepted it, and a new element takes the smallest free index.
//
// Received lines wait in a queue per client and run one at a time through
// the server's work gate, taking the clients in turn: a command never runs
// inside another's wait, and one client flooding the link delays the others
// by one command at most.
class ControlLink : public QObject, public InfoNotifier
{
    Q_OBJECT

public:
    // Runs one received line's command: keyword, argument text, client index.
    using CommandRunner = std::function<void(const QByteArray&, const QByteArray&, int)>;
    // Called as a line is received, before it waits for its turn: true when
    // its command acts at once (a stop sets its flag) and runs before the
    // lines already waiting.
    using UrgentCheck = std::function<bool(const QByteArray& keyword)>;

    // A client that does not read its notifications is dropped once this
    // much is waiting for it; a command line may be as long.
    static constexpr qint64 MaxPendingBytes = 4 * 1024 * 1024;
    // Lines waiting for their turn, for one client and for all; a client
    // beyond its share is closed.
    static constexpr qsizetype MaxQueuedPerClient = 1024;
    static constexpr qsizetype MaxQueued = 8192;

    explicit ControlLink(QObject* parent = nullptr);
    ~ControlLink() override;

    void setCommandRunner(CommandRunner runner) { m_runner = std::move(runner); }
    void setUrgentCheck(UrgentCheck check) { m_urgent = std::move(check); }
    // Commands that only answer run as soon as they arrive, even while
    // another waits (PING), by keyword and arguments.
    using ImmediateCheck = std::function<bool(const QByteArray&, const QByteArray&)>;
    void setImmediateCheck(ImmediateCheck check) { m_immediate = std::move(check); }
    // Commands still waiting that a stop drops (the remote-file operations).
    void setDroppedByStop(UrgentCheck check) { m_droppedByStop = std::move(check); }

    // Addresses or CIDR ranges ("10.0.0.0/8") allowed to connect, "localhost"
    // for the loopback addresses; entries are separated by commas,
    // semicolons or blanks. Empty: anyone. Returns the entries that could
    // not be read: with any, nobody is let in.
    QList<QByteArray> setAllowList(const QList<QByteArray>& entries);
    bool allowsEveryone() const { return m_allow.isEmpty() && !m_refuseAll; }

    // Starts listening on the port (0: any free port); false with the reason.
    bool open(quint16 port, QString* error = nullptr);

    // The local port actually listened on, 0 when not listening.
    quint16 port() const override;
    int listeningIndex() const { return m_listenIndex; }
    QList<int> clientIndices() const;

    // Sends one line (the text followed by CR LF) to client k, or to every
    // client when k is 0. Unknown or closed clients are skipped.
    // Returns the number of clients it went to.
    int send(const QByteArray& message, int k) override;

    // Closes and removes every connected element.
    void closeClients();

signals:
    // The listening port is to be published: at the opening, and after the
    // listener moved to a new element (once for the connections accepted
    // in one pass of the event loop).
    void listening(quint16 port);

private:
    struct Client
    {
        QTcpSocket* socket = nullptr;
        LineAssembler lines{MaxPendingBytes};
        QList<ControlLine> queued;
        // A duplicate of the connection's descriptor: when the peer stops
        // sending (peerStopped), it gets its answers through it, then is closed.
        std::unique_ptr<ClosingConnection> duplicate;
        bool peerStopped = false;
        bool overflowReported = false;
    };

    void accept();
    void publishSoon();
    void arrival(int k);
    // Queues the commands of client k's complete lines, each to run in its turn.
    void InterpreteDataTalmiron(int k, const QList<QByteArray>& lines);
    void runNext();
    // A stop arrived: the commands it drops leave the queues.
    void dropWaiting();
    void peerStoppedSending(int k);
    void closeWhenAnswered(int k);
    void remove(int k);
    int freeIndex() const;
    void takeIndex(int k);
    void releaseIndex(int k);
    bool allowed(const QHostAddress& address) const;

    QTcpServer m_server;
    std::map<int, Client> m_clients;
    // Indices given back below m_endIndex, the one past the highest taken:
    // the smallest free index without walking the clients.
    std::set<int> m_freeIndices;
    int m_endIndex = 1;
    QList<QPair<int, ControlLine>> m_urgentLines;
    // Lines waiting, urgent ones included, for the cap on all clients.
    qsizetype m_queuedCount = 0;
    bool m_publishPending = false;
    int m_lastServed = 0;
    int m_listenIndex = 0;
    CommandRunner m_runner;
    UrgentCheck m_urgent;
    ImmediateCheck m_immediate;
    UrgentCheck m_droppedByStop;
    QList<QPair<QHostAddress, int>> m_allow;
    bool m_refuseAll = false;
    QSet<QString> m_refusedReported;
};

} // namespace nodalis
