// The port engine on a pseudo-terminal, with the simulator playing the
// machine: polled, event-driven and library reception, their ends, and
// the faults of the line.

#include "support/FailingSink.h"
#include "support/ProcessHelpers.h"
#include "support/SimulatedLine.h"

#include <QTemporaryDir>
#include <QTimer>

using namespace nodalis;
using namespace nodalis::test;
using namespace Qt::StringLiterals;
using nodalis::sim::MachineSimulator;

class TestPortEngine : public QObject
{
    Q_OBJECT

private:
    static int logged(const QByteArray& line) { return int(readFile(EventLogPath()).count(line)); }
    static qsizetype datedCopies()
    {
        return QDir(QFileInfo(Paths().receptionFile).absolutePath())
            .entryList({QStringLiteral("FromCN_(*")}, QDir::Files)
            .size();
    }

    QTemporaryDir m_dir;
    SimulatedLine m_line;
    MachineSimulator* m_sim = nullptr;
    PortEngine* m_engine = nullptr;
    RecordingExaminer m_examiner;

private slots:
    void init()
    {
        QVERIFY(m_line.open(m_dir.path()));
        m_sim = m_line.sim.get();
        m_engine = m_line.engine.get();
        PortSettings& p = Config().Port;
        p.TimeOut = 3; // 150 ms at this scale
        p.BOR = "17";
        p.EOR = "19";
        m_examiner.receptions.clear();
        m_engine->setExaminer(&m_examiner);
    }

    void cleanup()
    {
        SetReceptionSinkOpener({});
        m_line.close();
    }

    // Lines cut across chunks, ended by LF, CR or CR LF, NUL and binary bytes
    // kept; the last line, still pending at the end, ends with CR LF too.
    void polledReception()
    {
        m_sim->wait(100);
        m_sim->send("%\r\nO1000 (BRIDE)\nG0 X10\r\r\n\0\x01\xfe\r\nM30\r\n%"_ba, 3, 1);
        m_engine->StartListening(); // returns when the cycle is over
        QCOMPARE(
            m_examiner.receptions,
            QList<QByteArray>{"%\r\nO1000 (BRIDE)\r\nG0 X10\r\n\0\x01\xfe\r\nM30\r\n%\r\n"_ba});
        QTRY_COMPARE(m_sim->receivedBytes(), QByteArray("\x11\x13"));
        QCOMPARE(Events().lastRequested, 101);
    }

    void listeningTimeOut()
    {
        Config().Port.TimeOutEcoute = 2;
        m_engine->StartListening();
        QCOMPARE(m_examiner.receptions, QList<QByteArray>{QByteArray()});
        QTRY_COMPARE(m_sim->receivedBytes(), QByteArray("\x11\x13"));
    }

    void stopKeepsWhatArrivedAndSendsNoEor()
    {
        m_sim->wait(50);
        m_sim->send("N1\r\nN2\r\nN3\r\nN4", 4, 20);
        // The stop comes once the first line is in, however slow the machine.
        QTimer stopper;
        connect(&stopper, &QTimer::timeout, [&stopper] {
            QFile f(Paths().receptionFile);
            if (f.open(QIODevice::ReadOnly) && f.readAll().startsWith("N1\r\n")) {
                State().stopRequested = true;
                stopper.stop();
            }
        });
        stopper.start(5);
        m_engine->StartListening();
        QCOMPARE(m_examiner.receptions.size(), 1);
        QVERIFY(m_examiner.receptions[0].startsWith("N1\r\n"));
        QTest::qWait(50);
        QCOMPARE(m_sim->receivedBytes(), QByteArray("\x11"));
    }

    void eventDrivenReception()
    {
        Config().Port.Methode = 1;
        Config().Port.ModeIRQ = 1;
        Config().Port.InBufferSize = 16;
        const QByteArray program = "%\r\nO2000\r\nG0 X1\r\nM30\r\n%";
        m_sim->wait(100);
        m_sim->send(program, 5, 2);
        m_engine->StartListening();
        QVERIFY(m_engine->isEventReceptionArmed()); // armed; the events do the rest
        QTRY_COMPARE_WITH_TIMEOUT(m_examiner.receptions.size(), 1, 10000);
        QCOMPARE(m_examiner.receptions[0], program); // raw, as it came
        QTRY_COMPARE(m_sim->receivedBytes(), QByteArray("\x11\x13"));
        QVERIFY(!m_engine->isEventReceptionArmed());
    }

    void deviceVanishing()
    {
        Config().Port.TimeOut = 60; // no silence before the line goes
        m_sim->wait(100);
        m_sim->send("N1\r\nN2\r\nN3", 4, 2);
        QTimer::singleShot(400, m_sim, [this] { m_sim->close(); });
        m_engine->StartListening();
        QCOMPARE(m_examiner.receptions, QList<QByteArray>{"N1\r\nN2\r\nN3\r\n"});
        QVERIFY(logged("---Code107---") > 0);
    }

    void portThatCannotBeOpened()
    {
        Config().Port.PortName = "/nonexistent/ttyNODALIS";
        m_engine->StartListening();
        QCOMPARE(Events().lastShown, 103);
        QVERIFY(State().stopRequested);
        QVERIFY(m_examiner.receptions.isEmpty());
        QVERIFY(!m_line.com->PortOpen());
    }

    void libraryReception()
    {
        Config().Port.Methode = 3;
        Config().Port.NumPort = 7;
        m_sim->wait(100);
        m_sim->send("%\r\n\r\nO3000\r\nM30\r\n%", 4, 2);
        m_engine->StartListening();
        QCOMPARE(m_examiner.receptions, QList<QByteArray>{"%\r\nO3000\r\nM30\r\n%\r\n"});
        QTRY_COMPARE(m_sim->receivedBytes(), QByteArray("\x11\x13"));
        m_engine->ClosePort();
    }

    // A reception that cannot be written is told once, never examined as a
    // program, kept for the next cycle to move aside, and serving resumes
    // once the disk takes writes again.
    void receptionFileFaults_data()
    {
        QTest::addColumn<qint64>("capacity");
        QTest::addColumn<bool>("failOnClose");
        QTest::addColumn<QByteArray>("kept");
        QTest::addColumn<QByteArray>("next");
        // Nothing read from the line: it is all there for the next cycle.
        QTest::newRow("cannot be created")
            << qint64(-1) << false << QByteArray() << QByteArray("N1\r\nN2\r\nN3\r\nN4\r\n");
        QTest::newRow("disk full mid-way")
            << qint64(8) << false << QByteArray("N1\r\nN2\r\n") << QByteArray("N4\r\n");
        QTest::newRow("fails when put on the disk")
            << qint64(1 << 20) << true << QByteArray("N1\r\nN2\r\nN3\r\n") << QByteArray("N4\r\n");
    }

    void receptionFileFaults()
    {
        QFETCH(qint64, capacity);
        QFETCH(bool, failOnClose);
        QFETCH(QByteArray, kept);
        QFETCH(QByteArray, next);
        const qsizetype dated = datedCopies();
        test::FailingSink::install(capacity, failOnClose);
        m_sim->wait(100);
        m_sim->send("N1\r\nN2\r\nN3\r\n", 4, 2);
        m_engine->StartListening();
        QVERIFY(m_examiner.receptions.isEmpty());
        QVERIFY(Events().lastText.startsWith("Erreur lors de la remont"));
        QVERIFY(Events().lastText.contains(capacity < 0 ? "Permission denied"
                                                        : "No space left on device"));
        QCOMPARE(readFile(Paths().receptionFile), kept);
        if (capacity < 0) {
            // Still failing: the next cycle says nothing new.
            const int shown = logged("---Code713---");
            m_engine->StartListening();
            QCOMPARE(logged("---Code713---"), shown);
        }
        // The disk takes writes again: what was cut is moved aside, the next
        // reception is examined.
        SetReceptionSinkOpener({});
        m_sim->clearReceived();
        m_sim->wait(100);
        m_sim->send("N4\r\n", 4, 2);
        m_engine->StartListening();
        QCOMPARE(m_examiner.receptions, QList<QByteArray>{next});
        QCOMPARE(datedCopies() - dated, kept.isEmpty() ? 0 : 1);
    }

    void listensAgainInListeningMode()
    {
        Config().IsModeEcoute = true;
        Config().Port.TimeOutEcoute = 1;
        QTimer stopper;
        connect(&stopper, &QTimer::timeout, [&] {
            if (m_examiner.receptions.size() >= 3)
                State().stopRequested = true;
        });
        stopper.start(5);
        m_engine->StartListening();
        QTRY_VERIFY_WITH_TIMEOUT(State().stopRequested && !m_engine->isCycleRunning(), 10000);
        QVERIFY(m_examiner.receptions.size() >= 3);
        // Each cycle opened the line again and sent its BOR.
        QVERIFY(m_sim->receivedBytes().count('\x11') >= 3);
    }
};

QTEST_GUILESS_MAIN(TestPortEngine)
#include "tst_portengine.moc"
