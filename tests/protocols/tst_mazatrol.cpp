// The Mazatrol link: the machine's messages answered per model, the data
// frames, the checksum, the record headers, the identification and the two
// conversions, and the loops against a scripted machine.

#include "dnc/EventMessages.h"
#include "platform/Clock.h"
#include "protocols/TK_MAZATROL.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"

#include "support/FailingSink.h"
#include "support/ProcessHelpers.h"
#include "support/ProcessReset.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace nodalis;
using namespace nodalis::mazatrol;
using nodalis::test::readFile;

namespace {

QByteArray c(std::initializer_list<char> bytes)
{
    return QByteArray(bytes.begin(), qsizetype(bytes.size()));
}

using Bytes = QList<QByteArray>;

const QByteArray Ack = c({F0, '0', '0', H84});
const QByteArray AckB2 = c({F0, '0', B2, H84});
const QByteArray AckB8 = c({F0, '0', B8, H84});
const QByteArray Refuse = c({'q', '0', '0', H84});
const QByteArray EndOfFile = c({F0, H84, H84, H84, H84});
const QByteArray Eot = c({EOT});
const QByteArray Eot2 = c({EOT, EOT});

QByteArray zeros(int n)
{
    return QByteArray(n, '0');
}

// A 128-character record with fields put at their columns (from 1).
QByteArray record(const QByteArray& kind, const QList<QPair<int, QByteArray>>& fields)
{
    QByteArray r = kind + zeros(128 - int(kind.size()));
    for (const auto& [column, text] : fields)
        r.replace(column - 1, text.size(), text);
    return r;
}

QByteArray dataFrame(const QByteArray& rec)
{
    return "p1" + c({STX}) + rec + c({ETX}) + BlockChecksum(rec) + Eot;
}

// A frame of the program as the server sends it: E9 a short one, H82 a whole one.
QByteArray sentFrame(const QByteArray& block, char style = char(233))
{
    return c({F0, '0', '0', style}) + block + c({ETX}) + BlockChecksum(block) + c({H84});
}

// The machine of a test: what it sends in turn, what it was answered.
class ScriptedLine : public Line
{
public:
    QByteArray ReadBurst() override
    {
        if (bursts.isEmpty()) {
            Pause(20);
            return {};
        }
        return bursts.takeFirst();
    }
    void Write(const QByteArray& reply) override { replies.append(reply); }
    bool lost() const override { return false; }

    Bytes bursts;
    Bytes replies;
};

} // namespace

class TestMazatrol : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString write(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(name);
        return test::writeFile(path, bytes) ? path : QString();
    }

private slots:
    void init()
    {
        Clock::setScale(0.01);
        ResetProcessState(m_dir.path());
        QDir().mkpath(Paths().tempFolder);
    }
    void cleanup()
    {
        SetReceptionSinkOpener({});
        Clock::setScale(1.0);
    }

    void checksum_data()
    {
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<QByteArray>("sum");
        QTest::newRow("two digits") << QByteArray("A") << QByteArray("41");
        QTest::newRow("one digit gets a 0") << QByteArray("\x05") << QByteArray("05");
        QTest::newRow("three digits: last two") << QByteArray("AAAA") << QByteArray("04");
        QTest::newRow("high bytes count unsigned") << c({F0, F0}) << QByteArray("E0");
    }
    void checksum()
    {
        QFETCH(QByteArray, block);
        QFETCH(QByteArray, sum);
        QCOMPARE(BlockChecksum(block), sum);
    }

    void headers_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<QByteArray>("rec");
        QTest::addColumn<bool>("found");
        QTest::addColumn<int>("number");
        QTest::addColumn<QByteArray>("name");
        const QByteArray p12 = "50313200"; // "P1", "2", then no character
        const QByteArray at15 = record("1100", {{15, "04D2"}, {23, p12}});
        for (int model : {701, 703, 704, 705, 707, 708})
            QTest::newRow(qPrintable(QString::number(model)))
                << model << at15 << true << 1234 << QByteArray("P12");
        QTest::newRow("709: 11 then 9, name at 23")
            << 709 << record("1100", {{9, "D2"}, {11, "04"}, {23, p12}}) << true << 1234
            << QByteArray("P12");
        for (int model : {702, 712})
            QTest::newRow(qPrintable(QString::number(model)))
                << model << record("1100", {{9, "D2"}, {11, "04"}, {63, p12}}) << true << 1234
                << QByteArray("P12");
        QTest::newRow("706: 17 then 15, name at 63")
            << 706 << record("1100", {{15, "D2"}, {17, "04"}, {63, p12}}) << true << 1234
            << QByteArray("P12");
        QTest::newRow("713 numbers its 1120 header")
            << 713 << record("1120", {{5, "22B8"}}) << true << 8888 << QByteArray();
        QTest::newRow("1120 is no header for 703")
            << 703 << record("1120", {{5, "22B8"}}) << false << 0 << QByteArray();
        QTest::newRow("non-hex digits: number 0")
            << 703 << record("1100", {{15, "0G12"}, {23, "4Z41"}}) << true << 0 << QByteArray("A");
        QTest::newRow("a short record")
            << 703 << QByteArray("1100000") << true << 0 << QByteArray();
        QTest::newRow("not a header")
            << 703 << at15.sliced(2).prepend("10") << false << 0 << QByteArray();
        QTest::newRow("711 has none") << 711 << at15 << false << 0 << QByteArray();
    }
    void headers()
    {
        QFETCH(int, model);
        QFETCH(QByteArray, rec);
        QFETCH(bool, found);
        QFETCH(int, number);
        QFETCH(QByteArray, name);
        RecordHeader h;
        QCOMPARE(ParseRecordHeader(rec, model, h), found);
        QCOMPARE(h.number, number);
        QCOMPARE(h.name, name);
    }

    void identification_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("kind");
        QTest::newRow("GBIFILE") << QByteArray("xVb\r\ngbifile N1\r\n")
                                 << int(ProgramKind::Mazatrol);
        QTest::newRow("hex records only")
            << QByteArray("xVb\r\n3000ABCD\r\n11000200\r\nxVb\r\n") << int(ProgramKind::Mazatrol);
        QTest::newRow("hybrid") << QByteArray("xVb\r\n3000AB\r\n100000\nG01X1\n\r\n")
                                << int(ProgramKind::Hybrid);
        QTest::newRow("hybrid 3200")
            << QByteArray("3200AB\r\n10000078M30\r\n") << int(ProgramKind::Hybrid);
        QTest::newRow("ISO, LF only") << QByteArray("%\nO1234\nG0X0\n") << int(ProgramKind::Iso);
        QTest::newRow("lower-case g is no block")
            << QByteArray("3000\r\ngx\r\n") << int(ProgramKind::Mazatrol);
    }
    void identification()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, kind);
        QCOMPARE(int(IdentifyProgram(write(QStringLiteral("id.txt"), text))), kind);
    }

    // ISO text to records: a known program column for column; what is
    // refused leaves nothing half made to be sent.
    void isoToMazatrol_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("records"); // empty: unchecked
        // 34 bytes: (0 + 1) * 2 + 3 = 5 records, written "5000".
        QTest::newRow("known program")
            << QByteArray("%\r\nO1234(PART)\r\nG0X0\r\nM30\r\n%\r\nG1\r\n") << int(IsoResult::Done)
            << "xVb\r\n3121000000001" + zeros(115) + "\r\n3000" + "04D2" + zeros(120) + "\r\n32" +
                   zeros(126) + "\r\n11000200" + "5000" + "32" + "04D2" + "0000" + "50415254" +
                   zeros(12) + zeros(82) + "2101\r\n1000000AG0X0\nM30\n%" + zeros(110) + "\r\n12" +
                   zeros(126) + "\r\n20" + zeros(126) + "\r\nxVb\r\n";
        QTest::newRow("255 records fit") << "O1\n" + QByteArray(255 * 120 - 2, 'A') + '\n'
                                         << int(IsoResult::Done) << QByteArray();
        QTest::newRow("256 are refused") << "O1\n" + QByteArray(255 * 120, 'A') + '\n'
                                         << int(IsoResult::TooLong) << QByteArray();
        QTest::newRow("no O line")
            << QByteArray("%\nG0X0\n%\n") << int(IsoResult::NoProgramLine) << QByteArray();
        QTest::newRow("empty file") << QByteArray() << int(IsoResult::Unreadable) << QByteArray();
        QTest::newRow("O65535 fits")
            << QByteArray("O65535\nG1\n") << int(IsoResult::Done) << QByteArray();
        QTest::newRow("O65536 does not")
            << QByteArray("O65536\nG1\n") << int(IsoResult::BadNumber) << QByteArray();
    }
    void isoToMazatrol()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, result);
        QFETCH(QByteArray, records);
        const QString out = m_dir.filePath(QStringLiteral("r.maz"));
        QCOMPARE(int(IsoToMazatrol(write(QStringLiteral("r.iso"), text), out)), result);
        QCOMPARE(QFile::exists(out), result == int(IsoResult::Done));
        if (!records.isEmpty())
            QCOMPARE(readFile(out), records);
    }

    // ISO text there and back: a long line goes on over text records of 120
    // characters, numbered; a line of exactly one record, an empty line.
    void roundTrip()
    {
        const QByteArray body =
            "N1" + QByteArray(300, 'X') + "\r\n" + QByteArray(119, 'Y') + "\r\nG1\r\n\r\nM30\r\n";
        QByteArray lfOnly = body;
        lfOnly.replace("\r\n", "\n");
        const QString maz = m_dir.filePath(QStringLiteral("rt.maz"));
        const QString back = m_dir.filePath(QStringLiteral("rt.iso"));
        QCOMPARE(IsoToMazatrol(
                     write(QStringLiteral("rt.in"), "%\nO0042(BRIDE 7)\n" + lfOnly + "%\n"), maz),
                 IsoResult::Done);
        const Bytes records = readFile(maz).split('\r');
        QCOMPARE(records[5], "\n10000078N1" + QByteArray(118, 'X'));
        QCOMPARE(records[6], "\n10000178" + QByteArray(120, 'X'));
        QVERIFY(MazatrolToIso(maz, back, 703));
        QCOMPARE(readFile(back), "%\r\nO42(BRIDE 7)\r\n" + body + "%\r\n");
    }

    void mazatrolToIsoCuts_data()
    {
        QTest::addColumn<QByteArray>("records");
        QTest::addColumn<QByteArray>("iso");
        QTest::newRow("cut after the first %") << "10000005AB\n%X" + zeros(115) + "\r\n"
                                               << QByteArray("AB\r\n%\r\n");
        QTest::newRow("continued text waits for its line end")
            << QByteArray("10000078AB\nC\r\n10000105D\nE%0\r\n")
            << QByteArray("AB\r\nCD\r\nE%\r\n");
        QTest::newRow("other kinds give nothing")
            << QByteArray("xVb\r\n3000\r\n12000\r\n20000\r\n10000003G1%\r\n")
            << QByteArray("G1%\r\n");
        QTest::newRow("a cut program keeps its tail")
            << QByteArray("10000078G1\nG2") << QByteArray("G1\r\nG2\r\n");
    }
    void mazatrolToIsoCuts()
    {
        QFETCH(QByteArray, records);
        QFETCH(QByteArray, iso);
        const QString out = m_dir.filePath(QStringLiteral("cut.iso"));
        QVERIFY(MazatrolToIso(write(QStringLiteral("cut.maz"), records), out, 703));
        QCOMPARE(readFile(out), iso);
    }

    // Messages in turn, the replies in turn ("" none) with "=" and the
    // record of each data frame taken, the state after.
    void receiveRows_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<Bytes>("bursts");
        QTest::addColumn<Bytes>("replies");
        QTest::addColumn<bool>("stop");
        const QByteArray frame = dataFrame("3000AB");
        const QByteArray q8 = "q" + Eot + "8";
        QTest::newRow("703 q8 refused before data, taken after")
            << 703 << Bytes{q8, frame, q8} << Bytes{c({'q', '0', A9, H84}), Ack, "=3000AB", Ack}
            << false;
        QTest::newRow("713 counts two pA")
            << 713 << Bytes{"pA" + Eot, "pA" + Eot2} << Bytes{Ack, Ack} << true;
        QTest::newRow("703 strips 147 and 17")
            << 703 << Bytes{c({char(147), 'p', 'A', 17, EOT}), "q" + Eot} << Bytes{Ack, Refuse}
            << false;
        QTest::newRow("P1 after noise, no STX, no ETX")
            << 703
            << Bytes{"\x01zP1\x02" + QByteArray("12\x03") + "00" + Eot,
                     "p1" + QByteArray("3000AB\x03") + Eot, "p1\x02" + QByteArray("3000AB") + Eot}
            << Bytes{Ack, "=12", Ack, Ack} << false;
        QTest::newRow("701 p3, a name, q")
            << 701 << Bytes{"p3" + Eot, "P1" + Eot, "q" + Eot, frame}
            << Bytes{"p00" + Eot, "p00" + Eot, "q00" + Eot, Ack, "=3000AB"} << false;
        QTest::newRow("702 B8 replies") << 702 << Bytes{"p3" + Eot2, frame, "zz"}
                                        << Bytes{AckB8, AckB8, "=3000AB", Ack} << false;
        QTest::newRow("706 counts three")
            << 706 << Bytes{"pA" + Eot2, "pA" + Eot2} << Bytes{Ack, Ack} << false;
        QTest::newRow("709 p9 as p3, others unanswered")
            << 709 << Bytes{"p9" + Eot2, "p3" + Eot2, "NAME", "q" + Eot + " ", frame}
            << Bytes{Ack, Ack, {}, Refuse, Ack, "=3000AB"} << false;
        QTest::newRow("712") << 712
                             << Bytes{"p2" + Eot2, "q" + Eot + c({STX}), frame, "pA" + Eot2,
                                      "pA" + Eot2}
                             << Bytes{AckB2, Refuse, AckB8, "=3000AB", Ack, Ack} << true;
        QTest::newRow("711 answers nothing")
            << 711 << Bytes{"pA" + Eot, frame} << Bytes{{}, {}, "=3000AB"} << false;
    }
    void receiveRows()
    {
        QFETCH(int, model);
        QFETCH(Bytes, bursts);
        QFETCH(bool, stop);
        Transfer t = Transfer::ForReceiving(model);
        Bytes got;
        for (const QByteArray& burst : std::as_const(bursts)) {
            const Received r = ReceiveReply(t, burst);
            got.append(r.reply);
            if (!r.record.isEmpty())
                got.append('=' + r.record);
        }
        QTEST(got, "replies");
        QCOMPARE(t.stop, stop);
    }

    void sendRows_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<QByteArray>("program");
        QTest::addColumn<Bytes>("bursts");
        QTest::addColumn<Bytes>("replies");
        QTest::addColumn<bool>("finished");
        QTest::addColumn<bool>("stop");
        const QByteArray r3 = record("3121", {});
        const QByteArray r1 = record("1000", {{9, "G1"}});
        const QByteArray long3 = QByteArray(200, '3');
        const QByteArray program = "xVb\r\n\r\n" + r3 + "\r\n32\r\n2000\r\n" + r1 + "\r\nxVb\r\n";
        QTest::newRow("703 frames, then the closing xVb")
            << 703 << program << Bytes{"pD" + Eot, "p4" + Eot, "p4" + Eot, "p4" + Eot}
            << Bytes{AckB2, sentFrame(r3), sentFrame(r1), {}} << true << false;
        QTest::newRow("200 characters: the first 128 go")
            << 701 << "xVb\r\n" + long3 + "\r\n"
            << Bytes{"p4" + Eot} << Bytes{sentFrame(long3.left(128))} << false << false;
        QTest::newRow("pD at the end of the file")
            << 703 << QByteArray("xVb\r\n") << Bytes{"p4" + Eot, "pD" + Eot} << Bytes{{}, EndOfFile}
            << true << false;
        QTest::newRow("703 pA stops at 0")
            << 703 << program << Bytes{"pA" + Eot, "p9" + Eot, "pA" + Eot} << Bytes{Ack, Ack, Ack}
            << false << true;
        QTest::newRow("703 after a 30000 block the program starts again")
            << 703 << "xVb\r\n3000" + zeros(124) + "\r\n"
            << Bytes{"p4" + Eot, "pA" + Eot, "pA" + Eot, "p4" + Eot}
            << Bytes{sentFrame("3000" + zeros(124)), Ack, {}, sentFrame("3000" + zeros(124))}
            << false << false;
        QTest::newRow("709 whole lines, three pA")
            << 709 << program << Bytes{"p4" + Eot2, "pA" + Eot2, "pA" + Eot + c({STX}), "pA" + Eot2}
            << Bytes{sentFrame(r3, H82), Ack, Ack, Ack} << false << true;
        QTest::newRow("712 takes 1 and 3x records but 30, pA STX stops")
            << 712 << "xVb\r\n3000\r\n2000\r\n" + r1 + "\r\n"
            << Bytes{"p4" + Eot2, "pD" + Eot, "pA" + Eot + c({STX})}
            << Bytes{sentFrame(r1, H82), Ack, Ack} << true << true;
        QTest::newRow("706 acknowledges anything")
            << 706 << program << Bytes{"zz", "q" + Eot2, "p4" + Eot + c({STX})}
            << Bytes{Ack, Ack, sentFrame(r3, H82)} << false << false;
    }
    void sendRows()
    {
        QFETCH(int, model);
        QFETCH(QByteArray, program);
        QFETCH(Bytes, bursts);
        QFETCH(Bytes, replies);
        QFETCH(bool, finished);
        QFETCH(bool, stop);
        RecordReader file;
        QVERIFY(file.open(write(QStringLiteral("send.maz"), program)));
        Transfer t = Transfer::ForSending(model);
        Bytes got;
        for (const QByteArray& burst : std::as_const(bursts))
            got.append(SendReply(t, burst, file));
        QCOMPARE(got, replies);
        QCOMPARE(t.finished, finished);
        QCOMPARE(t.stop, stop);
    }

    // An upload stored record by record; the end record gets its marker.
    void receiveLoop_data()
    {
        QTest::addColumn<bool>("notUseXvb");
        QTest::addColumn<bool>("diskFull");
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("size");
        QTest::newRow("NotUseXVB") << true << false << 1 << 128;
        QTest::newRow("reception file full") << false << true << 1 << 128;
        QTest::newRow("50 MB upload") << false << false << 50 << (1 << 20);
    }
    void receiveLoop()
    {
        QFETCH(bool, notUseXvb);
        QFETCH(bool, diskFull);
        QFETCH(int, frames);
        QFETCH(int, size);
        Config().NotUseXVB = notUseXvb;
        Config().Port.TimeOut = 1;
        if (diskFull)
            test::FailingSink::install(20);
        const QByteArray r3 = QByteArray("3000").leftJustified(size, '0');
        const QByteArray end = record("2000", {});
        ScriptedLine line;
        line.bursts = {"PROG" + Eot};
        QByteArray records;
        for (int i = 0; i < frames; ++i) {
            line.bursts.append(dataFrame(r3));
            records += r3 + "\r\n";
        }
        line.bursts += {dataFrame(end), "pA" + Eot, "pA" + Eot};
        records += end + "\r\n";
        const ReceiveOutcome got = ReceiveLoop(line, 703, [] { return false; });
        QCOMPARE(got.records, frames + 1);
        QCOMPARE(line.replies, Bytes(frames + 4, Ack));
        const QByteArray expected = notUseXvb ? records : "xVb\r\n" + records + "xVb\r\n";
        QCOMPARE(got.written, !diskFull);
        if (!diskFull) {
            QCOMPARE(readFile(Paths().receptionFile), expected);
            return;
        }
        // What the file took and what was kept aside make the whole upload.
        const QStringList aside =
            QDir(Paths().tempFolder).entryList({QStringLiteral("Mazatrol_(*")}, QDir::Files);
        QCOMPARE(aside.size(), 1);
        // The record the file could not take is kept whole, with the rest.
        QVERIFY(readFile(Paths().receptionFile).startsWith("xVb\r\n"));
        QCOMPARE(readFile(QDir(Paths().tempFolder).filePath(aside.first())), expected.mid(5));
        QCOMPARE(Events().lastRequested, 713);
    }

    // The send loop ends once the program has gone out, or fails with 109
    // when the machine goes silent mid-send.
    void sendLoop_data()
    {
        QTest::addColumn<Bytes>("bursts");
        QTest::addColumn<bool>("sent");
        QTest::addColumn<Bytes>("replies");
        const QByteArray r3 = record("3121", {});
        QTest::newRow("to its end") << Bytes{"pA" + Eot, "p4" + Eot, "p4" + Eot, "pD" + Eot} << true
                                    << Bytes{Ack, sentFrame(r3), EndOfFile};
        QTest::newRow("machine gone silent") << Bytes{"p4" + Eot} << false << Bytes{sentFrame(r3)};
    }
    void sendLoop()
    {
        QFETCH(Bytes, bursts);
        QFETCH(bool, sent);
        Config().Port.TimeOutEnvoi = 1;
        ScriptedLine line;
        line.bursts = bursts;
        const QString program = write(QStringLiteral("send.maz"), "xVb\r\n" + record("3121", {}));
        QCOMPARE(SendLoop(line, program, 703, [] { return false; }), sent);
        QTEST(line.replies, "replies");
        if (!sent)
            QCOMPARE(Events().lastRequested, 109);
    }

    // After a reception: program 8888 named "ORVA " + name calls that
    // program; a hybrid upload becomes ISO text with ConvertMazIso.
    void postTreatment_data()
    {
        QTest::addColumn<QByteArray>("program"); // ISO, converted to records; none: 713's
        QTest::addColumn<QByteArray>("reference");
        QTest::addColumn<QByteArray>("called");
        QTest::addColumn<int>("number");       // of the header received
        QTest::addColumn<QByteArray>("after"); // with ConvertMazIso; none: without, as it came
        const QByteArray none;
        QTest::newRow("ORVA") << QByteArray("O8888(ORVA P1234)") << none << QByteArray("P1234")
                              << 8888 << none;
        QTest::newRow("lower case")
            << QByteArray("O8888(orva P12)") << none << QByteArray("P12") << 8888 << none;
        QTest::newRow("own reference") << QByteArray("O8888(CALL 77)") << QByteArray("call")
                                       << QByteArray("77") << 8888 << none;
        QTest::newRow("another number")
            << QByteArray("O8887(ORVA P1)") << none << none << 8887 << none;
        QTest::newRow("no reference") << QByteArray("O8888(P1234)") << none << none << 8888 << none;
        // 713: the number in its 1120 record, the name in the 1100 header.
        QTest::newRow("713") << none << none << QByteArray("P5") << 8888 << none;
        QTest::newRow("hybrid, ConvertMazIso") << QByteArray("O12(H)\nG1X2") << none << none << 12
                                               << QByteArray("%\r\nO12(H)\r\nG1X2\r\n%\r\n");
        QTest::newRow("hybrid kept as it came")
            << QByteArray("O12(H)\nG1X2") << none << none << 12 << none;
    }
    void postTreatment()
    {
        QFETCH(QByteArray, program);
        QFETCH(QByteArray, after);
        QFETCH(QByteArray, reference);
        Config().RefCartoucheAppel = reference;
        Config().Port.ConvertMazIso = !after.isEmpty();
        const QString file = Paths().receptionFile;
        QDir().mkpath(QFileInfo(file).absolutePath());
        if (program.isEmpty()) {
            const QByteArray name = QByteArray("ORVA P5").toHex().toUpper();
            test::writeFile(file, "xVb\r\n" + record("3000", {}) + "\r\n" +
                                      record("1120", {{5, "22B8"}}) + "\r\n" +
                                      record("1100", {{23, name}}) + "\r\nxVb\r\n");
        } else {
            QCOMPARE(IsoToMazatrol(write(QStringLiteral("p.iso"), program + '\n'), file),
                     IsoResult::Done);
        }
        const QByteArray received = readFile(file);
        QTEST(PostTreatment(file, program.isEmpty() ? 713 : 703), "called");
        QTEST(int(ReceivedHeader().number), "number");
        QCOMPARE(readFile(file), after.isEmpty() ? received : after);
    }
};

QTEST_GUILESS_MAIN(TestMazatrol)
#include "tst_mazatrol.moc"
