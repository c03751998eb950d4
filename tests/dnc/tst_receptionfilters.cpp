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
        const auto row = [](const char* name, const char* pending, const char* written,
                            const char* rest) {
            QTest::newRow(name) << QByteArray(pending) << QByteArray(written) << QByteArray(rest);
        };
        row("no line end", "G0 X1", "", "G0 X1");
        row("CR LF", "A\r\nB", "A\r\n", "B");
        row("runs of ends are one", "A\r\r\n\n\rB\n", "A\r\nB\r\n", "");
        row("lone ends among CR LF", "A\r\nB\nC\r\nD\rE\r\nF", "A\r\nB\r\nC\r\nD\r\nE\r\n", "F");
        row("leading ends", "\r\nA\n", "A\r\n", "");
        row("CR at the very end", "A\r", "A\r\n", "");
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

    // The filters of a received file: "normalise" (what the serial library
    // received), "trim" (blocks), or "lines:" and the line filter ("@" and
    // lines: a pattern file).
    void receivedFileFilters_data()
    {
        QTest::addColumn<QByteArray>("filter");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* name, const char* filter, const QByteArray& input,
                            const QByteArray& expected) {
            QTest::newRow(name) << QByteArray(filter) << input << expected;
        };
        row("normalise: stray CR and LF inside lines", "normalise", "%\r\nO1\rA\nB\r\n\r\nM30\r\n",
            "%\r\nO1AB\r\nM30\r\n");
        row("normalise: last line without end", "normalise", "N1\r\nN2", "N1\r\nN2\r\n");
        row("normalise: empty file stays", "normalise", "", "");

        row("lines: starts with", "lines:G04*", kUpload,
            "%\r\nO0042 (FLASQUE)\r\nN10 G04 P2\r\nN20 M01\r\nM01 M01X\r\nN30 M30\r\n%\r\n");
        row("lines: ends with, first occurrence decides", "lines:*M01", kUpload,
            "%\r\nO0042 (FLASQUE)\r\nN10 G04 P2\r\nG04 P2\r\nM01 M01X\r\nN30 M30\r\n%\r\n");
        row("lines: contains", "lines:*(*", kUpload,
            "%\r\nN10 G04 P2\r\nG04 P2\r\nN20 M01\r\nM01 M01X\r\nN30 M30\r\n%\r\n");
        const QByteArray trimmed = "%\r\nO0042 (FLASQUE)\r\nN10 G04 P2\r\nG04 P2\r\nN20 M01\r\nM01 "
                                   "M01X\r\nN30 M30\r\n%\r\n";
        row("lines: whole line, untrimmed", "lines:N30 M30", kUpload, trimmed);
        row("lines: a lone star matches nothing", "lines:*", kUpload, trimmed);
        row("lines: pattern file", "lines:@%\r\n*M01\r\n\r\nG04*\r\n", kUpload,
            "O0042 (FLASQUE)\r\nN10 G04 P2\r\nM01 M01X\r\nN30 M30\r\n");
        row("lines: no filter", "lines:", kUpload, kUpload);

        row("trim: blanks only, tabs kept", "trim", "  N10 G0 X1  \r\n\tN20 \r\n   \r\n",
            "N10 G0 X1\r\n\tN20\r\n\r\n");
        row("trim: no line end at all", "trim", " O1 ", "O1\r\n");
        row("trim: lone CR and LF are inside lines", "trim", " N1\r N2 \n N3 \r\n",
            "N1\r N2 \n N3\r\n");
        row("trim: CR LF split at the end", "trim", "N1 \r\n\r\n", "N1\r\n\r\n");
        row("trim: NUL and upper half", "trim", raw(" \0N1\xff "), raw("\0N1\xff\r\n"));
        row("trim: empty file untouched", "trim", "", "");
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
        row("trim: lines across chunks", "trim", lines, trimmedLines(lines));
        const QByteArray longLine(10 * 1024 * 1024, 'X');
        row("trim: 10 MB line", "trim", "N1\r\n  " + longLine + "  \r\nN2",
            "N1\r\n" + longLine + "\r\nN2\r\n");
    }

    void receivedFileFilters()
    {
        QFETCH(QByteArray, filter);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);
        const QString file = m_fx.write(u"Receiv/FromCN.txt"_s, input);
        if (filter == "normalise") {
            QVERIFY(NormaliseLibraryReception(file));
        } else if (filter == "trim") {
            QCOMPARE(TrimBlocks(file), !input.isEmpty());
        } else {
            QByteArray lines = filter.mid(6);
            if (lines.startsWith('@'))
                lines = m_fx.write(u"filtre.txt"_s, lines.mid(1)).toLatin1();
            Config().Port.FiltreLigneRecep = lines;
            QCOMPARE(FilterReceivedLines(file), !lines.isEmpty());
        }
        QCOMPARE(m_fx.read(file), expected);
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
        row("every finding", "%~M30~O~~8", "N10 G0 X100\nN20 G1\r\n", "N10 G0 X100\r\nN20 G1\r\n",
            {920, 921, 922, 923, 924});
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
        // 910 opens the check, then each finding is logged in turn.
        QCOMPARE(CheckSyntax(file), !input.isEmpty());
        QCOMPARE(m_fx.loggedEvents(), QList<int>{910} + events);
        QCOMPARE(m_fx.read(file), expected);
    }

private:
    ProgramTextFixture m_fx;
};

QTEST_GUILESS_MAIN(TestReceptionFilters)
#include "tst_receptionfilters.moc"
