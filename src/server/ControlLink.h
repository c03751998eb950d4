#pragma once

#include "dnc/InfoNotifier.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

namespace nodalis {

// The control link's socket set (TcpVX): element 0 never listens nor
// connects, one element listens, every accepted client keeps the element
// that accepted it, and a new element takes the smallest free index.
class ControlLink : public QObject, public InfoNotifier
{
    Q_OBJECT

public:
    // Runs one received line's command: keyword, argument text, client index.
    using CommandRunner = std::function<void(const QByteArray&, const QByteArray&, int)>;

    // A client that does not read its notifications is dropped once this
    // much is waiting for it.
    static constexpr qint64 MaxPendingBytes = 4 * 1024 * 1024;
    // Largest piece of a client's data handled as one arrival.
    static constexpr qint64 ArrivalBytes = 64 * 1024;

    explicit ControlLink(QObject* parent = nullptr);
    ~ControlLink() override;

    void setCommandRunner(CommandRunner runner) { m_runner = std::move(runner); }

    // Addresses or CIDR ranges ("10.0.0.0/8") allowed to connect; empty: any.
    // Returns the entries that could not be read.
    QList<QByteArray> setAllowList(const QList<QByteArray>& entries);

    // Starts listening on the port (0: any free port); false with the reason.
    bool open(quint16 port, QString* error = nullptr);

    // The local port actually listened on, 0 when not listening.
    quint16 port() const override;
    int listeningIndex() const { return m_listenIndex; }
    QList<int> clientIndices() const { return m_clients.keys(); }

    // Sends one line (the text followed by CR LF) to client k, or to every
    // client when k is 0. Unknown or closed clients are skipped.
    // Returns the number of clients it went to.
    int send(const QByteArray& message, int k) override;

    // Closes and removes every connected element.
    void closeClients();

    // Splits one arrival into lines and runs each line's command in order.
    void InterpreteDataTalmiron(const QByteArray& data, int k);

signals:
    // The listening port changed (opened, or the listener moved to a new element).
    void listening(quint16 port);

private:
    void accept();
    void arrival(int k);
    void remove(int k);
    int freeIndex() const;
    bool allowed(const QHostAddress& address);

    QTcpServer m_server;
    QMap<int, QTcpSocket*> m_clients;
    int m_listenIndex = 0;
    CommandRunner m_runner;
    QList<QPair<QHostAddress, int>> m_allow;
    QSet<QString> m_refusedReported;
};

} // namespace nodalis
