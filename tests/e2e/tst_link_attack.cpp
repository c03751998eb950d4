// A headless server whose control link is attacked as a hostile client on
// the shop network would: floods, cut lines, half-closes, huge lines, an
// allow-list that cannot be read, a control port already taken.

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/socket.h>

#include "support/ProcessHelpers.h"

using namespace nodalis::test;

class TestLinkAttack : public QObject
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
        if (!writeFile(m_base + QStringLiteral("/Nodalis.ini"),
                       "[NODALIS]\r\nDncAppMode=0\r\n" + nodalisSection +
                           (nodalisSection.contains("PortListen=") ? "" : "PortListen=0\r\n") +
                           "\r\n[DNC]\r\nRefMO=M1\r\n"))
            return false;
        m_server.start(bin("nodalis"),
                       {QStringLiteral("--headless"), QStringLiteral("--base"), m_base});
        QByteArray out;
        while (!out.contains("serving from") && m_server.waitForReadyRead(5000))
            out += m_server.readAllStandardOutput();
        return out.contains("serving from");
    }

    quint16 port() const
    {
        const QByteArray ini = readFile(m_base + QStringLiteral("/Nodalis.ini"));
        const qsizetype at = ini.indexOf("Socket=");
        return at < 0 ? 0 : quint16(ini.mid(at + 7, ini.indexOf('\r', at) - at - 7).toUInt());
    }

    QByteArray journal() const
    {
        return readFile(m_base + QStringLiteral("/LogFiles/Journal (") +
                        QDate::currentDate().toString(QStringLiteral("dd-MM-yy")) +
                        QStringLiteral(").txt"));
    }

    qint64 residentKb() const
    {
        const QByteArray status =
            readFile(QStringLiteral("/proc/%1/status").arg(m_server.processId()));
        const qsizetype at = status.indexOf("VmRSS:");
        return status.mid(at + 6, status.indexOf('\n', at) - at - 6)
            .trimmed()
            .split(' ')[0]
            .toLongLong();
    }

    // Connects a client; empty when the server is not there.
    std::unique_ptr<QTcpSocket> client()
    {
        auto s = std::make_unique<QTcpSocket>();
        s->connectToHost(QStringLiteral("127.0.0.1"), port());
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

    int ctlPing()
    {
        QProcess ctl;
        ctl.start(bin("nodalisctl"), {QStringLiteral("--base"), m_base, QStringLiteral("--timeout"),
                                      QStringLiteral("5"), QStringLiteral("ping")});
        return ctl.waitForFinished(20000) ? ctl.exitCode() : -1;
    }

private slots:
    void cleanup()
    {
        m_server.terminate();
        if (!m_server.waitForFinished(5000))
            m_server.kill();
        m_server.waitForFinished();
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
                 qPrintable(QStringLiteral("%1 kB more").arg(residentKb() - before)));
    }

    void cutAndHugeLines_data()
    {
        QTest::addColumn<QList<QByteArray>>("pieces"); // sent 200 ms apart
        QTest::newRow("command split across segments") << QList<QByteArray>{"Info:PI", "NG|\r\n"};
        QTest::newRow("CR LF split across segments") << QList<QByteArray>{"Info:PING|\r", "\n"};
        QTest::newRow("1 MB command line read whole")
            << QList<QByteArray>{"Info:PING|Arg:" + QByteArray(1 << 20, 'x') + "|\r\n"};
    }

    void cutAndHugeLines()
    {
        QFETCH(QList<QByteArray>, pieces);
        QVERIFY(start({}));
        auto s = client();
        QVERIFY(s);
        for (const QByteArray& piece : pieces) {
            s->write(piece);
            s->waitForBytesWritten(5000);
            QTest::qWait(200);
        }
        QVERIFY(readUntil(*s, "Info:OK|\r\n").contains("Info:OK|\r\n"));
    }

    // A client that stops sending after its command still gets the answer.
    void halfClosedClient()
    {
        QVERIFY(start({}));
        auto s = client();
        QVERIFY(s);
        s->write("Info:PING|\r\n");
        QVERIFY(s->waitForBytesWritten(5000));
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
        QTest::newRow("loopback among ranges") << QByteArray("10.20.0.0/16;127.0.0.1") << 0;
    }

    void allowList()
    {
        QFETCH(QByteArray, entries);
        QFETCH(int, pingStatus);
        QVERIFY(start("ControlAllowFrom=" + entries + "\r\n"));
        QCOMPARE(ctlPing(), pingStatus);
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
        // Nobody listens, and with an empty allow-list nobody would be kept out.
        QCOMPARE(journal().count("ControlAllowFrom est vide"), 1);
    }
};

QTEST_GUILESS_MAIN(TestLinkAttack)
#include "tst_link_attack.moc"
