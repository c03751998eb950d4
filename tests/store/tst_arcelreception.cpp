// The DURER_OVARE reception on a pseudo-terminal, the simulator playing an
// ARCEL control: wake-up, the DOPR answers, parts resumed after N9000, the
// end on silence and a stop during the wake-up.

#include "dnc/EventMessages.h"
#include "dnc/PortEngine.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "dnc/ReceivedDataExaminer.h"
#include "platform/Clock.h"
#include "platform/SerialControl.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"

#include "support/SimulatedLine.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace nodalis;
using nodalis::sim::MachineSimulator;

class TestArcelReception : public QObject
{
    Q_OBJECT

private:
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
        p.TimeOut = 4; // 200 ms at this scale
        p.BOR = "17";
        p.EOR = "19";
        p.Specificite = " durer_ovare ";
        m_examiner.receptions.clear();
        m_engine->setExaminer(&m_examiner);
    }

    void cleanup() { m_line.close(); }

    void reception_data()
    {
        QTest::addColumn<QList<QByteArray>>("parts"); // sent 60 ms apart
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("answers");
        const QByteArray xon = "\x11", dopr = "DOPR\r", xoff = "\x13"; // DOPR asks for a part
        QTest::newRow("DEL wakes, the first data gets DOPR")
            << QList<QByteArray>{"\x7f", "%\r\nN10 G0\r\nM30\r\n%"}
            << QByteArray("%\r\nN10 G0\r\nM30\r\n%\r\n") << xon + dopr + xoff;
        QTest::newRow("a lone CR wakes, noise before it is dropped")
            << QList<QByteArray>{"XY", "\r", "N10 G0\r\n"} << QByteArray("N10 G0\r\n")
            << xon + dopr + xoff;
        QTest::newRow("N9000 ends a part: the next one is asked for")
            << QList<QByteArray>{"\x7f", "N10 G0\r\nFIN!!..% N9000\r\n", "N20 G1\r\nM30\r\n"}
            << QByteArray("N10 G0\r\nFIN!!..% N9000\r\nN20 G1\r\nM30\r\n")
            << xon + dopr + dopr + xoff;
    }

    void reception()
    {
        QFETCH(QList<QByteArray>, parts);
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, answers);
        m_sim->wait(100);
        for (const QByteArray& part : parts) {
            m_sim->send(part, 4, 1);
            m_sim->wait(60);
        }
        m_engine->StartListening(); // returns when the cycle is over
        QCOMPARE(m_examiner.receptions, QList<QByteArray>{file});
        QTRY_COMPARE(m_sim->receivedBytes(), answers);
    }

    void stopDuringWakeUp()
    {
        m_sim->wait(50);
        m_sim->send("N10 G0\r\n");
        QTimer::singleShot(300, [] { State().stopRequested = true; });
        m_engine->StartListening();
        QCOMPARE(m_examiner.receptions, QList<QByteArray>{QByteArray()});
        QTest::qWait(50);
        QCOMPARE(m_sim->receivedBytes(), QByteArray("\x11"));
    }
};

QTEST_GUILESS_MAIN(TestArcelReception)
#include "tst_arcelreception.moc"
