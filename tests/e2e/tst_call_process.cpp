// Serving calls end to end: a headless server on a pseudo-terminal, the
// simulator playing the machine, nodalisctl playing the program-management
// application.

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

namespace {

const QByteArray kO1000 =
    "%\r\nO1000 (BRIDE)\r\nN10 G0 X0\r\nN20 G1 X10\r\nN30 G1 Y10\r\nN40 G1 X0\r\nN50 M30\r\n%\r\n";
const QByteArray kO2000 = "%\r\nO2000 (CALE)\r\nN10 T2 M6\r\nN20 M30\r\n%\r\n";
const QByteArray kBot = "\x12\r\n";
const QByteArray kEot = "\x14\r\n";

QByteArray iniFor(const QString& base, const QString& tty, int mode)
{
    return "[NODALIS]\r\nPortListen=0\r\nDncAppMode=" + QByteArray::number(mode) +
           "\r\n[DNC]\r\nRefMO=FR1\r\nMethode=0\r\nIsModeEcoute=1\r\nUseRPC=1\r\n"
           "CallSyntax=(APPEL $$$$)\r\nPathFileProgOpen=" +
           base.toLocal8Bit() +
           "/Programmes\r\n"
           "PathFileProgSave=" +
           base.toLocal8Bit() +
           "/Remontes\r\n"
           "PathMacroError=" +
           base.toLocal8Bit() +
           "/erreur.txt\r\n"
           "[COMM]\r\nPortName=" +
           tty.toLocal8Bit() +
           "\r\nBauds=9600\r\nDataBit=8\r\nParite=N\r\nStopBit=1\r\nTimeOut=1\r\nEOB=13,10\r\n"
           "[OPTION_DNC]\r\nNbBlocAvance=2\r\nIsMultiAppel=1\r\nSepCarMultiAppel=,\r\nCarSepAppel=#"
           "\r\n"
           "[OPTION_T]\r\nBOT=18\r\nEOT=20\r\n[OPTION_R]\r\nBOR=17\r\nEOR=19\r\n[SYNTAXE_MO]"
           "\r\nCarDebProg=O\r\nBlocDeb=%\r\nBlocFin=%\r\n";
}

} // namespace

class TestCallProcess : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    QString m_base;
    MachineSimulator m_sim;
    QProcess m_server;

    QByteArray log() const
    {
        return readFile(m_base + QStringLiteral("/LogFiles/Journal (") +
                        QDate::currentDate().toString(QStringLiteral("dd-MM-yy")) +
                        QStringLiteral(").txt"));
    }

    static QProcessEnvironment env()
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("NODALIS_TIME_SCALE"), QStringLiteral("0.2"));
        return e;
    }

    int ctl(const QStringList& args)
    {
        QProcess p;
        p.start(bin("nodalisctl"), QStringList{QStringLiteral("--base"), m_base} + args);
        return p.waitForFinished(30000) ? p.exitCode() : -1;
    }

    // Waits until the server listens: its last words on the line are BOR.
    bool listening(int ms = 15000)
    {
        QElapsedTimer t;
        t.start();
        while (!m_sim.receivedBytes().endsWith("\x11\r\n") && t.elapsed() < ms)
            QTest::qWait(20);
        return m_sim.receivedBytes().endsWith("\x11\r\n");
    }

    // Plays one exchange: once the server listens the machine sends, then
    // the test waits for what comes back to hold the expected end.
    QByteArray exchange(const QByteArray& machineSends, const QByteArray& until, int ms = 15000)
    {
        if (!listening())
            return "<not listening>";
        m_sim.clearReceived();
        m_sim.send(machineSends, 8, 2);
        QElapsedTimer t;
        t.start();
        while (!m_sim.receivedBytes().contains(until) && t.elapsed() < ms)
            QTest::qWait(20);
        return m_sim.receivedBytes();
    }

private slots:
    void initTestCase()
    {
        m_base = m_tmp.filePath(QStringLiteral("fr1"));
        QVERIFY(m_sim.open());
        const QString tty = m_base + QStringLiteral("/machine.tty");
        QDir().mkpath(m_base);
        QVERIFY(m_sim.linkAt(tty));
        writeFile(m_base + QStringLiteral("/Nodalis.ini"), iniFor(m_base, tty, 2));
        writeFile(m_base + QStringLiteral("/Programmes/O1000"), kO1000);
        writeFile(m_base + QStringLiteral("/Programmes/Tours/O2000.nc"), kO2000);
        writeFile(m_base + QStringLiteral("/erreur.txt"), "%\r\n(MSG, $MSGERROR$)\r\nM30\r\n%\r\n");
        // Links inside the program folder that lead out of it.
        const QString secret = m_tmp.filePath(QStringLiteral("secret"));
        writeFile(secret, "%\r\nSECRET\r\n%\r\n");
        writeFile(m_tmp.filePath(QStringLiteral("dehors/O4000")), "%\r\nSECRET\r\n%\r\n");
        QVERIFY(QFile::link(secret, m_base + QStringLiteral("/Programmes/LIEN")));
        QVERIFY(QFile::link(secret, m_base + QStringLiteral("/Programmes/Tours/LIEN2")));
        QVERIFY(QFile::link(m_tmp.filePath(QStringLiteral("dehors")),
                            m_base + QStringLiteral("/Programmes/DEHORS")));
        m_server.setProcessEnvironment(env());
        m_server.start(bin("nodalis"),
                       {QStringLiteral("--headless"), QStringLiteral("--base"), m_base});
        QVERIFY(m_server.waitForStarted());
        QVERIFY(listening());
    }

    void cleanupTestCase()
    {
        ctl({QStringLiteral("stop")});
        m_server.waitForFinished(10000);
    }

    void callServedFromAFile()
    {
        const QByteArray wire = exchange("(APPEL O1000)\r\n", kEot);
        QVERIFY2(wire.endsWith(kBot + kO1000 + kEot), wire.constData());
        QVERIFY(log().contains("---Code503---APPEL du programme  (O1000)\r\n"));
        QVERIFY(log().contains("---Code903---"));
    }

    void calledNameFoundInASubFolder()
    {
        const QByteArray wire = exchange("(appel O2000)\r\n", kEot);
        QVERIFY2(wire.endsWith(kBot + kO2000 + kEot), wire.constData());
    }

    // A name outside the program folders, by parent steps or by links, is
    // answered as a missing program, with the name logged as received.
    void refusedNamesGetTheErrorProgram_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("missing") << QByteArray("O9999");
        QTest::newRow("parent steps") << QByteArray("../../secret");
        QTest::newRow("linked file") << QByteArray("LIEN");
        QTest::newRow("linked file in a sub-folder") << QByteArray("LIEN2");
        QTest::newRow("through a linked folder") << QByteArray("DEHORS/O4000");
    }

    void refusedNamesGetTheErrorProgram()
    {
        QFETCH(QByteArray, name);
        const QByteArray wire = exchange("(APPEL " + name + ")\r\n", kEot);
        QVERIFY2(wire.endsWith(kBot + "%\r\n(MSG, FICHIER INTROUVABLE)\r\nM30\r\n%\r\n" + kEot),
                 wire.constData());
        QVERIFY(log().contains("(" + name + ") est introuvable en fichier"));
    }

    void multipleCallAndRange()
    {
        // The first program's number line opens the whole, then come every
        // line of the programs but their start and end blocks.
        QByteArray wire = exchange("(APPEL O1000,O2000)\r\n", kEot);
        QVERIFY2(
            wire.endsWith(
                kBot +
                "%\r\nO1000 (BRIDE)\r\nO1000 (BRIDE)\r\nN10 G0 X0\r\nN20 G1 X10\r\nN30 G1 Y10\r\n"
                "N40 G1 X0\r\nN50 M30\r\nO2000 (CALE)\r\nN10 T2 M6\r\nN20 M30\r\n%\r\n" +
                kEot),
            wire.constData());
        wire = exchange("(APPEL O1000#N20#N40)\r\n", kEot);
        QVERIFY2(wire.endsWith(
                     kBot + "%\r\nO1000 (BRIDE)\r\nN20 G1 X10\r\nN30 G1 Y10\r\nN40 G1 X0\r\n%\r\n" +
                     kEot),
                 wire.constData());
    }

    void uploadIsStored()
    {
        const QByteArray program = "%\r\nO3000 (REPRISE)\r\nN10 G0 X5\r\nN20 M30\r\n%\r\n";
        exchange(program, "\x13");
        QTRY_VERIFY_WITH_TIMEOUT(log().contains("---Code703---"), 10000);
        QVERIFY(log().contains("---Code700---REMONTEE d'un programme"));
        const QStringList stored = QDir(m_base + QStringLiteral("/Receiv"))
                                       .entryList({QStringLiteral("FromCN_(*).txt")}, QDir::Files);
        QCOMPARE(stored.size(), 1);
        QCOMPARE(readFile(m_base + QStringLiteral("/Receiv/") + stored.first()), program);
    }

    void trackingMessage()
    {
        exchange("SUIVI-INFO1-\r\n", "\x13");
        const QString tracking = m_base + QStringLiteral("/Suivi/Suivi (") +
                                 QDate::currentDate().toString(QStringLiteral("dd-MM-yy")) +
                                 QStringLiteral(").txt");
        QTRY_VERIFY_WITH_TIMEOUT(readFile(tracking).contains("NbPiece=1"), 10000);
    }

    void pushedByTheApplicationWithProgress()
    {
        writeFile(m_base + QStringLiteral("/Send/ToCN.txt"), kO1000);
        QProcess watch;
        watch.start(bin("nodalisctl"), {QStringLiteral("--base"), m_base, QStringLiteral("--raw"),
                                        QStringLiteral("watch")});
        QVERIFY(watch.waitForStarted());
        QTest::qWait(500);
        m_sim.clearReceived();
        QCOMPARE(ctl({QStringLiteral("send"), QStringLiteral("T"), QStringLiteral("O1000"),
                      QStringLiteral("--until"), QStringLiteral("{f}")}),
                 0);
        QTRY_VERIFY_WITH_TIMEOUT(m_sim.receivedBytes().contains(kBot + kO1000 + kEot), 10000);
        QTest::qWait(300);
        watch.terminate();
        watch.waitForFinished(5000);
        const QByteArray watched = watch.readAllStandardOutput();
        QVERIFY2(watched.contains("Info:{%}|Arg:100<>|"), watched.constData());
        QVERIFY(watched.contains("Info:{t}|Arg:0<>|"));
    }

    void stopDuringASend()
    {
        QByteArray big = "%\r\nO5000\r\n";
        for (int i = 1; i <= 200; ++i)
            big += "N" + QByteArray::number(i * 10) + " G1 X" + QByteArray::number(i) + "\r\n";
        big += "M30\r\n%\r\n";
        writeFile(m_base + QStringLiteral("/Send/ToCN.txt"), big);
        // A pause after every block, read again by REINIT.
        QFile ini(m_base + QStringLiteral("/Nodalis.ini"));
        QVERIFY(ini.open(QIODevice::Append));
        ini.write("[TEMPO]\r\nTempoBloc=0.2\r\n");
        ini.close();
        QCOMPARE(ctl({QStringLiteral("send"), QStringLiteral("REINIT")}), 0);
        QVERIFY(listening());
        m_sim.clearReceived();
        QProcess sender;
        sender.start(bin("nodalisctl"),
                     {QStringLiteral("--base"), m_base, QStringLiteral("send"), QStringLiteral("T"),
                      QStringLiteral("O5000"), QStringLiteral("--until"), QStringLiteral("{f}")});
        QTRY_VERIFY_WITH_TIMEOUT(m_sim.receivedBytes().contains("N100 "), 10000);
        QCOMPARE(ctl({QStringLiteral("send"), QStringLiteral("S")}), 0);
        QVERIFY(sender.waitForFinished(15000));
        QTest::qWait(300);
        QVERIFY(!m_sim.receivedBytes().contains("\x14"));
        QVERIFY(log().contains("---Code907---"));
    }

    void callsServedFromTheStore()
    {
        MachineSimulator machine;
        QVERIFY(machine.open());
        const QString base = m_tmp.filePath(QStringLiteral("store"));
        QDir().mkpath(base);
        const QString tty = base + QStringLiteral("/machine.tty");
        QVERIFY(machine.linkAt(tty));
        QByteArray ini = iniFor(base, tty, 0);
        ini.replace("[DNC]\r\n",
                    "[DNC]\r\nDataAccess=1\r\nPathData=" + base.toLocal8Bit() + "/Data\r\n");
        // Without a closing mark the called name may hold parentheses.
        ini.replace("CallSyntax=(APPEL $$$$)", "CallSyntax=APPEL $$$$");
        writeFile(base + QStringLiteral("/Nodalis.ini"), ini);
        writeFile(base + QStringLiteral("/erreur.txt"), "%\r\n(MSG, $MSGERROR$)\r\nM30\r\n%\r\n");
        writeFile(m_tmp.filePath(QStringLiteral("p1.nc")), kO1000);
        writeFile(m_tmp.filePath(QStringLiteral("p2.nc")), kO2000);
        auto store = [&](const QStringList& args) {
            QProcess p;
            p.start(bin("nodalisctl"),
                    QStringList{QStringLiteral("--base"), base, QStringLiteral("store")} + args);
            return p.waitForFinished(20000) ? p.exitCode() : -1;
        };
        QCOMPARE(store({QStringLiteral("init")}), 0);
        QCOMPARE(store({QStringLiteral("add"), QStringLiteral("--machine"), QStringLiteral("FR1"),
                        QStringLiteral("--call"), QStringLiteral("1000"), QStringLiteral("--file"),
                        m_tmp.filePath(QStringLiteral("p1.nc"))}),
                 0);
        QCOMPARE(store({QStringLiteral("add"), QStringLiteral("--machine"), QStringLiteral("FR1"),
                        QStringLiteral("--call"), QStringLiteral("2000"), QStringLiteral("--file"),
                        m_tmp.filePath(QStringLiteral("p2.nc")), QStringLiteral("--downloadable"),
                        QStringLiteral("1")}),
                 0);
        QProcess server;
        server.setProcessEnvironment(env());
        server.start(bin("nodalis"),
                     {QStringLiteral("--headless"), QStringLiteral("--base"), base});
        QVERIFY(server.waitForStarted());
        auto ask = [&](const QByteArray& call) {
            QElapsedTimer t;
            t.start();
            while (!machine.receivedBytes().endsWith("\x11\r\n") && t.elapsed() < 15000)
                QTest::qWait(20);
            machine.clearReceived();
            machine.send(call);
            while (!machine.receivedBytes().contains(kEot) && t.elapsed() < 30000)
                QTest::qWait(20);
            return machine.receivedBytes();
        };
        QByteArray wire = ask("APPEL 1000\r\n");
        QVERIFY2(wire.endsWith(kBot + kO1000 + kEot), wire.constData());
        wire = ask("APPEL 2000\r\n");
        QVERIFY2(wire.endsWith(
                     kBot + "%\r\n(MSG, PROGRAMME 2000 NON TELECHARGEABLE)\r\nM30\r\n%\r\n" + kEot),
                 wire.constData());
        wire = ask("APPEL 3000\r\n");
        QVERIFY2(wire.contains("PROGRAMME 3000 INTROUVABLE EN BD ET FICHIER"), wire.constData());
        // The name in the message can neither close its comment nor start a block.
        wire = ask("APPEL O1)G00Z-50.(\r\n");
        QVERIFY2(wire.endsWith(kBot +
                               "%\r\n(MSG, PROGRAMME O1 G00Z-50.  INTROUVABLE EN BD ET FICHIER)"
                               "\r\nM30\r\n%\r\n" +
                               kEot),
                 wire.constData());
        QProcess stop;
        stop.start(bin("nodalisctl"), {QStringLiteral("--base"), base, QStringLiteral("stop")});
        stop.waitForFinished(10000);
        QVERIFY(server.waitForFinished(10000));
    }

    void standAloneSendsTheFileAndEnds()
    {
        MachineSimulator machine;
        QVERIFY(machine.open());
        const QString base = m_tmp.filePath(QStringLiteral("alone"));
        QDir().mkpath(base);
        const QString tty = base + QStringLiteral("/machine.tty");
        QVERIFY(machine.linkAt(tty));
        QByteArray ini = iniFor(base, tty, 1);
        ini.replace("IsModeEcoute=1", "IsModeEcoute=0");
        writeFile(base + QStringLiteral("/Nodalis.ini"), ini);
        const QString program = m_tmp.filePath(QStringLiteral("O7000.nc"));
        writeFile(program, kO2000);
        QProcess alone;
        alone.setProcessEnvironment(env());
        alone.start(bin("nodalis"),
                    {QStringLiteral("--headless"), QStringLiteral("--base"), base, program});
        QVERIFY(alone.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(alone.state() == QProcess::NotRunning, 15000);
        QCOMPARE(alone.exitCode(), 0);
        QTRY_COMPARE(machine.receivedBytes(), kBot + kO2000 + kEot);
    }
};

QTEST_GUILESS_MAIN(TestCallProcess)
#include "tst_call_process.moc"
