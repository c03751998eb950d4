// Controllers behind their own devices on the serial line, end to end: a
// headless server on a pseudo-terminal, and nodalis-sim playing an AGIE
// control (Methode 15), a Heidenhain control (Methode 8) or a PTR box
// (Methode 16) with framing of its own, faults included; the push box
// (Methode 20) answering a call through nodalis-push; S and E while the
// server waits on the line or pushes.

#include "sim/MachineSimulator.h"
#include "support/ProcessHelpers.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace nodalis::test;

namespace {

const QByteArray kPart7 = "%\r\nO7 (PART7)\r\nN10 G0 X0 Y0\r\nN20 G1 X100 F500\r\n"
                          "N30 G1 Y100 (A COMMENT LONG ENOUGH TO CUT BLOCKS)\r\nN40 M30\r\n%\r\n";
const QByteArray kPtr = "%\r\nO1234 (PTR)\r\nN10 G0 X0\r\nN20 M30\r\n%\r\n";
const QByteArray kUpload = "%\r\nO8 (FROM THE CONTROL)\r\nN10 T1 M6\r\nN20 M30\r\n%\r\n";

} // namespace

class TestControllersProcess : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    QString m_base;
    QProcess m_server;
    QProcess m_sim;

    QString tty() const { return m_base + u"/machine.tty"_s; }

    void configure(int methode)
    {
        const QByteArray b = m_base.toLocal8Bit();
        // The push box's machine paces the line with XON/XOFF.
        const QByteArray flow = methode == 20 ? "1" : "0";
        writeFile(m_base + u"/Nodalis.ini"_s,
                  "[NODALIS]\r\nPortListen=0\r\nDncAppMode=0\r\n[DNC]\r\nRefMO=FR1\r\nMethode=" +
                      QByteArray::number(methode) +
                      "\r\nIsModeEcoute=1\r\nUseRPC=1\r\nCallSyntax=(APPEL $$$$)\r\n"
                      "PathFileProgOpen=" +
                      b + "/Programmes\r\nPathFileProgSave=" + b +
                      "/Remontes\r\n[COMM]\r\nPortName=" + tty().toLocal8Bit() +
                      "\r\nBauds=115200\r\nDataBit=8\r\nParite=N\r\nStopBit=1\r\nTimeOut=1\r\n"
                      "TimeOutEnvoi=5\r\nEOB=13,10\r\nCtrlFlux=" +
                      flow + "\r\n[RESEAU]\r\nOrvaConnexionRole=1\r\n[OPTION_R]\r\nBOR=18\r\n");
    }

    // The control first (it makes the line), then the server.
    bool start(const char* peer, const QString& steps)
    {
        m_sim.setWorkingDirectory(m_base);
        m_sim.setProcessChannelMode(QProcess::MergedChannels);
        m_sim.start(bin("nodalis-sim"),
                    {u"--peer"_s, QString::fromLatin1(peer), u"--link"_s, tty(), steps});
        if (!m_sim.waitForStarted() || !waitFor([&] { return QFile::exists(tty()); }, 5000))
            return false;
        return startHeadless(m_server, m_base);
    }

    // The control's verdict: its exit status, with what it printed.
    int simResult()
    {
        if (!m_sim.waitForFinished(90000))
            m_sim.kill();
        const QByteArray out = m_sim.readAll();
        if (m_sim.exitCode() != 0)
            qWarning("%s", out.constData());
        return m_sim.exitStatus() == QProcess::NormalExit ? m_sim.exitCode() : -1;
    }

    // pgrep's status for nodalis-push: 0 while one runs, 1 once none does.
    static int pushes() { return runToEnd(u"pgrep"_s, {u"-x"_s, u"nodalis-push"_s}).code; }

    // E ends the server while it waits on the line.
    void stopServer()
    {
        QElapsedTimer t;
        t.start();
        QCOMPARE(ctlOn(m_base, {u"stop"_s}), 0);
        QVERIFY(m_server.waitForFinished(5000));
        qInfo("server ended %lld ms after E", t.elapsed());
    }

private slots:
    void init()
    {
        static int n = 0;
        m_base = m_tmp.filePath(QString::number(++n));
        writeFile(m_base + u"/Programmes/PART7"_s, kPart7);
        writeFile(m_base + u"/PART7"_s, kPart7); // what the control compares with
        writeFile(m_base + u"/up.nc"_s, kUpload);
        writeFile(m_base + u"/Programmes/1234"_s, kPtr);
        writeFile(m_base + u"/1234"_s, kPtr);
        m_server.setProcessEnvironment(scaledTime(1));
    }

    void cleanup()
    {
        m_sim.kill();
        m_sim.waitForFinished();
        m_server.kill();
        m_server.waitForFinished();
    }

    // A download, an upload and a missing program in a row, through faults:
    // refused telegrams, noise, a telegram cut in two. The upload's name
    // leads out of the folder: only its file name counts.
    void agieExchanges()
    {
        configure(15);
        QVERIFY(start("agie", u"noise 300;nak 2;request PART7;split;upload up.nc as ..\\..\\UP1;"
                              u"request NOPE"_s));
        QCOMPARE(simResult(), 0);
        QCOMPARE(readFile(m_base + u"/Programmes/UP1"_s), kUpload);
        const QByteArray log = journalOf(m_base);
        QVERIFY(log.contains("---Code680---Ecoute du port LSV2 AGIE"));
        QVERIFY(log.contains("---Code683---"));
        stopServer();
    }

    void heidenhainConversation()
    {
        configure(8);
        QVERIFY(start("tnc", u"login INSPECT;nak 1;version;split;params;noise 200;eot-enq;"
                             u"login X;login FILE;logout"_s));
        QCOMPARE(simResult(), 0);
        QVERIFY(journalOf(m_base).contains("---Code804---"));
        stopServer();
    }

    void ptrRequests()
    {
        configure(16);
        QVERIFY(start("ptr", u"request 1234;request 1234;nak-at 2;request 1234;"
                             u"raw %1234\\r\\n;request 99 missing;request 1234"_s));
        QCOMPARE(simResult(), 0);
        QCOMPARE(journalOf(m_base).count("---Code691---"), 4);
        stopServer();
    }

    // A call answered by the push box, then listening again; a push held
    // by the machine's XOFF ended by S (the server listens again on M) and
    // by E, leaving no push behind.
    void pushBox()
    {
        configure(20);
        const QByteArray big =
            "%\r\nO9000 (BIG)\r\n" + QByteArray(4 << 20, 'X') + "\r\nM30\r\n%\r\n";
        writeFile(m_base + u"/Programmes/O9000"_s, big);
        nodalis::sim::MachineSimulator machine;
        QVERIFY(machine.open() && machine.linkAt(tty()));
        QVERIFY(startHeadless(m_server, m_base));
        const QByteArray bor = "\x12\r\n";
        QVERIFY(waitFor([&] { return machine.receivedBytes().endsWith(bor); }));
        machine.clearReceived();
        machine.send("(APPEL 1234)\r\n");
        QVERIFY(waitFor([&] { return machine.receivedBytes().contains(kPtr + bor); }));
        QVERIFY(journalOf(m_base).contains("---Code102---"));

        for (const QString& stop : {u"S"_s, u"E"_s}) {
            machine.clearReceived();
            // The machine holds the line as soon as the program comes.
            QMetaObject::Connection hold = connect(
                &machine, &nodalis::sim::MachineSimulator::dataReceived, this,
                [&] { machine.send("\x13"); }, Qt::SingleShotConnection);
            machine.send("(APPEL O9000)\r\n");
            QVERIFY(waitFor([&] { return !machine.receivedBytes().isEmpty(); }));
            QVERIFY(waitFor([] { return pushes() == 0; }));
            QTest::qWait(300);
            QVERIFY(machine.receivedBytes().size() < big.size());
            if (stop == u"S"_s) {
                QCOMPARE(ctlOn(m_base, {u"send"_s, u"S"_s}), 0);
                QVERIFY(waitFor([] { return pushes() == 1; }, 3000));
                machine.send("\x11");
                machine.clearReceived();
                QCOMPARE(ctlOn(m_base, {u"send"_s, u"M"_s}), 0);
                QVERIFY(waitFor([&] { return machine.receivedBytes().endsWith(bor); }));
            } else {
                stopServer();
                QCOMPARE(pushes(), 1);
            }
            disconnect(hold);
        }
    }

    // S ends the wait: the control's call goes unanswered, and the server
    // stays up; M listens again and the call is served.
    void stopWhileWaiting()
    {
        configure(8);
        QVERIFY(start("tnc", u"wait 2500;version"_s));
        QVERIFY(waitFor([&] { return journalOf(m_base).contains("---Code804---"); }));
        QCOMPARE(ctlOn(m_base, {u"send"_s, u"S"_s}), 0);
        QVERIFY(waitFor([&] { return journalOf(m_base).contains("---Code902---"); }));
        QTest::qWait(3000);
        QCOMPARE(m_sim.state(), QProcess::Running);
        QCOMPARE(journalOf(m_base).count("---Code804---"), 1);
        QCOMPARE(ctlOn(m_base, {u"send"_s, u"M"_s}), 0);
        QCOMPARE(simResult(), 0);
        stopServer();
    }
};

QTEST_GUILESS_MAIN(TestControllersProcess)
#include "tst_controllers_process.moc"
