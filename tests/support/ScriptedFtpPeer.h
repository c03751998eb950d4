#pragma once

// An FTP server for a test that says exactly what it is told: a greeting on
// connection, then for each command received (by its word: USER, LIST...)
// what its handler queues. Everything it does goes through one queue, one
// action every gapMs, so that two writes reach the client as two arrivals
// and one write holding two replies as one. It records the commands it
// received and plays the data connection by connecting back to the address
// of the last PORT.

#include <QByteArray>
#include <QByteArrayList>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>

namespace nodalis::test {

class ScriptedFtpPeer
{
public:
    using Handler = std::function<void(const QByteArray& argument)>;

    ScriptedFtpPeer()
    {
        on["USER"] = [this](const QByteArray&) { say("331 Password required\r\n"); };
        on["PASS"] = [this](const QByteArray&) { say("230 Logged in\r\n"); };
        on["CWD"] = [this](const QByteArray&) { say("250 Folder changed\r\n"); };
        on["PORT"] = [this](const QByteArray& a) {
            m_port = a;
            say("200 PORT ok\r\n");
        };
        on["QUIT"] = [this](const QByteArray&) {
            say("221 Goodbye\r\n");
            then([this] { hangUp(); });
        };
        m_tick.setSingleShot(true);
        QObject::connect(&m_tick, &QTimer::timeout, [this] { runNext(); });
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] { accept(); });
        m_server.listen(QHostAddress::LocalHost);
    }
    ~ScriptedFtpPeer()
    {
        m_tick.stop();
        delete m_control;
        delete m_data;
    }
    ScriptedFtpPeer(const ScriptedFtpPeer&) = delete;
    ScriptedFtpPeer& operator=(const ScriptedFtpPeer&) = delete;

    quint16 port() const { return m_server.serverPort(); }

    QByteArray greeting = "220 Ready\r\n"; // empty: the server says nothing
    int gapMs = 40;
    QHash<QByteArray, Handler> on;  // by command word
    QByteArrayList commands;        // as received, without CR LF
    QByteArray uploaded;            // what came on the data connection
    bool holdUpload = false;        // read only the first piece of an upload
    bool dataEnded = false;         // the client closed the data connection
    bool controlEnded = false;      // the client closed the control connection
    std::function<void()> onUpload; // the first bytes of an upload came

    // Queues an action.
    void then(std::function<void()> action)
    {
        m_queue.append(std::move(action));
        if (!m_tick.isActive())
            m_tick.start(gapMs);
    }
    // Queues one write on the control connection.
    void say(const QByteArray& write)
    {
        then([this, write] {
            if (m_control)
                m_control->write(write);
        });
    }
    // Reads the rest of a held upload, up to the end of the data connection.
    void releaseUpload()
    {
        holdUpload = false;
        if (m_data) {
            m_data->setReadBufferSize(0);
            takeUpload();
        }
    }
    void hangUp()
    {
        if (m_control)
            m_control->disconnectFromHost();
    }

    // Queues: connect to the address of the last PORT.
    void openData()
    {
        then([this] {
            const QByteArrayList n = m_port.split(',');
            if (n.size() != 6)
                return;
            const QString host = QString::fromLatin1(n.mid(0, 4).join('.'));
            m_data = new QTcpSocket;
            QObject::connect(m_data, &QTcpSocket::readyRead, [this] { takeUpload(); });
            QObject::connect(m_data, &QTcpSocket::disconnected, [this] {
                takeUpload();
                dataEnded = true;
            });
            m_data->connectToHost(host, quint16(n[4].toInt() * 256 + n[5].toInt()));
            m_data->waitForConnected(3000);
        });
    }
    // Queues pieces on the data connection, each one arrival.
    void sendData(const QByteArrayList& pieces)
    {
        for (const QByteArray& piece : pieces) {
            then([this, piece] {
                if (m_data)
                    m_data->write(piece);
            });
        }
    }
    void closeData()
    {
        then([this] {
            if (m_data)
                m_data->disconnectFromHost();
        });
    }

private:
    void accept()
    {
        delete m_control;
        m_control = m_server.nextPendingConnection();
        m_control->setParent(nullptr);
        QObject::connect(m_control, &QTcpSocket::readyRead, [this] { takeCommands(); });
        QObject::connect(m_control, &QTcpSocket::disconnected, [this] { controlEnded = true; });
        if (!greeting.isEmpty())
            say(greeting);
    }
    void takeCommands()
    {
        m_in += m_control->readAll();
        for (qsizetype end; (end = m_in.indexOf("\r\n")) >= 0;) {
            const QByteArray line = m_in.left(end);
            m_in.remove(0, end + 2);
            commands.append(line);
            const qsizetype space = line.indexOf(' ');
            const QByteArray word = (space < 0 ? line : line.left(space)).toUpper();
            if (const auto h = on.constFind(word); h != on.constEnd())
                (*h)(space < 0 ? QByteArray() : line.mid(space + 1));
        }
    }
    void takeUpload()
    {
        if (holdUpload && !uploaded.isEmpty())
            return;
        if (holdUpload)
            m_data->setReadBufferSize(8192);
        const bool first = uploaded.isEmpty();
        uploaded += m_data->readAll();
        if (first && !uploaded.isEmpty() && onUpload)
            onUpload();
    }
    void runNext()
    {
        if (m_queue.isEmpty())
            return;
        const std::function<void()> action = m_queue.takeFirst();
        action();
        if (!m_queue.isEmpty() && !m_tick.isActive())
            m_tick.start(gapMs);
    }

    QTcpServer m_server;
    QPointer<QTcpSocket> m_control;
    QPointer<QTcpSocket> m_data;
    QTimer m_tick;
    QList<std::function<void()>> m_queue;
    QByteArray m_in;
    QByteArray m_port;
};

} // namespace nodalis::test
