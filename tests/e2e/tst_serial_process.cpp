// A headless server listening on a pseudo-terminal, the simulator playing
// the machine: uploads on the wire, the line going away, a stop.

#include "sim/MachineSimulator.h"
#include "support/ProcessHelpers.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using nodalis::sim::MachineSimulator;
using namespace nodalis::test;

class TestSerialProcess : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;

    static int ctl(const QString& base, const QStringList& args)
    {
        QProcess p;
        p.start(bin("nodalisctl"), QStringList{QStringLiteral("--base"), base} + args);
        return p.waitForFinished(20000) ? p.exitCode() : -1;
    }

private slots:
    void listensReceivesAndSurvivesTheLineGoing()
    {
        MachineSimulator sim;
        QVERIFY(sim.open());
        const QString base = m_tmp.filePath(QStringLiteral("tour"));
        QDir().mkpath(base);
        const QString tty = base + QStringLiteral("/machine.tty");
        QVERIFY(sim.linkAt(tty));
        QFile ini(base + QStringLiteral("/Nodalis.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(
            "[NODALIS]\r\nPortListen=0\r\nDncAppMode=0\r\n[DNC]\r\nRefMO=TOUR\r\nMethode=0\r\n"
            "IsModeEcoute=1\r\n[COMM]\r\nPortName=" +
            tty.toLocal8Bit() +
            "\r\nBauds=9600\r\nDataBit=7\r\nParite=E\r\nStopBit=1\r\nTimeOut=1\r\nEOB=13,10\r\n"
            "[OPTION_R]\r\nBOR=17\r\nEOR=19\r\n");
        ini.close();

        QProcess server;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NODALIS_TIME_SCALE"), QStringLiteral("0.2"));
        server.setProcessEnvironment(env);
        server.start(bin("nodalis"),
                     {QStringLiteral("--headless"), QStringLiteral("--base"), base});
        QVERIFY(server.waitForStarted());

        // The server opens the line and sends BOR, then listens.
        QTRY_VERIFY_WITH_TIMEOUT(sim.receivedBytes().startsWith("\x11\r\n"), 10000);
        sim.send("%\r\nO4000\r\nG0 X5\r\nM30\r\n%\r\n", 6, 2);
        // End of transmission on silence: EOR, then the next cycle's BOR.
        QTRY_VERIFY_WITH_TIMEOUT(sim.receivedBytes().contains("\x13\r\n\x11\r\n"), 10000);

        const QString log = base + QStringLiteral("/LogFiles/Journal (") +
                            QDate::currentDate().toString(QStringLiteral("dd-MM-yy")) +
                            QStringLiteral(").txt");
        QVERIFY(readFile(log).contains("---Code101---"));
        QVERIFY(readFile(log).contains("---Code105---"));

        // S stops the transfer: the running cycle ends without EOR, and the
        // relaunch timer (30 s, 6 s at this scale) listens again.
        sim.clearReceived();
        // A machine that keeps talking: no silence ends this reception.
        sim.send(QByteArray(80, 'X'), 1, 50);
        QTRY_VERIFY_WITH_TIMEOUT(readFile(log).count("---Code101---") == 2, 10000);
        QCOMPARE(ctl(base, {QStringLiteral("send"), QStringLiteral("S")}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(readFile(log).contains("---Code902---"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(sim.receivedBytes().contains("\x11\r\n"), 15000);
        QVERIFY(!sim.receivedBytes().contains("\x13"));

        // The machine's line goes away; the server goes on serving its clients.
        sim.close();
        QTRY_VERIFY2_WITH_TIMEOUT(readFile(log).contains("---Code103---"),
                                  readFile(log).constData(), 10000);
        QCOMPARE(ctl(base, {QStringLiteral("ping")}), 0);

        QCOMPARE(ctl(base, {QStringLiteral("stop")}), 0);
        QVERIFY(server.waitForFinished(10000));
        QCOMPARE(server.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSerialProcess)
#include "tst_serial_process.moc"
