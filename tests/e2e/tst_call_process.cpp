// Serving a machine end to end: a headless server on a pseudo-terminal, the
// simulator playing the machine, nodalisctl playing the program-management
// application. Calls, uploads, sends, stops, and the line going away.

#include "sim/MachineSimulator.h"
#include "support/ProcessHelpers.h"

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
    const QByteArray b = base.toLocal8Bit();
    return "[NODALIS]\r\nPortListen=0\r\nDncAppMode=" + QByteArray::number(mode) +
           "\r\n[DNC]\r\nRefMO=FR1\r\nMethode=0\r\nIsModeEcoute=1\r\nUseRPC=1\r\n"
           "CallSyntax=(APPEL $$$$)\r\nPathFileProgOpen=" +
           b + "/Programmes\r\nPathFileProgSave=" + b + "/Remontes\r\nPathMacroError=" + b +
           "/erreur.txt\r\n[COMM]\r\nPortName=" + tty.toLocal8Bit() +
           "\r\nBauds=9600\r\nDataBit=8\r\nParite=N\r\nStopBit=1\r\nTimeOut=1\r\nEOB=13,10\r\n"
           "[OPTION_DNC]\r\nNbBlocAvance=2\r\nIsMultiAppel=1\r\nSepCarMultiAppel=,\r\n"
           "CarSepAppel=#\r\n[OPTION_T]\r\nBOT=18\r\nEOT=20\r\n[OPTION_R]\r\nBOR=17\r\nEOR=19\r\n"
           "[SYNTAXE_MO]\r\nCarDebProg=O\r\nBlocDeb=%\r\nBlocFin=%\r\n";
}

// Waits until the server listens: its last words on the line are BOR.
bool listening(MachineSimulator& sim)
{
    return waitFor([&] { return sim.receivedBytes().endsWith("\x11\r\n"); });
}

// Plays one exchange: once the server listens the machine sends, then the
// test waits for what comes back to hold the expected end, and gives what
// came up to it.
QByteArray exchange(MachineSimulator& sim, const QByteArray& machineSends, const QByteArray& until)
{
    if (!listening(sim))
        return "<not listening>";
    sim.clearReceived();
    sim.send(machineSends, 8, 2);
    waitFor([&] { return sim.receivedBytes().contains(until); });
    // Up to the expected end: on a loaded machine the server's invitation
    // to send again, once it listens, may already have come after it.
    const QByteArray got = sim.receivedBytes();
    const qsizetype at = got.indexOf(until);
    return at < 0 ? got : got.left(at + until.size());
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

    QByteArray log() const { return journalOf(m_base); }
    int ctl(const QStringList& args) { return ctlOn(m_base, args); }
    QByteArray exchange(const QByteArray& sent, const QByteArray& until)
    {
        return ::exchange(m_sim, sent, until);
    }

    // A base folder of its own, the machine's line linked in it, and its
    // configuration in the given mode.
    QString machineBase(MachineSimulator& machine, const QString& name, int mode)
    {
        const QString base = m_tmp.filePath(name);
        const QString tty = base + u"/machine.tty"_s;
        QDir().mkpath(base);
        if (!machine.open() || !machine.linkAt(tty))
            return QString();
        writeFile(base + u"/Nodalis.ini"_s, iniFor(base, tty, mode));
        writeFile(base + u"/erreur.txt"_s, "%\r\n(MSG, $MSGERROR$)\r\nM30\r\n%\r\n");
        return base;
    }

    // A server on base, its waits five times shorter; the line not awaited.
    static bool serve(QProcess& server, const QString& base, const QStringList& more = {})
    {
        server.setProcessEnvironment(scaledTime(0.2));
        return startHeadless(server, base, more, false);
    }

    static void configure(const QString& base, const QByteArray& from, const QByteArray& to)
    {
        writeFile(base + u"/Nodalis.ini"_s, readFile(base + u"/Nodalis.ini"_s).replace(from, to));
    }

private slots:
    void initTestCase()
    {
        m_base = machineBase(m_sim, u"fr1"_s, 2);
        QVERIFY(!m_base.isEmpty());
        writeFile(m_base + u"/Programmes/O1000"_s, kO1000);
        writeFile(m_base + u"/Programmes/Tours/O2000.nc"_s, kO2000);
        // Links inside the program folder that lead out of it.
        const QString secret = m_tmp.filePath(u"secret"_s);
        writeFile(secret, "%\r\nSECRET\r\n%\r\n");
        writeFile(m_tmp.filePath(u"dehors/O4000"_s), "%\r\nSECRET\r\n%\r\n");
        QVERIFY(QFile::link(secret, m_base + u"/Programmes/LIEN"_s));
        QVERIFY(QFile::link(secret, m_base + u"/Programmes/Tours/LIEN2"_s));
        QVERIFY(QFile::link(m_tmp.filePath(u"dehors"_s), m_base + u"/Programmes/DEHORS"_s));
        QVERIFY(serve(m_server, m_base));
        QVERIFY(listening(m_sim));
    }

    void cleanupTestCase()
    {
        ctl({u"stop"_s});
        m_server.waitForFinished(10000);
    }

    // Each call answered with the program between BOT and EOT, the call
    // logged, and the end of the send for a program found. A name outside
    // the program folders by links is answered as a missing program, with
    // the name logged as received.
    void calls_data()
    {
        QTest::addColumn<QByteArray>("call");
        QTest::addColumn<QByteArray>("sent"); // none: the error program
        QTest::addColumn<QByteArray>("logged");
        const auto row = [](const char* tag, const QByteArray& call, const QByteArray& sent,
                            const QByteArray& logged = {}) {
            QTest::newRow(tag) << call << sent << (logged.isEmpty() ? call : logged);
        };
        row("from a file", "O1000", kO1000);
        row("in a sub-folder", "O2000", kO2000);
        // The first program's number line opens the whole, then come the
        // range's lines and every line of the next program but its end blocks.
        row("several, with a range", "O1000#N20#N40,O2000",
            "%\r\nO1000 (BRIDE)\r\nN20 G1 X10\r\nN30 G1 Y10\r\nN40 G1 X0\r\nO2000 (CALE)\r\n"
            "N10 T2 M6\r\nN20 M30\r\n%\r\n",
            "O1000 + O2000");
        row("missing", "O9999", {});
        row("linked file", "LIEN", {});
        row("linked file in a sub-folder", "LIEN2", {});
        row("through a linked folder", "DEHORS/O4000", {});
    }

    void calls()
    {
        QFETCH(QByteArray, call);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, logged);
        const qsizetype ends = log().count("---Code903---");
        // The call word in any case.
        const QByteArray wire = exchange("(appel " + call + ")\r\n", kEot);
        const QByteArray error = "%\r\n(MSG, FICHIER INTROUVABLE)\r\nM30\r\n%\r\n";
        QVERIFY2(wire.endsWith(kBot + (sent.isEmpty() ? error : sent) + kEot), wire.constData());
        // The log lines may land just after the answer's last byte.
        logged = sent.isEmpty() ? "(" + logged + ") est introuvable en fichier"
                                : "---Code503---APPEL du programme  (" + logged + ")\r\n";
        QVERIFY2(waitFor([&] { return log().contains(logged); }), log().constData());
        QVERIFY(sent.isEmpty() || waitFor([&] { return log().count("---Code903---") > ends; }));
    }

    void uploadIsStored()
    {
        const QByteArray program = "%\r\nO3000 (REPRISE)\r\nN10 G0 X5\r\nN20 M30\r\n%\r\n";
        exchange(program, "\x13");
        QTRY_VERIFY_WITH_TIMEOUT(log().contains("---Code703---"), 10000);
        QVERIFY(log().contains("---Code700---REMONTEE d'un programme"));
        const QStringList stored =
            QDir(m_base + u"/Receiv"_s).entryList({u"FromCN_(*).txt"_s}, QDir::Files);
        QCOMPARE(stored.size(), 1);
        QCOMPARE(readFile(m_base + u"/Receiv/"_s + stored.first()), program);
    }

    void trackingMessage()
    {
        exchange("SUIVI-INFO1-\r\n", "\x13");
        const QString tracking = m_base + u"/Suivi/Suivi ("_s +
                                 QDate::currentDate().toString(u"dd-MM-yy"_s) + u").txt"_s;
        QTRY_VERIFY_WITH_TIMEOUT(readFile(tracking).contains("NbPiece=1"), 10000);
    }

    void pushedByTheApplicationWithProgress()
    {
        writeFile(m_base + u"/Send/ToCN.txt"_s, kO1000);
        QProcess watch;
        watch.start(bin("nodalisctl"), {u"--base"_s, m_base, u"--raw"_s, u"watch"_s});
        QVERIFY(watch.waitForStarted());
        QTest::qWait(500);
        m_sim.clearReceived();
        QCOMPARE(ctl({u"send"_s, u"T"_s, u"O1000"_s, u"--until"_s, u"{f}"_s}), 0);
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
        writeFile(m_base + u"/Send/ToCN.txt"_s, big + "M30\r\n%\r\n");
        // A pause after every block, read again by REINIT.
        configure(m_base, "[SYNTAXE_MO]", "[TEMPO]\r\nTempoBloc=0.2\r\n[SYNTAXE_MO]");
        QCOMPARE(ctl({u"send"_s, u"REINIT"_s}), 0);
        QVERIFY(listening(m_sim));
        m_sim.clearReceived();
        QProcess sender;
        sender.start(bin("nodalisctl"),
                     {u"--base"_s, m_base, u"send"_s, u"T"_s, u"O5000"_s, u"--until"_s, u"{f}"_s});
        QTRY_VERIFY_WITH_TIMEOUT(m_sim.receivedBytes().contains("N100 "), 10000);
        QCOMPARE(ctl({u"send"_s, u"S"_s}), 0);
        QVERIFY(sender.waitForFinished(15000));
        QTest::qWait(300);
        QVERIFY(!m_sim.receivedBytes().contains("\x14"));
        QVERIFY(log().contains("---Code907---"));
    }

    void callsServedFromTheStore()
    {
        MachineSimulator machine;
        const QString base = machineBase(machine, u"store"_s, 0);
        QVERIFY(!base.isEmpty());
        configure(base, "[DNC]\r\n",
                  "[DNC]\r\nDataAccess=1\r\nPathData=" + base.toLocal8Bit() + "/Data\r\n");
        // Without a closing mark the called name may hold parentheses.
        configure(base, "CallSyntax=(APPEL $$$$)", "CallSyntax=APPEL $$$$");
        QCOMPARE(ctlOn(base, {u"store"_s, u"init"_s}), 0);
        for (const auto& [number, text] : {std::pair{"1000", kO1000}, std::pair{"2000", kO2000}}) {
            const QString file = m_tmp.filePath(QLatin1String(number));
            writeFile(file, text);
            QCOMPARE(ctlOn(base, {u"store"_s, u"add"_s, u"--machine"_s, u"FR1"_s, u"--call"_s,
                                  QLatin1String(number), u"--file"_s, file, u"--downloadable"_s,
                                  text == kO1000 ? u"0"_s : u"1"_s}),
                     0);
        }
        QProcess server;
        QVERIFY(serve(server, base));
        const std::pair<QByteArray, QByteArray> calls[] = {
            {"APPEL 1000", kO1000},
            {"APPEL 2000", "%\r\n(MSG, PROGRAMME 2000 NON TELECHARGEABLE)\r\nM30\r\n%\r\n"},
            // The name in the message can neither close its comment nor start a block.
            {"APPEL O1)G00Z-50.(",
             "%\r\n(MSG, PROGRAMME O1 G00Z-50.  INTROUVABLE EN BD ET FICHIER)\r\nM30\r\n%\r\n"}};
        for (const auto& [call, sent] : calls) {
            const QByteArray wire = ::exchange(machine, call + "\r\n", kEot);
            QVERIFY2(wire.endsWith(kBot + sent + kEot), wire.constData());
        }
        ctlOn(base, {u"stop"_s});
        QVERIFY(server.waitForFinished(10000));
    }

    void standAloneSendsTheFileAndEnds()
    {
        MachineSimulator machine;
        const QString base = machineBase(machine, u"alone"_s, 1);
        QVERIFY(!base.isEmpty());
        configure(base, "IsModeEcoute=1", "IsModeEcoute=0");
        const QString program = m_tmp.filePath(u"O7000.nc"_s);
        writeFile(program, kO2000);
        QProcess alone;
        QVERIFY(serve(alone, base, {program}));
        QTRY_VERIFY_WITH_TIMEOUT(alone.state() == QProcess::NotRunning, 15000);
        QCOMPARE(alone.exitCode(), 0);
        QTRY_COMPARE(machine.receivedBytes(), kBot + kO2000 + kEot);
    }

    void listensReceivesAndSurvivesTheLineGoing()
    {
        MachineSimulator sim;
        const QString base = machineBase(sim, u"tour"_s, 0);
        QVERIFY(!base.isEmpty());
        QProcess server;
        QVERIFY(serve(server, base));
        const auto log = [&] { return journalOf(base); };

        // The server opens the line and sends BOR, then listens.
        QTRY_VERIFY_WITH_TIMEOUT(sim.receivedBytes().startsWith("\x11\r\n"), 10000);
        sim.send("%\r\nO4000\r\nG0 X5\r\nM30\r\n%\r\n", 6, 2);
        // End of transmission on silence: EOR, then the next cycle's BOR.
        QTRY_VERIFY_WITH_TIMEOUT(sim.receivedBytes().contains("\x13\r\n\x11\r\n"), 10000);
        QVERIFY(log().contains("---Code101---") && log().contains("---Code105---"));

        // S stops the transfer: the running cycle ends without EOR, and the
        // relaunch timer (30 s, 6 s at this scale) listens again.
        sim.clearReceived();
        // A machine that keeps talking: no silence ends this reception.
        sim.send(QByteArray(80, 'X'), 1, 50);
        QTRY_VERIFY_WITH_TIMEOUT(log().count("---Code101---") == 2, 10000);
        QCOMPARE(ctlOn(base, {u"send"_s, u"S"_s}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(log().contains("---Code902---"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(sim.receivedBytes().contains("\x11\r\n"), 15000);
        QVERIFY(!sim.receivedBytes().contains("\x13"));

        // The machine's line goes away; the server goes on serving its clients.
        sim.close();
        QTRY_VERIFY2_WITH_TIMEOUT(log().contains("---Code103---"), log().constData(), 10000);
        QCOMPARE(ctlOn(base, {u"ping"_s}), 0);
        QCOMPARE(ctlOn(base, {u"stop"_s}), 0);
        QVERIFY(server.waitForFinished(10000));
        QCOMPARE(server.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestCallProcess)
#include "tst_call_process.moc"
