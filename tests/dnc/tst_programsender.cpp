// Sending the send file to the simulated machine: bytes on the wire, pacing
// and flow control, progress, the readiness test, stops and failures.

#include "dnc/CallResolution.h"
#include "dnc/ProgramSender.h"
#include "dnc/SerialLine.h"

#include "support/ProcessHelpers.h"
#include "support/RecordingView.h"
#include "support/ScriptedPrompt.h"
#include "support/SimulatedLine.h"

#include <QTemporaryDir>
#include <QTimer>

using namespace nodalis;
using namespace nodalis::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kProgram =
    "%\r\nO1234 (ESSAI)\r\nN10 G0 X0 Y0\r\nN20 G1 X50 F500\r\nN30 M30\r\n%\r\n";

} // namespace

class TestProgramSender : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    SimulatedLine m_line;
    std::unique_ptr<ProgramSender> m_sender;
    std::unique_ptr<CallResolution> m_calls;

    QByteArray wire(int settleMs = 100)
    {
        QTest::qWait(settleMs);
        return m_line.sim->receivedBytes();
    }

    static bool logged(int code)
    {
        return readFile(EventLogPath()).contains("---Code" + QByteArray::number(code) + "---");
    }

private slots:
    void init()
    {
        QVERIFY(m_line.open(m_dir.path()));
        QDir(Paths().logFolder).removeRecursively();
        PortSettings& p = Config().Port;
        p.EOB = "\r\n";
        p.BOT = "18";
        p.EOT = "20";
        p.NbBlocAvance = 2;
        m_sender = std::make_unique<ProgramSender>(*m_line.engine);
        m_calls = std::make_unique<CallResolution>(*m_line.engine, *m_sender);
    }

    void cleanup()
    {
        m_calls.reset();
        m_sender.reset();
        m_line.close();
    }

    void sendsTheFile_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QByteArray>("eob");
        QTest::addColumn<QByteArray>("specificite");
        const auto row = [](const char* name, int method, const QByteArray& text,
                            const QByteArray& expected, const char* eob = "\r\n",
                            const char* specificite = "") {
            QTest::newRow(name) << method << text << expected << QByteArray(eob)
                                << QByteArray(specificite);
        };
        const QByteArray whole = "\x12\r\n" + kProgram + "\x14\r\n";
        row("block mode", 0, kProgram, whole);
        row("block mode, other line end, last line open", 0, "%\r\nN1\r\nN2",
            "\x12\n%\nN1\nN2\n\x14\n", "\n");
        row("character mode", 2, kProgram, whole);
        row("serial library", 3, kProgram, whole);
        row("empty file: BOT and EOT only", 1, "", "\x12\r\n\x14\r\n");
        row("clear sequence first", 0, "N1\r\n",
            "\x12\r\n%CLF\r\nMPF1\r\nSPF1, 120\r\nM30\r\nN1\r\n\x14\r\n", "\r\n", "CLEAR_ARCEL");
    }

    void sendsTheFile()
    {
        QFETCH(int, method);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, expected);
        QFETCH(QByteArray, eob);
        QFETCH(QByteArray, specificite);
        Config().Port.EOB = eob;
        Config().Port.Methode = method;
        Config().Port.Specificite = specificite;
        Config().Port.TempoCar = 0.01;
        writeFile(Paths().sendFile, text);
        RecordingView view;
        QVERIFY(m_sender->SendDispatcher());
        QCOMPARE(wire(), expected);
        QVERIFY(view.progress.endsWith(100));
        QCOMPARE(Channel().channelState, qint16(ChannelIdle));
        QVERIFY(logged(903));
        m_line.engine->ClosePort(); // the library's port outlives the engine
    }

    void flowControlTimesOut()
    {
        Config().Port.CtrlFluxSend = 2;
        Config().Port.TimeOutEnvoi = 1;
        m_line.com->setModemLineSource(std::make_unique<FixedModemLines>(false, true));
        writeFile(Paths().sendFile, kProgram);
        QVERIFY(!m_sender->SendDispatcher());
        QVERIFY(logged(109));
        QVERIFY(logged(907));
        QCOMPARE(wire(), QByteArray("\x12\r\n")); // no block, no EOT
    }

    void stopEndsTheSendWithoutEot_data()
    {
        QTest::addColumn<double>("tempoBloc");
        QTest::addColumn<QByteArray>("program");
        QTest::addColumn<int>("stopAfterMs");
        QTest::newRow("paced blocks") << 1.0 << kProgram << 120; // 50 ms a block at this scale
        QByteArray big = "%\r\n";
        while (big.size() < 8 * 1024 * 1024)
            big += "N10 G1 X12.125 Y-4.5 Z-0.02 F1200\r\n";
        // Unpaced, the queued text is dropped too: nothing more leaves.
        QTest::newRow("unpaced, queue full") << 0.0 << big << 10;
    }

    void stopEndsTheSendWithoutEot()
    {
        QFETCH(double, tempoBloc);
        QFETCH(QByteArray, program);
        QFETCH(int, stopAfterMs);
        Config().Port.TempoBloc = tempoBloc;
        Config().Port.NbBlocAvance = 1;
        writeFile(Paths().sendFile, program);
        QTimer::singleShot(stopAfterMs, [] { State().stopRequested = true; });
        QVERIFY(!m_sender->SendDispatcher());
        // What left is the start of the whole send, never its end.
        const QByteArray sent = wire(300);
        QVERIFY(("\x12\r\n" + program).startsWith(sent));
        QVERIFY(sent.size() < program.size());
        QVERIFY(logged(907));
    }

    void readiness_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QByteArray>("machineSays");
        QTest::addColumn<bool>("ready");
        QTest::addColumn<int>("event");
        QTest::newRow("no check") << QByteArray() << QByteArray() << true << 0;
        QTest::newRow("wait 1 s") << QByteArray("-1") << QByteArray() << true << 510;
        QTest::newRow("QCQ, silent machine") << QByteArray("QCQ") << QByteArray() << false << 513;
        QTest::newRow("QCQ, machine speaks") << QByteArray("qcq") << QByteArray("x") << true << 511;
        QTest::newRow("DC1 expected, DC1 comes")
            << QByteArray("17") << QByteArray("ab\x11") << true << 511;
        QTest::newRow("DC1 expected, other bytes")
            << QByteArray("17") << QByteArray("abc") << false << 513;
    }

    void readiness()
    {
        QFETCH(QByteArray, mode);
        QFETCH(QByteArray, machineSays);
        QFETCH(bool, ready);
        QFETCH(int, event);
        Config().Port.CheckModeRecep = mode;
        Config().Port.TimeOutModeRecep = 2;
        QVERIFY(OpenControlPort(*m_line.com, Config().Port, true));
        if (!machineSays.isEmpty()) {
            m_line.sim->wait(30);
            m_line.sim->send(machineSays);
        }
        QCOMPARE(m_sender->IsReadyToSend(), ready);
        if (event)
            QVERIFY(logged(event));
        if (!ready)
            QVERIFY(logged(952)); // the transaction was reset
    }

    void serialServerHandshake()
    {
        Config().Port.Methode = 10;
        const QString shared = m_dir.filePath(u"shared"_s);
        QDir().mkpath(shared);
        Config().DefaultDirHostSend = shared.toLocal8Bit();
        writeFile(Paths().sendFile, kProgram);
        // The serial server takes the file, then says it went well.
        QTimer server;
        connect(&server, &QTimer::timeout, [&] {
            const QString sendTxt = shared + u"/Send.txt"_s;
            if (QFile::exists(sendTxt)) {
                QFile::remove(sendTxt);
                QFile(shared + u"/RecepOk"_s).open(QIODevice::WriteOnly);
                QFile(shared + u"/Ok"_s).open(QIODevice::WriteOnly);
            }
        });
        server.start(5);
        QVERIFY(m_sender->SendDispatcher());
        QVERIFY(logged(755));

        QFile(shared + u"/Send.txt"_s).open(QIODevice::WriteOnly); // a leftover
        server.stop();
        ScriptedPrompt prompt;
        QVERIFY(!m_sender->SendDispatcher());
        QVERIFY(logged(750));
        QCOMPARE(prompt.messages().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestProgramSender)
#include "tst_programsender.moc"
