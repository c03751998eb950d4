// A headless server on a free port: driven by nodalisctl as the
// program-management application would drive it, and its control link
// attacked as a hostile client on the shop network would: floods, huge
// lines, half-closes, an allow-list that cannot be read, a control port
// already taken.

#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/socket.h>

#include "support/ProcessHelpers.h"

using namespace nodalis::test;

class TestControlProcess : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    QProcess m_server;
    QString m_base;

    // Starts a headless server on a base folder of its own, its control
    // link on a free port unless the configuration says otherwise.
    bool start(const QByteArray& nodalisSection)
    {
        m_base = m_tmp.filePath(QString::fromLatin1(QTest::currentTestFunction()) +
                                QString::fromLatin1(QTest::currentDataTag()));
        return writeFile(m_base + u"/Nodalis.ini"_s,
                         "[NODALIS]\r\nDncAppMode=0\r\n" + nodalisSection +
                             (nodalisSection.contains("PortListen=") ? "" : "PortListen=0\r\n") +
                             "\r\n[DNC]\r\nRefMO=M1\r\n") &&
               startHeadless(m_server, m_base);
    }

    quint16 port() const
    {
        const QByteArray ini = readFile(m_base + u"/Nodalis.ini"_s);
        const qsizetype at = ini.indexOf("Socket=");
        return at < 0 ? 0 : quint16(ini.mid(at + 7, ini.indexOf('\r', at) - at - 7).toUInt());
    }

    QByteArray journal() const { return journalOf(m_base); }

    qint64 residentKb() const
    {
        const QByteArray status = readFile(u"/proc/%1/status"_s.arg(m_server.processId()));
        const qsizetype at = status.indexOf("VmRSS:");
        return status.mid(at + 6).trimmed().split(' ').first().toLongLong(); // "  1234 kB"
    }

    // Connects a client; empty when the server is not there.
    std::unique_ptr<QTcpSocket> client()
    {
        auto s = std::make_unique<QTcpSocket>();
        s->connectToHost(u"127.0.0.1"_s, port());
        return s->waitForConnected(5000) ? std::move(s) : nullptr;
    }

    // Reads from a client until the text has come, the connection ends or
    // the seconds pass; what came.
    static QByteArray readUntil(QTcpSocket& s, const QByteArray& text, int seconds = 10)
    {
        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (!got.contains(text) && t.elapsed() < seconds * 1000) {
            if (!s.waitForReadyRead(200) && s.state() != QAbstractSocket::ConnectedState)
                break;
            got += s.readAll();
        }
        return got + s.readAll();
    }

    static Run ctl(const QStringList& args) { return runToEnd(bin("nodalisctl"), args); }

private slots:
    void cleanup()
    {
        m_server.terminate();
        if (!m_server.waitForFinished(5000))
            m_server.kill();
        m_server.waitForFinished();
    }

    void drivenByNodalisctl_data()
    {
        QTest::addColumn<bool>("bySignal");
        QTest::newRow("stopped by command E") << false;
        // A service manager's stop is the server's own stop.
        QTest::newRow("stopped by SIGTERM") << true;
    }

    void drivenByNodalisctl()
    {
        QFETCH(bool, bySignal);
        // No server yet: unreachable.
        QCOMPARE(ctl({u"--port"_s, u"1"_s, u"ping"_s}).code, 2);
        QVERIFY(start({}));
        const QStringList at = {u"--base"_s, m_base};
        const Run ping = ctl(at + QStringList{u"ping"_s});
        QCOMPARE(ping.code, 0);
        QVERIFY(ping.out.startsWith("pong from "));

        QProcess watch;
        watch.start(bin("nodalisctl"), at + QStringList{u"--raw"_s, u"watch"_s});
        QVERIFY(watch.waitForStarted());
        // The watcher's own CONNECT is answered before we go on.
        QByteArray watched;
        while (!watched.contains("Lancement du Port DNC") && watch.waitForReadyRead(5000))
            watched += watch.readAllStandardOutput();
        QVERIFY(watched.contains("Lancement du Port DNC"));

        const Run connect = ctl(at + QStringList{u"send"_s, u"CONNECT"_s});
        QCOMPARE(connect.code, 0);
        QCOMPARE(connect.out, QByteArray("state     idle (0)\nprogram   \nprogress  0%\n"
                                         "status    Lancement du Port DNC\n"));
        QCOMPARE(ctl(at + QStringList{u"--raw"_s, u"send"_s, u"R"_s}).out,
                 QByteArray("Info:{c}|\n"));

        if (bySignal) {
            m_server.terminate();
        } else {
            const Run stop = ctl(at + QStringList{u"stop"_s});
            QCOMPARE(stop.code, 0);
            QVERIFY(stop.out.contains("status    Arret du Port DNC"));
        }
        QVERIFY(m_server.waitForFinished(10000));
        QCOMPARE(m_server.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_server.exitCode(), 0);

        // The watcher saw everything as it came, and ends with the link.
        QVERIFY(watch.waitForFinished(10000));
        watched += watch.readAllStandardOutput();
        QVERIFY(watched.contains("Info:{i}|Arg:Lancement du Port DNC<>|\n"));
        QVERIFY(watched.contains("Info:{i}|Arg:Arret du Port DNC<>|\n"));

        QCOMPARE(ctl(at + QStringList{u"--timeout"_s, u"1"_s, u"ping"_s}).code, 2);

        const QByteArray lines = journal();
        QVERIFY(lines.contains("---Code901---Lancement du Port DNC\r\n"));
        // The stop is the journal's last word.
        QCOMPARE(lines.mid(lines.lastIndexOf("---Code")),
                 QByteArray("---Code902---Arret du Port DNC\r\n"));
    }

    void badCommandLines_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no command") << QStringList{u"--port"_s, u"5"_s};
        QTest::newRow("unknown command") << QStringList{u"--port"_s, u"5"_s, u"dance"_s};
        QTest::newRow("send without keyword") << QStringList{u"--port"_s, u"5"_s, u"send"_s};
        QTest::newRow("no server named") << QStringList{u"ping"_s};
        QTest::newRow("base without port")
            << QStringList{u"--base"_s, u"/nonexistent"_s, u"ping"_s};
    }

    void badCommandLines()
    {
        QFETCH(QStringList, args);
        const Run r = ctl(args);
        QCOMPARE(r.code, 64);
        QVERIFY(r.err.startsWith("nodalisctl: "));
    }

    // Every CONNECT waits 300 ms for the clients to keep up: lines sent
    // faster than that must wait their turn, not run inside each other.
    void floodOfCommands()
    {
        QVERIFY(start({}));
        const qint64 before = residentKb();
        auto flooder = client();
        QVERIFY(flooder);
        flooder->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        for (int i = 0; i < 5000 && flooder->state() == QAbstractSocket::ConnectedState; ++i) {
            flooder->write("Info:CONNECT|\r\n");
            flooder->waitForBytesWritten(100);
            QTest::qWait(1);
        }
        auto other = client();
        QVERIFY(other);
        other->write("Info:PING|\r\n");
        QVERIFY(readUntil(*other, "Info:OK|\r\n", 30).contains("Info:OK|\r\n"));
        QCOMPARE(m_server.state(), QProcess::Running);
        QVERIFY2(residentKb() - before < 5 * 1024,
                 qPrintable(u"%1 kB more"_s.arg(residentKb() - before)));
    }

    // A 1 MB line is read whole, in the many pieces it comes in (a line cut
    // anywhere is the line splitter's own case); a client that stops sending
    // after its command still gets the answer.
    void awkwardClients_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("halfClose");
        QTest::newRow("1 MB command line") << "Info:PING|Arg:" + QByteArray(1 << 20, 'x') + "|\r\n"
                                           << false;
        QTest::newRow("half-closed after its command") << QByteArray("Info:PING|\r\n") << true;
    }

    void awkwardClients()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, halfClose);
        QVERIFY(start({}));
        auto s = client();
        QVERIFY(s);
        s->write(line);
        QVERIFY(s->waitForBytesWritten(5000));
        if (halfClose)
            ::shutdown(int(s->socketDescriptor()), SHUT_WR);
        QVERIFY(readUntil(*s, "Info:OK|\r\n").contains("Info:OK|\r\n"));
    }

    void allowList_data()
    {
        QTest::addColumn<QByteArray>("entries");
        QTest::addColumn<int>("pingStatus"); // nodalisctl: 0 answered, 4 refused
        QTest::newRow("another address, semicolon") << QByteArray("127.0.0.2;") << 4;
        QTest::newRow("other addresses, blank") << QByteArray("127.0.0.2 10.0.0.1") << 4;
        QTest::newRow("unreadable range") << QByteArray("/33") << 4;
        QTest::newRow("one unreadable entry refuses all")
            << QByteArray("127.0.0.1, 10.0.0.300") << 4;
        QTest::newRow("localhost") << QByteArray("localhost") << 0;
        QTest::newRow("IPv4-mapped loopback") << QByteArray("::ffff:127.0.0.1") << 0;
        QTest::newRow("loopback range") << QByteArray("127.0.0.0/8") << 0;
        QTest::newRow("loopback among ranges") << QByteArray("10.20.0.0/16;127.0.0.1") << 0;
    }

    void allowList()
    {
        QFETCH(QByteArray, entries);
        QFETCH(int, pingStatus);
        QVERIFY(start("ControlAllowFrom=" + entries + "\r\n"));
        QCOMPARE(ctlOn(m_base, {u"--timeout"_s, u"5"_s, u"ping"_s}), pingStatus);
    }

    // No link, no published port: nodalisctl must not find the last run's.
    void controlPortTaken()
    {
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::Any));
        QVERIFY(
            start("Socket=4999\r\nPortListen=" + QByteArray::number(taken.serverPort()) + "\r\n"));
        QCOMPARE(port(), quint16(0));
        QCOMPARE(journal().count("coute impossible sur le port"), 1);
        // Nobody listens, and with an empty allow-list nobody would be kept out.
        QCOMPARE(journal().count("ControlAllowFrom est vide"), 1);
    }
};

QTEST_GUILESS_MAIN(TestControlProcess)
#include "tst_control_process.moc"
