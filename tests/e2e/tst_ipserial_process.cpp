// A machine behind an IP-serial converter (Methode 7): the whole server
// against nodalis-sim playing the converter on a TCP port. A call served with
// the exact bytes, an upload kept after TimeOut, a converter that drops the
// connection in the middle of a reception, a stop during a reception, a
// converter that restarts (it refuses for a while), 50 MB of noise without a
// line end, a stop ending a send to a converter that never reads; and a real
// bridge, ser2net in raw mode, in front of the machine's pseudo-terminal.

#include "sim/MachineSimulator.h"
#include "support/ProcessHelpers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>

using namespace nodalis::sim;
using namespace nodalis::test;
using namespace Qt::StringLiterals;

namespace {

// Three lines A, B and C: with NbBlocAvance 2 they leave as A B, then C.
const QByteArray kProgram = "A\r\nB\r\nC\r\n";
const QByteArray kBot = "\x12\r\n";
const QByteArray kEot = "\x14\r\n";

QByteArray iniFor(const QString& base, quint16 port)
{
    const QByteArray b = base.toLocal8Bit();
    return "[NODALIS]\r\nPortListen=0\r\nDncAppMode=2\r\nControlAllowFrom=127.0.0.1\r\n[DNC]"
           "\r\nRefMO=FR1\r\nMethode=7\r\n"
           "IsModeEcoute=1\r\nUseRPC=1\r\nCallSyntax=(APPEL $$$$)\r\nPathFileProgOpen=" +
           b + "/Programmes\r\nPathFileProgSave=" + b + "/Remontes\r\n[RESEAU]\r\n" +
           "RemoteHost=127.0.0.1\r\nRemotePort=" + QByteArray::number(port) +
           "\r\n[COMM]\r\nTimeOut=1\r\nEOB=13,10\r\n[OPTION_DNC]\r\nNbBlocAvance=2\r\n"
           "[OPTION_T]\r\nBOT=18\r\nEOT=20\r\n[SYNTAXE_MO]\r\nCarDebProg=O\r\nBlocDeb=%\r\n"
           "BlocFin=%\r\n";
}

} // namespace

class TestIpSerialProcess : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    QString m_base;
    MachineSimulator m_box;
    QProcess m_server;

    QByteArray log() const { return journalOf(m_base); }
    // Every upload kept, one after the other.
    QByteArray stored() const
    {
        QByteArray all;
        for (const QFileInfo& f :
             QDir(m_base + u"/Receiv"_s).entryInfoList({u"FromCN_(*"_s}, QDir::Files))
            all += readFile(f.filePath());
        return all;
    }
    int count(const QByteArray& code) const { return int(log().count("---Code" + code + "---")); }
    bool listening(int times = 1) const
    {
        return waitFor([&] { return count("384") >= times; });
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_box.listenTcp(0));
        m_base = m_tmp.filePath(u"m"_s);
        QVERIFY(writeFile(m_base + u"/Nodalis.ini"_s, iniFor(m_base, m_box.tcpPort())));
        QVERIFY(writeFile(m_base + u"/Programmes/O1000"_s, kProgram));
        m_server.setProcessEnvironment(scaledTime(1.0));
        QVERIFY(startHeadless(m_server, m_base));
        QVERIFY(listening());
        QVERIFY(
            log().contains("---Code385---Connexion du Port DNC au serveur IP Serial 127.0.0.1"));
    }

    void cleanupTestCase()
    {
        m_server.terminate();
        QVERIFY(m_server.waitForFinished(10000));
    }

    void callServedWithTheExactBytes()
    {
        const int before = count("384");
        m_box.clearReceived();
        m_box.send("(APPEL O1000)\r\n");
        QVERIFY(waitFor([&] { return m_box.receivedBytes().endsWith(kEot); }));
        QCOMPARE(m_box.receivedBytes(), kBot + kProgram + kEot);
        QVERIFY(waitFor([&] { return count("903") == 1; }));
        QVERIFY(listening(before + 1));
    }

    // T sends the send file; {%} is the bytes sent so far (BOT included) of
    // the file's size, to the nearest integer, told when it changes.
    void sendWithProgress()
    {
        QVERIFY(writeFile(m_base + u"/Send/ToCN.txt"_s, kProgram));
        const int before = count("903");
        m_box.clearReceived();
        const Run run = runToEnd(bin("nodalisctl"),
                                 {u"--base"_s, m_base, u"send"_s, u"T"_s, u"--until"_s, u"{t}"_s});
        QVERIFY2(run.code == 0, run.err.constData());
        QList<QByteArray> percents;
        for (const QByteArray& line : run.out.split('\n'))
            if (line.startsWith("progress"))
                percents << line.mid(8).trimmed().chopped(1); // "progress  33%"
        QVERIFY2(percents.join(' ') == "0 33 44 56 67 78 89 100", run.out.constData());
        QVERIFY(waitFor([&] { return m_box.receivedBytes().endsWith(kEot); }));
        QCOMPARE(m_box.receivedBytes(), kBot + kProgram + kEot);
        QVERIFY(waitFor([&] { return count("903") == before + 1; }));
    }

    void uploadKeptAfterTimeOut()
    {
        const int before = count("384");
        m_box.send("%\r\nO4321\r\nN10 G0 X1\r\n", 6, 5);
        m_box.send("M30\r\n%\r\n");
        QVERIFY(waitFor([&] { return count("703") == 1; }));
        QVERIFY(count("381") >= 1);
        QVERIFY(stored().contains("O4321\r\nN10 G0 X1\r\nM30\r\n"));
        QVERIFY(listening(before + 1));
    }

    // The box drops the connection in the middle of a reception: 388, the
    // link comes back, and the reception goes on with what came before.
    void dropInTheMiddleOfAReception()
    {
        const int before = count("388");
        m_box.send("%\r\nO5555\r\nN10 G0");
        m_box.dropLater();
        QVERIFY(waitFor([&] { return count("388") == before + 1 && m_box.connected(); }));
        m_box.send(" X5\r\nM30\r\n%\r\n");
        QVERIFY(waitFor([&] { return count("703") == 2; }));
        QVERIFY(stored().contains("O5555\r\nN10 G0 X5\r\nM30\r\n"));
    }

    // The box restarts: refused for 2 s, then found again by the retries
    // (every 5 s), with one 388 for the whole outage.
    void boxRestarts()
    {
        const int before = count("388");
        const int connections = count("385");
        m_box.dropLater(2000);
        QVERIFY(waitFor([&] { return count("385") > connections; }, 12000));
        // Told at least once; a reconnection tried while the box restarts
        // may be told again.
        QVERIFY(count("388") > before);
    }

    // S during a reception ends it and closes the link; M listens again.
    void stopDuringAReception()
    {
        QVERIFY(listening(count("384")));
        const int receptions = count("381");
        m_box.send("%\r\nO6666\r\n");
        QVERIFY(waitFor([&] { return count("381") > receptions; }));
        QCOMPARE(ctlOn(m_base, {u"send"_s, u"S"_s}), 0);
        QVERIFY(waitFor([&] { return !m_box.connected(); }));
        const int before = count("384");
        QCOMPARE(ctlOn(m_base, {u"send"_s, u"M"_s}), 0);
        QVERIFY(listening(before + 1));
        QVERIFY(waitFor([&] { return m_box.connected(); }));
    }

    // Every byte value, NUL included, and no line end for 50 MB: all of it
    // is kept, ended by CR LF.
    void noiseWithoutLineEndsKept()
    {
        QByteArray noise;
        for (int c = 0; c < 256; ++c)
            if (c != '\r' && c != '\n')
                noise += char(c);
        noise = noise.repeated((50 << 20) / noise.size());
        const int before = count("703");
        m_box.send(noise);
        QVERIFY(waitFor([&] { return count("703") == before + 1; }, 60000));
        const QFileInfoList kept =
            QDir(m_base + u"/Receiv"_s).entryInfoList({u"FromCN_(*"_s}, QDir::Files, QDir::Size);
        QVERIFY(!kept.isEmpty());
        QVERIFY(readFile(kept.first().filePath()) == noise + "\r\n");
    }

    // A converter that takes the connection and never reads: the send stalls
    // once the system's buffers are full, and S ends it (907, no 903).
    void stopEndsASendThatStalls()
    {
        QTcpServer deaf;
        QVERIFY(deaf.listen(QHostAddress::LocalHost));
        const int small = 4096; // taken by the connections it accepts
        ::setsockopt(int(deaf.socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        const QString base = m_tmp.filePath(u"deaf"_s);
        QVERIFY(writeFile(base + u"/Nodalis.ini"_s, iniFor(base, deaf.serverPort())));
        QVERIFY(
            writeFile(base + u"/Send/ToCN.txt"_s, QByteArray("N10 G1 X1\r\n").repeated(1 << 18)));
        QProcess server;
        QVERIFY(startHeadless(server, base));
        QVERIFY(waitFor([&] { return journalOf(base).contains("---Code384---"); }));
        QProcess send; // answered once the send is over
        send.start(bin("nodalisctl"),
                   {u"--base"_s, base, u"--timeout"_s, u"0"_s, u"send"_s, u"T"_s});
        QVERIFY(waitFor([&] { return journalOf(base).contains("---Code382---"); }));
        QTest::qWait(1500);
        QCOMPARE(ctlOn(base, {u"send"_s, u"S"_s}), 0);
        QVERIFY(waitFor([&] { return journalOf(base).contains("---Code907---"); }));
        QVERIFY(!journalOf(base).contains("---Code903---"));
        QVERIFY(send.waitForFinished(10000));
        server.terminate();
        QVERIFY(server.waitForFinished(10000));
    }

    // The same call through ser2net: the server connects to the bridge, the
    // bridge writes to the machine's line.
    void callThroughSer2net()
    {
        const QString ser2net =
            QStandardPaths::findExecutable(u"ser2net"_s, {u"/usr/sbin"_s, u"/usr/bin"_s});
        if (ser2net.isEmpty())
            QSKIP("ser2net is not installed (apt-get install ser2net)");
        QTcpServer probe; // a free port for the bridge
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        MachineSimulator machine;
        const QString base = m_tmp.filePath(u"bridge"_s);
        QVERIFY(machine.open() && machine.linkAt(m_tmp.filePath(u"bridge.tty"_s)));
        QProcess bridge;
        bridge.start(ser2net, {u"-n"_s, u"-u"_s, u"-C"_s,
                               u"%1:raw:0:%2:9600 8DATABITS NONE 1STOPBIT"_s.arg(port).arg(
                                   machine.devicePath())});
        QVERIFY(bridge.waitForStarted());
        QVERIFY(writeFile(base + u"/Nodalis.ini"_s, iniFor(base, port)));
        QVERIFY(writeFile(base + u"/Programmes/O1000"_s, kProgram));
        QProcess server;
        QVERIFY(startHeadless(server, base));
        QVERIFY(waitFor([&] { return journalOf(base).contains("---Code385---"); }));
        machine.send("(APPEL O1000)\r\n");
        QVERIFY(waitFor([&] { return machine.receivedBytes().endsWith(kEot); }));
        QCOMPARE(machine.receivedBytes(), kBot + kProgram + kEot);
        server.terminate();
        QVERIFY(server.waitForFinished(10000));
        bridge.kill();
        bridge.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestIpSerialProcess)
#include "tst_ipserial_process.moc"
