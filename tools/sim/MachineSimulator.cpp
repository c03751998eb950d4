#include "sim/MachineSimulator.h"

#include "sim/ScriptedPeer.h"

#include <QDateTime>
#include <QFile>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace nodalis::sim {

MachineSimulator::MachineSimulator(QObject* parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &MachineSimulator::pump);
}

MachineSimulator::~MachineSimulator()
{
    close();
}

bool MachineSimulator::open()
{
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    // A server started from this process must not inherit the line's ends:
    // it would keep the line up after the simulator closes it.
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    m_master = master;
    m_slaveKeeper = slave;
    m_devicePath = QString::fromLocal8Bit(name);
    m_started = QDateTime::currentMSecsSinceEpoch();
    m_notifier = new QSocketNotifier(master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &MachineSimulator::readMaster);
    return true;
}

bool MachineSimulator::linkAt(const QString& path)
{
    QFile::remove(path);
    if (!QFile::link(m_devicePath, path)) {
        m_error = QStringLiteral("cannot link %1").arg(path);
        return false;
    }
    m_link = path;
    return true;
}

bool MachineSimulator::listenTcp(quint16 port)
{
    m_listener = new QTcpServer(this);
    if (!m_listener->listen(QHostAddress::LocalHost, port)) {
        m_error = m_listener->errorString();
        delete m_listener;
        m_listener = nullptr;
        return false;
    }
    m_port = m_listener->serverPort();
    m_started = QDateTime::currentMSecsSinceEpoch();
    connect(m_listener, &QTcpServer::newConnection, this, &MachineSimulator::accept);
    return true;
}

quint16 MachineSimulator::tcpPort() const
{
    return m_port;
}

bool MachineSimulator::connected() const
{
    return m_listener ? m_client && m_client->state() == QAbstractSocket::ConnectedState
                      : m_master >= 0;
}

void MachineSimulator::accept()
{
    while (QTcpSocket* socket = m_listener->nextPendingConnection()) {
        // One client at a time, as a converter box: the newest one.
        if (m_client)
            m_client->deleteLater();
        m_client = socket;
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            if (const QByteArray bytes = socket->readAll(); !bytes.isEmpty())
                record(bytes);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (m_client == socket)
                m_client = nullptr;
            socket->deleteLater();
        });
        emit clientConnected();
        if (!m_timer.isActive())
            m_timer.start(0);
    }
}

void MachineSimulator::drop(int downMs)
{
    if (m_client)
        m_client->disconnectFromHost();
    if (downMs <= 0 || !m_listener)
        return;
    m_listener->close();
    QTimer::singleShot(downMs, this, [this] {
        if (m_listener)
            m_listener->listen(QHostAddress::LocalHost, m_port);
    });
}

void MachineSimulator::close()
{
    m_timer.stop();
    m_queue.clear();
    if (m_client)
        m_client->abort();
    delete m_listener; // and the client, its child
    m_listener = nullptr;
    m_client = nullptr;
    delete m_notifier;
    m_notifier = nullptr;
    if (m_slaveKeeper >= 0)
        ::close(m_slaveKeeper);
    if (m_master >= 0)
        ::close(m_master);
    m_slaveKeeper = m_master = -1;
    if (!m_link.isEmpty())
        QFile::remove(m_link);
    m_link.clear();
}

void MachineSimulator::readMaster()
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        record(QByteArray(buffer, qsizetype(n)));
    }
}

void MachineSimulator::record(const QByteArray& bytes)
{
    m_received.append({QDateTime::currentMSecsSinceEpoch() - m_started, bytes});
    emit dataReceived(bytes);
}

QByteArray MachineSimulator::receivedBytes() const
{
    QByteArray all;
    for (const Received& r : m_received)
        all += r.bytes;
    return all;
}

void MachineSimulator::send(const QByteArray& bytes, int chunkSize, int paceMs)
{
    m_queue.enqueue({bytes, chunkSize, paceMs, 0});
    if (!m_timer.isActive())
        m_timer.start(0);
}

void MachineSimulator::wait(int ms)
{
    m_queue.enqueue({{}, 0, 0, ms});
    if (!m_timer.isActive())
        m_timer.start(0);
}

void MachineSimulator::closeLater()
{
    m_queue.enqueue({{}, 0, 0, 0, true});
    if (!m_timer.isActive())
        m_timer.start(0);
}

void MachineSimulator::dropLater(int downMs)
{
    m_queue.enqueue({{}, 0, 0, 0, false, true, downMs});
    if (!m_timer.isActive())
        m_timer.start(0);
}

bool MachineSimulator::writeAll(const QByteArray& bytes)
{
    if (m_listener) {
        if (!m_client || m_client->write(bytes) != bytes.size())
            return false;
        m_sent += bytes.size();
        return true;
    }
    qsizetype done = 0;
    while (done < bytes.size() && m_master >= 0) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            m_sent += n;
        } else if (errno == EAGAIN) {
            // The line is full: let the other end read, then go on.
            QMetaObject::invokeMethod(
                this,
                [this, rest = bytes.mid(done)] {
                    m_queue.prepend({rest, 0, 0, 0});
                    m_timer.start(2);
                },
                Qt::QueuedConnection);
            return false;
        } else {
            return false;
        }
    }
    return true;
}

void MachineSimulator::pump()
{
    if (m_queue.isEmpty() || !isOpen()) {
        emit idleAgain();
        return;
    }
    if (!connected())
        return; // over TCP: the steps go on when the server connects
    Step& step = m_queue.head();
    if (step.close) {
        close();
        emit idleAgain();
        return;
    }
    if (step.drop) {
        drop(m_queue.dequeue().downMs);
        return;
    }
    if (step.waitMs > 0) {
        const int ms = step.waitMs;
        m_queue.dequeue();
        m_timer.start(ms);
        return;
    }
    if (step.chunk <= 0 || step.chunk >= step.bytes.size()) {
        const QByteArray bytes = m_queue.dequeue().bytes;
        if (writeAll(bytes))
            m_timer.start(0);
        return;
    }
    const QByteArray piece = step.bytes.left(step.chunk);
    step.bytes.remove(0, step.chunk);
    const int pace = step.pace;
    if (writeAll(piece))
        m_timer.start(pace);
}

QString RunScriptStep(MachineSimulator& sim, const QStringList& words, int& pace, int& chunk)
{
    const QString command = words.value(0);
    const QString arg = words.mid(1).join(QLatin1Char(' '));
    bool ok = true;
    if (command == QLatin1String("send")) {
        QFile f(arg);
        if (!f.open(QIODevice::ReadOnly))
            return QStringLiteral("cannot read %1").arg(arg);
        sim.send(f.readAll(), chunk, pace);
    } else if (command == QLatin1String("text")) {
        sim.send(DecodeEscapes(arg), chunk, pace);
    } else if (command == QLatin1String("noise")) {
        QByteArray noise(arg.toInt(&ok), '\0');
        for (char& c : noise)
            c = char(QRandomGenerator::global()->bounded(256));
        sim.send(noise, chunk, pace);
    } else if (command == QLatin1String("wait")) {
        sim.wait(arg.toInt(&ok));
    } else if (command == QLatin1String("pace")) {
        pace = arg.toInt(&ok);
    } else if (command == QLatin1String("chunk")) {
        chunk = arg.toInt(&ok);
    } else if (command == QLatin1String("close")) {
        sim.closeLater();
    } else if (command == QLatin1String("drop")) {
        sim.dropLater();
    } else if (command == QLatin1String("down")) {
        sim.dropLater(arg.toInt(&ok));
    } else {
        return QStringLiteral("unknown command %1").arg(command);
    }
    return ok ? QString() : QStringLiteral("%1 takes a number").arg(command);
}

} // namespace nodalis::sim
