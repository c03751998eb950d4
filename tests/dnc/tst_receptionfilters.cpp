// What becomes of the characters a machine sends: cut into lines, the
// library's reception file normalised, lines filtered, blocks trimmed and the
// syntax checked.

#include "ProgramTextFixture.h"
#include "dnc/CharFilters.h"
#include "dnc/ReceivedChunks.h"
#include "dnc/ReceptionFilters.h"
#include "dnc/SyntaxCheck.h"

#include <QRandomGenerator>

using namespace nodalis;
using namespace nodalis::testing;
using namespace Qt::StringLiterals;

namespace {

// A Fanuc program as a machine sends it back: optional stops, a dwell,
// blanks around blocks.
const QByteArray kUpload = "%\r\n"
                           "O0042 (FLASQUE)\r\n"
                           "  N10 G04 P2\r\n"
                           "G04 P2\r\n"
                           "N20 M01\r\n"
                           "M01 M01X\r\n"
                           "N30 M30  \r\n"
                           "%\r\n";

// Each line (cut at CR LF) without its leading and trailing blanks, ended by CR LF.
QByteArray trimmedLines(const QByteArray& text)
{
    QByteArray out;
    for (qsizetype from = 0; from < text.size();) {
        qsizetype end = text.indexOf("\r\n", from);
        if (end < 0)
            end = text.size();
        qsizetype first = from;
        qsizetype last = end;
        while (first < last && text[first] == ' ')
            ++first;
        while (last > first && text[last - 1] == ' ')
            --last;
        out += text.mid(first, last - first) + "\r\n";
        from = end + 2;
    }
    return out;
}

} // namespace

class TestReceptionFilters : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_fx.reset(); }

    void splitReceivedChunk_data()
    {
        QTest::addColumn<QByteArray>("pending");
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QByteArray>("rest");
        QTest::newRow("no line end") << QByteArray("G0 X1") << QByteArray() << QByteArray("G0 X1");
        QTest::newRow("CR LF") << QByteArray("A\r\nB") << QByteArray("A\r\n") << QByteArray("B");
        QTest::newRow("runs of ends are one")
            << QByteArray("A\r\r\n\n\rB\n") << QByteArray("A\r\nB\r\n") << QByteArray();
        QTest::newRow("lone ends among CR LF")
            << QByteArray("A\r\nB\nC\r\nD\rE\r\nF") << QByteArray("A\r\nB\r\nC\r\nD\r\nE\r\n")
            << QByteArray("F");
        QTest::newRow("leading ends")
            << QByteArray("\r\nA\n") << QByteArray("A\r\n") << QByteArray();
        QTest::newRow("CR at the very end")
            << QByteArray("A\r") << QByteArray("A\r\n") << QByteArray();
    }

    void splitReceivedChunk()
    {
        QFETCH(QByteArray, pending);
        QFETCH(QByteArray, written);
        QFETCH(QByteArray, rest);
        QByteArray file;
        const auto write = [&](const QByteArray& line) { file += line; };
        QCOMPARE(SplitReceivedChunk(pending, write, false), rest);
        QCOMPARE(file, written);
        // Without a file the rest is the same.
        QCOMPARE(SplitReceivedChunk(pending, nullptr, false), rest);
    }

    // A line longer than the splitter holds goes out in pieces; whatever
    // the cut, the file holds what one whole chunk would have given.
    void receivedLinesInPieces_data()
    {
        QTest::addColumn<QByteArray>("text");
        const QByteArray longLine(ReceivedLines::LongLine * 3 + 7, 'x');
        QTest::newRow("no line end at all") << longLine;
        QTest::newRow("a long line between short ones") << "A\r\n" + longLine + "\r\nB\r\n";
        QTest::newRow("the long line ended by LF") << longLine + "\nC";
        QTest::newRow("its end starting a piece") << QByteArray(198000, 'x') + "\r\nD\r\n";
    }

    void receivedLinesInPieces()
    {
        QFETCH(QByteArray, text);
        QByteArray whole;
        ReceivedLines once([&](const QByteArray& t) { whole += t; }, false);
        once.append(text);
        once.cut();
        once.finish();
        for (const qsizetype piece : {qsizetype(1000), ReceivedLines::LongLine + 1}) {
            QByteArray file;
            ReceivedLines lines([&](const QByteArray& t) { file += t; }, false);
            for (qsizetype at = 0; at < text.size(); at += piece) {
                lines.append(text.mid(at, piece));
                lines.cut();
                QVERIFY(lines.pending().size() <= ReceivedLines::LongLine + piece);
            }
            lines.finish();
            QCOMPARE(file, whole);
        }
    }

    void normaliseLibraryReception_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<QByteArray>("normalised");
        QTest::newRow("stray CR and LF inside lines")
            << QByteArray("%\r\nO1\rA\nB\r\n\r\nM30\r\n") << QByteArray("%\r\nO1AB\r\nM30\r\n");
        QTest::newRow("last line without end")
            << QByteArray("N1\r\nN2") << QByteArray("N1\r\nN2\r\n");
        QTest::newRow("empty file stays") << QByteArray() << QByteArray();
    }

    void normaliseLibraryReception()
    {
        QFETCH(QByteArray, received);
        QFETCH(QByteArray, normalised);
        const QString path = m_fx.write(u"FromCN.txt"_s, received);
        QVERIFY(NormaliseLibraryReception(path));
        QCOMPARE(m_fx.read(path), normalised);
    }

    void filterReceivedLines_data()
    {
        QTest::addColumn<QByteArray>("filter"); // "@" + lines: a pattern file
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* name, const char* filter, const QByteArray& expected) {
            QTest::newRow(name) << QByteArray(filter) << expected;
        };
        row("starts with", "G04*",
            "%\r\nO0042 (FLASQUE)\r\nN10 G04 P2\r\nN20 M01\r\nM01 M01X\r\nN30 M30\r\n%\r\n");
        row("ends with, first occurrence decides", "*M01",
            "%\r\nO0042 (FLASQUE)\r\nN10 G04 P2\r\nG04 P2\r\nM01 M01X\r\nN30 M30\r\n%\r\n");
        row("contains", "*(*",
            "%\r\nN10 G04 P2\r\nG04 P2\r\nN20 M01\r\nM01 M01X\r\nN30 M30\r\n%\r\n");
        row("whole line, untrimmed", "N30 M30",
            "%\r\nO0042 (FLASQUE)\r\nN10 G04 P2\r\nG04 P2\r\nN20 M01\r\nM01 M01X\r\nN30 M30\r\n"
            "%\r\n");
        row("pattern file", "@%\r\n*M01\r\n\r\nG04*\r\n",
            "O0042 (FLASQUE)\r\nN10 G04 P2\r\nM01 M01X\r\nN30 M30\r\n");
        row("a lone star matches nothing", "*",
            "%\r\nO0042 (FLASQUE)\r\nN10 G04 P2\r\nG04 P2\r\nN20 M01\r\nM01 M01X\r\nN30 M30\r\n"
            "%\r\n");
        row("no filter", "", kUpload);
    }

    void filterReceivedLines()
    {
        QFETCH(QByteArray, filter);
        QFETCH(QByteArray, expected);
        if (filter.startsWith('@'))
            filter = m_fx.write(u"filtre.txt"_s, filter.mid(1)).toLatin1();
        Config().Port.FiltreLigneRecep = filter;
        const QString file = m_fx.write(u"Receiv/FromCN.txt"_s, kUpload);
        QCOMPARE(FilterReceivedLines(file), !filter.isEmpty());
        QCOMPARE(m_fx.read(file), expected);
    }

    void trimBlocks_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* name, const QByteArray& input, const QByteArray& expected) {
            QTest::newRow(name) << input << expected;
        };
        row("blanks only, tabs kept", "  N10 G0 X1  \r\n\tN20 \r\n   \r\n",
            "N10 G0 X1\r\n\tN20\r\n\r\n");
        row("no line end at all", " O1 ", "O1\r\n");
        row("lone CR and LF are inside lines", " N1\r N2 \n N3 \r\n", "N1\r N2 \n N3\r\n");
        row("CR LF split at the end", "N1 \r\n\r\n", "N1\r\n\r\n");
        row("NUL and upper half", raw(" \0N1\xff "), raw("\0N1\xff\r\n"));
        row("empty file untouched", "", "");
        // Megabytes of lines, read in chunks: a CR LF across every power-of-two
        // boundary, whatever the chunk size.
        QRandomGenerator random(7);
        QByteArray lines;
        while (lines.size() < 1500000)
            lines +=
                QByteArrayView("N10 G1 X5\r\n \r\n  \n\r\r\nX \r\n").sliced(random.bounded(20));
        for (int k = 10; k <= 20; ++k) {
            lines[(1 << k) - 1] = '\r';
            lines[1 << k] = '\n';
        }
        row("lines across chunks", lines, trimmedLines(lines));
        const QByteArray longLine(10 * 1024 * 1024, 'X');
        row("10 MB line", "N1\r\n  " + longLine + "  \r\nN2", "N1\r\n" + longLine + "\r\nN2\r\n");
    }

    void trimBlocks()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);
        const QString file = m_fx.write(u"P.NC"_s, input);
        QCOMPARE(TrimBlocks(file), !input.isEmpty());
        QVERIFY2(m_fx.read(file) == expected, m_fx.read(file).left(80).constData());
    }

    void checkSyntax_data()
    {
        QTest::addColumn<QByteArray>("syntax"); // BlocDeb~BlocFin~CarDebProg~CarDebCom~NbMaxCarBloc
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QList<int>>("events");
        const auto row = [](const char* name, const char* syntax, const QByteArray& input,
                            const QByteArray& expected, const QList<int>& events = {}) {
            QTest::newRow(name) << QByteArray(syntax) << input << expected << events;
        };
        const char* iso = "%~%~O~(~20";
        const QByteArray isoProgram =
            "%\r\nO1234 (UN COMMENTAIRE LONG)\r\nN10 G0 X0\r\nN20 M30\r\n%\r\n";
        row("ISO correct", iso, isoProgram, isoProgram);
        row("no start block", iso, "O1234\r\nN10 G0\r\n%", "O1234\r\nN10 G0\r\n%\r\n", {922, 924});
        const QByteArray tooLong =
            "%\r\nO1\r\nN10 G1 X100.55 Y20.25\r\nN20 G1 X10.55 Y20.25\r\n%\r\n";
        row("block too long", iso, tooLong, tooLong, {921});
        row("bare LF inside", iso, "%\r\nO1\nN10 G0\nN20 M30\n\r\n%\r\n",
            "%\r\nO1\r\nN10 G0\r\nN20 M30\r\n%\r\n", {920});
        row("LF-only file is one line", iso, "%\nO1\nM30\n%\n", "%\r\nO1\r\nM30\r\n%\r\n",
            {920, 924});
        row("end block missing", iso, "%\r\nO1\r\nN10 G0\r\n", "%\r\nO1\r\nN10 G0\r\n", {923});
        const QByteArray fanuc = "%\r\n:0042\r\nN10 G0\r\nN20 M30 (FIN)\r\n\r\n";
        row("Fanuc colon alternative", "%~M30~O|:~(~0", fanuc, fanuc);
        const char* heidenhain = "~END PGM~0 BEGIN PGM~;~0";
        const QByteArray pgm = "0 BEGIN PGM 1234 MM\r\n1 TOOL CALL 5 Z S3000\r\n"
                               "2 L X+0 Y+0 R0 FMAX M3\r\n3 END PGM 1234 MM\r\n";
        row("Heidenhain", heidenhain, pgm, pgm);
        row("Heidenhain cut short", heidenhain, "1 TOOL CALL 5 Z\r\n2 L X+0 ; END PGM",
            "1 TOOL CALL 5 Z\r\n2 L X+0 ; END PGM\r\n", {923, 924});
        row("empty file", iso, "", "");
        // The end block counts even when megabytes of empty lines follow it.
        const QByteArray tail = isoProgram + QByteArray(600000, '\n').replace("\n", "\r\n");
        row("empty lines after the end block", iso, tail, tail);
    }

    void checkSyntax()
    {
        QFETCH(QByteArray, syntax);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);
        QFETCH(QList<int>, events);
        const QList<QByteArray> parts = syntax.split('~');
        Settings& s = Config();
        s.BlocDeb = parts[0];
        s.BlocFin = parts[1];
        s.CarDebProg = parts[2];
        s.CarDebCom = parts[3];
        s.NbMaxCarBloc = parts[4].toInt();
        const QString file = m_fx.write(u"Send/ToCN.txt"_s, input);
        const SyntaxReport report = ExamineSyntax(file);
        QCOMPARE(report.written, !input.isEmpty());
        QCOMPARE(report.events(), events);
        QCOMPARE(m_fx.read(file), expected);
    }

    void checkSyntaxLogsFindings()
    {
        Settings& s = Config();
        s.BlocDeb = "%";
        s.BlocFin = "M30";
        s.CarDebProg = "O";
        s.NbMaxCarBloc = 8;
        const QString file = m_fx.write(u"Send/ToCN.txt"_s, "N10 G0 X100\nN20 G1\r\n");
        QVERIFY(CheckSyntax(file));
        QCOMPARE(m_fx.loggedEvents(), (QList<int>{910, 920, 921, 922, 923, 924}));
    }

private:
    ProgramTextFixture m_fx;
};

QTEST_GUILESS_MAIN(TestReceptionFilters)
#include "tst_receptionfilters.moc"
