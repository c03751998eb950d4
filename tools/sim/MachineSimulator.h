#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QQueue>
#include <QString>
#include <QTimer>

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;

namespace nodalis::sim {

// Plays the machine tool on the far end of a pseudo-terminal: the server
// opens the device path as its serial port; the simulator sends calls,
// programs and noise at a chosen pace, and records what the server sends.
// Or plays an IP-serial converter and its machine together: it listens on a
// TCP port of 127.0.0.1, and its steps run while the server is connected.
class MachineSimulator : public QObject
{
    Q_OBJECT

public:
    struct Received
    {
        qint64 ms; // since the simulator opened
        QByteArray bytes;
    };

    explicit MachineSimulator(QObject* parent = nullptr);
    ~MachineSimulator() override;

    // Creates the pseudo-terminal pair; false with errorString() set.
    bool open();
    bool isOpen() const { return m_master >= 0 || m_listener; }
    QString devicePath() const { return m_devicePath; }
    QString errorString() const { return m_error; }
    // Also reachable under a fixed name (a symbolic link replaced if present).
    bool linkAt(const QString& path);
    // Listens on 127.0.0.1:port instead (0: a free port, then see tcpPort());
    // false with errorString() set.
    bool listenTcp(quint16 port);
    quint16 tcpPort() const;
    bool connected() const;

    // Queues bytes to send: chunkSize bytes every paceMs milliseconds
    // (0: all at once). Sending happens from the event loop.
    void send(const QByteArray& bytes, int chunkSize = 0, int paceMs = 0);
    // Queues a pause in the sending.
    void wait(int ms);
    // Queues the device's going away, after what is queued before it.
    void closeLater();
    // TCP: queues closing the connection (the next steps wait for the server
    // to connect again), and refusing connections for ms after it.
    void dropLater(int downMs = 0);
    bool idle() const { return m_queue.isEmpty() && !m_timer.isActive(); }
    qint64 sentBytes() const { return m_sent; }

    // The device goes away: the other end sees its line fail.
    void close();

    const QList<Received>& received() const { return m_received; }
    QByteArray receivedBytes() const;
    void clearReceived() { m_received.clear(); }

signals:
    void dataReceived(const QByteArray& bytes);
    void idleAgain();
    void clientConnected();

private:
    struct Step
    {
        QByteArray bytes;
        int chunk = 0;
        int pace = 0;
        int waitMs = 0;
        bool close = false;
        bool drop = false;
        int downMs = 0;
    };

    void readMaster();
    void accept();
    void record(const QByteArray& bytes);
    void drop(int downMs);
    void pump();
    bool writeAll(const QByteArray& bytes);

    int m_master = -1;
    int m_slaveKeeper = -1; // keeps the line up between two openings by the server
    QString m_devicePath;
    QString m_link;
    QString m_error;
    QSocketNotifier* m_notifier = nullptr;
    QTcpServer* m_listener = nullptr;
    QTcpSocket* m_client = nullptr;
    quint16 m_port = 0;
    QQueue<Step> m_queue;
    QTimer m_timer;
    qint64 m_sent = 0;
    qint64 m_started = 0;
    QList<Received> m_received;
};

// A short text of the simulator's commands, run in order:
//   send FILE | text TEXT | noise N | wait MS | pace MS | chunk N | close |
//   drop | down MS
// ("text" takes C escapes: \r \n \t \xHH). Returns an error text, or empty.
QString RunScriptStep(MachineSimulator& sim, const QStringList& words, int& pace, int& chunk);

} // namespace nodalis::sim
