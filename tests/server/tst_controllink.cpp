// The control link on loopback: socket indices, replies, commands run from
// the event loop, and clients that misbehave. The published port and the
// allow-list are tested on the whole process (tst_control_process).

#include "dnc/EventMessages.h"
#include "dnc/ProcessState.h"
#include "platform/Clock.h"
#include "server/ControlLink.h"
#include "server/ServerHost.h"
#include "startup/AppPaths.h"
#include "startup/IniFile.h"
#include "startup/Settings.h"

#include "support/ProcessReset.h"
#include "support/RecordingView.h"

#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

using namespace nodalis;

namespace {

using Client = std::unique_ptr<QTcpSocket>;

Client connectTo(quint16 port)
{
    auto s = std::make_unique<QTcpSocket>();
    s->connectToHost(QHostAddress::LocalHost, port);
    if (!s->waitForConnected(5000))
        return nullptr;
    return s;
}

// Reads whatever reaches the client within the wait.
QByteArray drain(QTcpSocket& s, int ms = 300)
{
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (s.bytesAvailable() || s.waitForReadyRead(10))
            got += s.readAll();
    }
    return got;
}

// Serves the event loop until the client has a full line, or gives up.
QByteArray nextLine(QTcpSocket& s, int ms = 3000)
{
    QElapsedTimer t;
    t.start();
    while (!s.canReadLine() && t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        s.waitForReadyRead(5);
    }
    return s.canReadLine() ? s.readLine() : QByteArray();
}

} // namespace

class TestControlLink : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<ServerHost> m_host;

    quint16 port() const { return m_host->link().port(); }

    void waitForClients(int count)
    {
        QTRY_COMPARE_WITH_TIMEOUT(int(m_host->link().clientIndices().size()), count, 5000);
    }

private slots:
    void init()
    {
        Clock::setScale(0.01);
        ResetProcessState(m_dir.path());
        Config().DncAppMode = 0;
        m_host = std::make_unique<ServerHost>();
        QVERIFY(m_host->OpenControlLink());
    }

    void cleanup()
    {
        m_host.reset();
        Clock::setScale(1.0);
    }

    void indicesFollowTheSocketSetRules()
    {
        ControlLink& link = m_host->link();
        QCOMPARE(link.listeningIndex(), 1);
        Client a = connectTo(port());
        waitForClients(1);
        Client b = connectTo(port());
        waitForClients(2);
        QCOMPARE(link.clientIndices(), (QList<int>{1, 2}));
        QCOMPARE(link.listeningIndex(), 3);
        a->disconnectFromHost();
        waitForClients(1);
        Client c = connectTo(port());
        waitForClients(2);
        QCOMPARE(link.clientIndices(), (QList<int>{2, 3}));
        QCOMPARE(link.listeningIndex(), 1); // smallest free index
        // Replies go to the asking client only: b sits on element 2.
        b->write("Info:PING|\r\n");
        QCOMPARE(nextLine(*b), QByteArray("Info:OK|\r\n"));
        QCOMPARE(drain(*c, 200), QByteArray());
        // The listener sits above the highest client, which goes: the next
        // listener takes its index back.
        Client d = connectTo(port());
        waitForClients(3);
        QCOMPARE(link.listeningIndex(), 4);
        c->disconnectFromHost();
        waitForClients(2);
        Client e = connectTo(port());
        waitForClients(3);
        QCOMPARE(link.clientIndices(), (QList<int>{1, 2, 4}));
        QCOMPARE(link.listeningIndex(), 3);
    }

    void socketPublishedAgainAfterConnections()
    {
        // Clients that connect together get one rewrite, and a later
        // connection another, whatever the file held meanwhile.
        const QString ini = Paths().configPath;
        std::vector<Client> clients;
        for (int round = 0; round < 2; ++round) {
            QVERIFY(WriteIni(ini, "NODALIS", "Socket", "1"));
            for (int i = 0; i < 3; ++i)
                clients.push_back(connectTo(port()));
            QTRY_COMPARE_WITH_TIMEOUT(FNReadIni(ini, "NODALIS", "Socket"),
                                      QByteArray::number(port()), 5000);
        }
    }

    void commandsFromOneArrival()
    {
        RecordingView view;
        Client a = connectTo(port());
        waitForClients(1);
        a->write("Info:H|\r\ninfo:V|\r\nInfo:ping|\r\nInfo:PING|\r\nInfo:PING|");
        QCOMPARE(nextLine(*a), QByteArray("Info:OK|\r\n"));
        QCOMPARE(view.visibility, (QList<bool>{false, true}));
        QCOMPARE(drain(*a, 200), QByteArray()); // the unterminated PING got no answer
    }

    void connectRepeatsTheCurrentState()
    {
        SetStatus(906);
        Client a = connectTo(port());
        Client b = connectTo(port());
        waitForClients(2);
        a->write("Info:CONNECT|\r\n");
        const QByteArray expected = "Info:{a}|Arg:0<>|\r\nInfo:{b}|Arg:<>|\r\nInfo:{%}|Arg:0<>|\r\n"
                                    "Info:{i}|Arg:Le Port DNC est en \xe9"
                                    "coute...<>|\r\n";
        for (QTcpSocket* s : {a.get(), b.get()}) {
            QByteArray got;
            for (int i = 0; i < 4; ++i)
                got += nextLine(*s);
            QCOMPARE(got, expected);
        }
    }

    void stopFromAOneCharacterLine()
    {
        Client a = connectTo(port());
        waitForClients(1);
        a->write("E\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(State().stopRequested, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(a->state(), QAbstractSocket::UnconnectedState, 5000);
        QFile log(EventLogPath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("---Code902---Arret du Port DNC\r\n"));
        QVERIFY(m_host->link().clientIndices().isEmpty());
    }

    void aStopIsSeenWhileALongCommandRuns()
    {
        // A long command waits in small steps; the next line of the same
        // client must still be interpreted meanwhile.
        ControlLink& link = m_host->link();
        QList<QByteArray> seen;
        bool stopSeenDuringLong = false;
        link.setCommandRunner([&](const QByteArray& keyword, const QByteArray&, int) {
            seen.append(keyword);
            if (keyword == "LONG") {
                for (int i = 0; i < 200 && !State().stopRequested; ++i)
                    Pause(100);
                stopSeenDuringLong = State().stopRequested;
            } else if (keyword == "S") {
                State().stopRequested = true;
            }
        });
        Client a = connectTo(port());
        waitForClients(1);
        a->write("Info:LONG|\r\n");
        // Sent as a second arrival while LONG waits.
        QTimer::singleShot(50, a.get(), [&a] { a->write("Info:S|\r\n"); });
        QTRY_VERIFY_WITH_TIMEOUT(stopSeenDuringLong, 5000);
        QCOMPARE(seen, (QList<QByteArray>{"LONG", "S"}));
    }

    void badClientsDoNotStopTheOthers()
    {
        Client good = connectTo(port());
        Client flood = connectTo(port());
        Client noise = connectTo(port());
        Client deaf = connectTo(port());
        waitForClients(4);
        deaf->setReadBufferSize(1); // takes one byte and never more

        flood->write(QByteArray(10 * 1024 * 1024, 'x'));
        QByteArray bytes(256 * 1024, '\0');
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = char((i * 7919) & 0xff);
        noise->write(bytes);
        // Broadcast until the deaf client has been dropped; the others read.
        const QByteArray big = "Info:{b}|Arg:" + QByteArray(16 * 1024, 'p') + "<>|";
        for (int i = 0; i < 4000 && m_host->link().clientIndices().contains(4); ++i) {
            SendInfoMessage(big, 0);
            if (i == 100)
                flood->abort(); // gone in the middle of it all
            QCoreApplication::processEvents();
            good->readAll();
            noise->readAll();
        }
        QVERIFY(!m_host->link().clientIndices().contains(4));
        QVERIFY(m_host->link().clientIndices().contains(1));
        good->write("Info:PING|\r\n");
        QByteArray line;
        do {
            line = nextLine(*good, 10000);
        } while (!line.isEmpty() && line != "Info:OK|\r\n");
        QCOMPARE(line, QByteArray("Info:OK|\r\n"));
    }

    void broadcastReachesTwoHundredClients()
    {
        std::vector<Client> clients;
        for (int i = 0; i < 200; ++i) {
            clients.push_back(connectTo(port()));
            QVERIFY(clients.back());
            QCoreApplication::processEvents();
        }
        waitForClients(200);
        QCOMPARE(SendInfoMessage("Info:{a}|Arg:3<>|", 0), 200);
        for (Client& c : clients)
            QCOMPARE(nextLine(*c), QByteArray("Info:{a}|Arg:3<>|\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestControlLink)
#include "tst_controllink.moc"
