// Boxes on the machine's serial line: the PTR box's requests and frames
// against a box scripted on a pseudo-terminal, and the push box's set-up of
// its component.

#include "dnc/EventMessages.h"
#include "dnc/ProgramSender.h"
#include "dnc/SerialLine.h"
#include "protocols/clsBoitierPTR.h"
#include "protocols/clsRS_ORVA.h"

#include "support/SimulatedLine.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace nodalis;

namespace {

constexpr char kAck = 6;
constexpr char kEtx = 3;

// A component that records what it is asked.
class RecordingComponent : public PushComponent
{
public:
    void initcom(const QByteArray& port, qint32 baud, qint16 flow, qint32 parity, qint16 dataBits,
                 qint16 stopBits) override
    {
        calls.append(QStringLiteral("initcom %1 %2 %3 %4 %5 %6")
                         .arg(QString::fromLatin1(port))
                         .arg(baud)
                         .arg(flow)
                         .arg(parity)
                         .arg(dataBits)
                         .arg(stopBits));
    }
    bool SendProg(const QString& path) override
    {
        calls.append(QStringLiteral("SendProg ") + path);
        return ok;
    }
    void Cancel() override { calls.append(QStringLiteral("Cancel")); }
    QString error() const override { return QStringLiteral("port held"); }

    static inline QStringList calls;
    static inline bool ok = true;
};

} // namespace

class TestSerialBoxes : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    SimulatedLine m_line;

private slots:
    void init() { QVERIFY(m_line.open(m_dir.path())); }
    void cleanup() { m_line.close(); }

    void requests_data()
    {
        QTest::addColumn<QByteArray>("burst");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("number and tail") << QByteArray("%1234E\r\n7") << true << QByteArray("1234");
        QTest::newRow("noise before") << QByteArray("\x00x%12E", 6) << true << QByteArray("12");
        QTest::newRow("several %") << QByteArray("%%12E") << true << QByteArray("%12");
        QTest::newRow("a path") << QByteArray("%../../xE") << true << QByteArray("../../x");
        QTest::newRow("no E") << QByteArray("%1234\r\n") << false << QByteArray();
        QTest::newRow("E before %") << QByteArray("E%1234") << false << QByteArray();
    }

    void requests()
    {
        QFETCH(QByteArray, burst);
        QFETCH(bool, valid);
        QFETCH(QByteArray, name);
        QByteArray got;
        QCOMPARE(clsBoitierPTR::RequestedProgram(burst, got), valid);
        QCOMPARE(got, name);
    }

    // The box answers each frame in turn from the list ("" leaves it
    // unanswered); the wire is what the server wrote.
    void transfers_data()
    {
        QTest::addColumn<QByteArray>("program");
        QTest::addColumn<QList<QByteArray>>("answers");
        QTest::addColumn<QByteArray>("wire");
        const QByteArray ab = QByteArray("\x02"
                                         "AB\x17") +
                              char(0x02 ^ 'A' ^ 'B' ^ 0x17);
        const QByteArray c = QByteArray("\x02"
                                        "C\x17") +
                             char(0x02 ^ 'C' ^ 0x17);
        const QByteArray empty = QByteArray("\x02\x17") + char(0x02 ^ 0x17);
        QTest::newRow("two lines, no last line end")
            << QByteArray("AB\r\nC") << QList<QByteArray>{"\x06", "\x06"}
            << "\x06" + ab + c + "\x03\x03";
        QTest::newRow("last line end: an empty last frame")
            << QByteArray("AB\nC\r\n") << QList<QByteArray>{"\x06", "\x06", "\x06"}
            << "\x06" + ab + c + empty + "\x03\x03";
        QTest::newRow("NAK on the first line")
            << QByteArray("AB\r\nC") << QList<QByteArray>{"\x15"} << "\x06" + ab + "\x03";
        QTest::newRow("ACK glued to other bytes")
            << QByteArray("AB\r\nC") << QList<QByteArray>{"\x06XZ"} << "\x06" + ab + "\x03";
        const QByteArray mega(1 << 20, 'G');
        QTest::newRow("a 1 MB line") << mega << QList<QByteArray>{"\x06"}
                                     << "\x06\x02" + mega + "\x17" + char(0x02 ^ 0x17) + "\x03\x03";
        QTest::newRow("no answer past TimeOutEnvoi")
            << QByteArray("AB\r\nC") << QList<QByteArray>{""} << "\x06" + ab + "\x03";
    }

    void transfers()
    {
        QFETCH(QByteArray, program);
        QFETCH(QList<QByteArray>, answers);
        QFETCH(QByteArray, wire);
        Config().Port.TimeOutEnvoi = 2; // 100 ms at this scale
        const QString path = m_dir.filePath(QStringLiteral("P1234"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(program);
        f.close();
        QVERIFY(OpenControlPort(*m_line.com, Config().Port, false));
        // The box answers every frame it sees end (its BCC in, after ETB).
        QByteArray seen;
        connect(m_line.sim.get(), &sim::MachineSimulator::dataReceived, this,
                [&](const QByteArray& bytes) {
                    seen += bytes;
                    const qsizetype etb = seen.indexOf('\x17');
                    if (etb < 0 || seen.size() < etb + 2)
                        return;
                    seen = seen.mid(etb + 2);
                    const QByteArray answer =
                        answers.isEmpty() ? QByteArray() : answers.takeFirst();
                    if (!answer.isEmpty()) {
                        m_line.sim->wait(20);
                        m_line.sim->send(answer);
                    }
                });
        m_line.sim->wait(30);
        m_line.sim->send("%1234E\r\n");
        clsBoitierPTR box;
        QByteArray asked;
        connect(&box, &clsBoitierPTR::FindThisProg, this, [&](const QByteArray& name) {
            asked = name;
            box.SendProg(path);
        });
        Events().lastRequested = 0;
        box.Init(*m_line.com);
        QCOMPARE(asked, QByteArray("1234"));
        QTRY_COMPARE(m_line.sim->receivedBytes(), wire);
        QCOMPARE(Events().lastRequested, 691); // closed, whatever ended the transfer
    }

    void requestWithoutNameKeepsListening()
    {
        QVERIFY(OpenControlPort(*m_line.com, Config().Port, false));
        m_line.sim->wait(30);
        m_line.sim->send("%1234\r\n");
        m_line.sim->wait(60);
        m_line.sim->send("%77E");
        clsBoitierPTR box;
        QByteArray asked;
        connect(&box, &clsBoitierPTR::FindThisProg, this,
                [&](const QByteArray& name) { asked = name; });
        QTimer::singleShot(5000, &box, &clsBoitierPTR::Cancel);
        box.Init(*m_line.com);
        QCOMPARE(asked, QByteArray("77")); // nothing sent: the program was not found
        QCOMPARE(m_line.sim->receivedBytes(), QByteArray());
    }

    void pushSetUp_data()
    {
        QTest::addColumn<QByteArray>("parity");
        QTest::addColumn<int>("code");
        QTest::newRow("even") << QByteArray("E") << 2;
        QTest::newRow("odd") << QByteArray("o") << 1;
        QTest::newRow("none") << QByteArray("N") << 0;
        QTest::newRow("mark") << QByteArray("M") << 0;
    }

    void pushSetUp()
    {
        QFETCH(QByteArray, parity);
        QFETCH(int, code);
        PortSettings& p = Config().Port;
        p.NumPort = 3;
        p.BaudsEnvoi = "19200";
        p.CtrlFlux = 1;
        p.DataBit = "7";
        p.StopBit = "2";
        p.Parite = parity;
        ProgramSender sender(*m_line.engine);
        clsRS_ORVA push(*m_line.engine, sender,
                        [] { return std::make_unique<RecordingComponent>(); });
        QVERIFY(OpenControlPort(*m_line.com, p, true));
        RecordingComponent::calls.clear();
        bool sent = false;
        const QString file = m_dir.filePath(QStringLiteral("push.nc"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("N1 M30\r\n");
        f.close();
        push.RS_ORVA_SendProg(file, sent);
        QVERIFY(sent);
        QVERIFY(!m_line.com->PortOpen()); // let go, for the component to open
        QCOMPARE(RecordingComponent::calls,
                 QStringList({QStringLiteral("initcom COM3 19200 1 %1 7 2").arg(code),
                              QStringLiteral("SendProg ") + file}));
        // A component that fails says so with its words.
        RecordingComponent::ok = false;
        push.RS_ORVA_SendProg(file, sent);
        RecordingComponent::ok = true;
        QVERIFY(!sent);
        QCOMPARE(Events().lastRequested, 107);
    }
};

QTEST_GUILESS_MAIN(TestSerialBoxes)
#include "tst_serialboxes.moc"
