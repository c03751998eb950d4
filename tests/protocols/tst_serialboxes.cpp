// Boxes on the machine's serial line: the PTR box's requests and frames
// against a box scripted on a pseudo-terminal, and the push box's set-up of
// its component.

#include "dnc/EventMessages.h"
#include "dnc/ProgramSender.h"
#include "dnc/SerialLine.h"
#include "protocols/clsBoitierPTR.h"
#include "protocols/clsRS_ORVA.h"

#include "support/ProcessHelpers.h"
#include "support/SimulatedLine.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace nodalis;
using Bytes = QList<QByteArray>;

namespace {

// A component that records what it is asked.
class RecordingComponent : public PushComponent
{
public:
    void initcom(const QByteArray& port, qint32 baud, qint16 flow, qint32 parity, qint16 dataBits,
                 qint16 stopBits) override
    {
        calls.append(QString::asprintf("initcom %s %d %d %d %d %d", port.constData(), baud, flow,
                                       parity, dataBits, stopBits));
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

    // The box asks, then answers each frame in turn from the list ("" leaves
    // it unanswered); the wire is what the server wrote. A request without
    // its E is passed over, and a program not found sends nothing.
    void transfers_data()
    {
        QTest::addColumn<Bytes>("requests");
        QTest::addColumn<QByteArray>("program"); // empty: not found
        QTest::addColumn<Bytes>("answers");
        QTest::addColumn<QByteArray>("wire");
        // A line's frame: STX, the line, ETB, then the exclusive-or of them all.
        const auto frame = [](const QByteArray& line) {
            char bcc = 0x02 ^ 0x17;
            for (const char ch : line)
                bcc ^= ch;
            return '\x02' + line + '\x17' + bcc;
        };
        const QByteArray ab = frame("AB"), c = frame("C");
        const Bytes ask = {"%1234E\r\n"};
        QTest::newRow("two lines, no last line end")
            << ask << QByteArray("AB\r\nC") << Bytes{"\x06", "\x06"}
            << "\x06" + ab + c + "\x03\x03";
        QTest::newRow("last line end: an empty last frame")
            << ask << QByteArray("AB\nC\r\n") << Bytes{"\x06", "\x06", "\x06"}
            << "\x06" + ab + c + frame({}) + "\x03\x03";
        QTest::newRow("NAK on the first line")
            << ask << QByteArray("AB\r\nC") << Bytes{"\x15"} << "\x06" + ab + "\x03";
        QTest::newRow("ACK glued to other bytes")
            << ask << QByteArray("AB\r\nC") << Bytes{"\x06XZ"} << "\x06" + ab + "\x03";
        const QByteArray mega(1 << 20, 'G');
        QTest::newRow("a 1 MB line")
            << ask << mega << Bytes{"\x06"} << "\x06" + frame(mega) + "\x03\x03";
        QTest::newRow("no answer past TimeOutEnvoi")
            << ask << QByteArray("AB\r\nC") << Bytes{""} << "\x06" + ab + "\x03";
        QTest::newRow("no name, then a program not found")
            << Bytes{"%1234\r\n", "%77E"} << QByteArray() << Bytes{} << QByteArray();
    }

    void transfers()
    {
        QFETCH(Bytes, requests);
        QFETCH(QByteArray, program);
        QFETCH(Bytes, answers);
        QFETCH(QByteArray, wire);
        Config().Port.TimeOutEnvoi = 2; // 100 ms at this scale
        const QString path = m_dir.filePath(QStringLiteral("P1234"));
        QVERIFY(test::writeFile(path, program));
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
        for (const QByteArray& request : std::as_const(requests)) {
            m_line.sim->wait(60);
            m_line.sim->send(request);
        }
        clsBoitierPTR box;
        QByteArray asked;
        connect(&box, &clsBoitierPTR::FindThisProg, this, [&](const QByteArray& name) {
            asked = name;
            if (!program.isEmpty())
                box.SendProg(path);
        });
        Events().lastRequested = 0;
        QTimer::singleShot(5000, &box, &clsBoitierPTR::Cancel);
        box.Init(*m_line.com);
        // The name between the last request's % and E.
        QCOMPARE(asked, requests.last().mid(1, requests.last().indexOf('E') - 1));
        QTRY_COMPARE(m_line.sim->receivedBytes(), wire);
        // Closed, whatever ended the transfer; the nameless request said so.
        QCOMPARE(Events().lastRequested, program.isEmpty() ? 999 : 691);
    }

    void pushSetUp_data()
    {
        QTest::addColumn<QByteArray>("parity");
        QTest::addColumn<int>("code");
        QTest::newRow("even") << QByteArray("E") << 2;
        QTest::newRow("odd") << QByteArray("o") << 1;
        QTest::newRow("none") << QByteArray("N") << 0;
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
        QVERIFY(test::writeFile(file, "N1 M30\r\n"));
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
