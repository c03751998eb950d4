#include "ProgramTextFixture.h"
#include "dnc/CharFilters.h"
#include "dnc/CharLists.h"
#include "dnc/SendPreparation.h"

using namespace nodalis;
using namespace nodalis::testing;
using namespace Qt::StringLiterals;

namespace {

// An ISO milling program with its header block, a comment line, an empty
// line and no line end after the closing "%".
const QByteArray kIso = "%\r\n"
                        "(*ORVA MACHINE: DMU50*)\r\n"
                        "O1234 (BRIDE SUPPORT)\r\n"
                        "N10 G90 G54 G17\r\n"
                        "N20 T1 M6 (FRAISE D20)\r\n"
                        "\r\n"
                        "N30 S2500 M3\r\n"
                        "N40 M30\r\n"
                        "%";

// A program of about 1.5 MB, so that the streamed filters cross many chunks.
QByteArray bigProgram()
{
    QByteArray text = "%\r\nO2000 (PLATINE)\r\n";
    for (int n = 1; text.size() < 1500000; ++n)
        text += "N" + QByteArray::number(n * 10) + " G01 X" + QByteArray::number(n % 97) + ".5 Y-" +
                QByteArray::number(n % 13) + (n % 50 ? "\r\n" : "\r\nDOPR 2\r\n----\r\n");
    return text + "M30\r\n%\r\n";
}

} // namespace

class TestSendFilters : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_fx.reset(); }
    void decodeCharList_data()
    {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QByteArray>("suffix");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* name, const char* list, const char* suffix,
                            const QByteArray& expected) {
            QTest::newRow(name) << QByteArray(list) << QByteArray(suffix) << expected;
        };
        row("count and code", "2x13,10", "", "\r\r\n");
        row("NUL leader", "20x0", "", QByteArray(20, '\0'));
        row("with EOB", "13,10", "\r\n", "\r\n\r\n");
        row("blank list, no suffix", "   ", "\r\n", "");
        row("blank item is NUL, empty item nothing", " 37, ,,72 ", "", raw("%\0H"));
        row("not a number is NUL", "abc,37", "", raw("\0%"));
        row("no byte, no character", "300,-1,37,99999999999x0", "", "%");
        row("upper half", "255,176", "", "\xff\xb0");
    }

    void decodeCharList()
    {
        QFETCH(QByteArray, list);
        QFETCH(QByteArray, suffix);
        QFETCH(QByteArray, expected);
        QCOMPARE(DecodeCharList(list, suffix), expected);
        // The codes the operator sees for a text give that text back.
        QCOMPARE(DecodeCharList(CharCodeList(expected), {}), expected);
    }

    void charCodeList()
    {
        QCOMPARE(CharCodeList("%\r\n\xff"), QByteArray("37,13,10,255"));
        // A list that names a file stands for the file's content, without the suffix.
        const QString leader = m_fx.write(u"leader.bin"_s, raw("\x12%\0"));
        QCOMPARE(DecodeCharList(leader.toLatin1(), "\r\n"), raw("\x12%\0"));
    }

    void prepareSendText_data()
    {
        QTest::addColumn<QByteArray>(
            "options"); // C comments, H header lines, E empty lines, S special
        QTest::addColumn<QByteArray>("filtered");
        QTest::addColumn<QByteArray>("filteredBy");
        QTest::addColumn<QByteArray>("specificite");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* name, const char* options, const char* filtered,
                            const char* filteredBy, const char* specificite,
                            const QByteArray& input, const QByteArray& expected) {
            QTest::newRow(name) << QByteArray(options) << QByteArray(filtered)
                                << QByteArray(filteredBy) << QByteArray(specificite) << input
                                << expected;
        };
        row("everything sent", "CHE", "", "", "", kIso, kIso + "\r\n");
        row("header and comments dropped", "", "", "", "", kIso,
            "%\r\nO1234 \r\nN10 G90 G54 G17\r\nN20 T1 M6 \r\nN30 S2500 M3\r\nN40 M30\r\n%\r\n");
        row("header line sent empty", "H", "", "", "", kIso,
            "%\r\n\r\nO1234 \r\nN10 G90 G54 G17\r\nN20 T1 M6 \r\nN30 S2500 M3\r\nN40 M30\r\n"
            "%\r\n");
        row("empty lines sent, comments cut", "E", "", "", "", kIso,
            "%\r\nO1234 \r\nN10 G90 G54 G17\r\nN20 T1 M6 \r\n\r\nN30 S2500 M3\r\nN40 M30\r\n%\r\n");
        row("blanks removed", "CHE", "32", "", "", kIso,
            "%\r\n(*ORVAMACHINE:DMU50*)\r\nO1234(BRIDESUPPORT)\r\nN10G90G54G17\r\n"
            "N20T1M6(FRAISED20)\r\n\r\nN30S2500M3\r\nN40M30\r\n%\r\n");
        row("special characters", "CS", "", "", "",
            raw("N10 G1 X10.\tY5 (C\xe9NE)\r\n&HE:N20 \0M30\xf8\r\n"),
            "N10 G1 X10. Y5 (C NE)\r\nN20  M30\xf8\r\n");
        row("DURER_OVARE closing %1", "C", "9", "32", " durer_ovare ",
            "%\r\nO0100\r\nN10 G0\tX5\r\nDOPR 1\r\n----\r\nN20 M30\r\n",
            "%\r\nO0100\r\nN10 G0 X5 1\r\nN20 M30\r\n%1\r\n");
        row("DURER_OVARE rules only with a filter", "C", "", "", "DURER_OVARE",
            "O0100\r\nDOPR 1\r\n", "O0100\r\nDOPR 1\r\n");
    }

    void prepareSendText()
    {
        QFETCH(QByteArray, options);
        QFETCH(QByteArray, filtered);
        QFETCH(QByteArray, filteredBy);
        QFETCH(QByteArray, specificite);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);
        Settings& s = Config();
        s.CarDebCom = "(";
        s.Port.SendComment = options.contains('C');
        s.Port.SendCartouche = options.contains('H');
        s.Port.SendEmptyLines = options.contains('E');
        s.FiltreCarSpec = options.contains('S');
        s.Port.TCarFiltered = filtered;
        s.Port.TCarFilteredBy = filteredBy;
        s.Port.Specificite = specificite;
        const QString file = m_fx.write(u"Send/ToCN.txt"_s, input);

        QVERIFY(PrepareSendText(file));
        QCOMPARE(m_fx.read(file), expected);
        QCOMPARE(m_fx.loggedEvents().contains(950), !filtered.isEmpty());
    }

    void replaceChars_data()
    {
        QTest::addColumn<QByteArray>("input"); // null: no file
        QTest::addColumn<QByteArray>("search");
        QTest::addColumn<QByteArray>("replacement");
        QTest::addColumn<bool>("durer"); // DURER_OVARE
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* name, const QByteArray& input, const char* search,
                            const char* replacement, const QByteArray& expected,
                            bool durer = false) {
            QTest::newRow(name) << input << QByteArray(search) << QByteArray(replacement) << durer
                                << expected;
        };
        row("whole text, no line end added", "N10 G0 X1\r\nN20 G01 X2", "G0", "G00",
            "N10 G00 X1\r\nN20 G001 X2");
        row("line ends replaced", "N1\r\nN2\r\n", "\r\n", ";\n", "N1;\nN2;\n");
        row("not re-examined", "AAAA", "AA", "A", "AA");
        // Blocks of sixteen bytes all blanks, none, some, and a short tail.
        row("one byte removed", "N10 G0  X1" + QByteArray(40, ' ') + "Y2.5  Z-1 F100\r\nM30 ", " ",
            "", "N10G0X1Y2.5Z-1F100\r\nM30");
        row("empty file untouched", "", "G0", "X", "");
        row("missing file", QByteArray(), "G0", "X", "<missing>");
        // Megabytes, across many chunks; DURER_OVARE machines lose their DOPR
        // and "----" lines and get a closing "%1".
        const QByteArray big = bigProgram();
        row("big, one byte", big, " ", "", QByteArray(big).replace(" ", ""));
        row("big, longer replacement", big, "G01", "G1 ; LIN",
            QByteArray(big).replace("G01", "G1 ; LIN"));
        row("big, line end", big, "\r\n", "\n", QByteArray(big).replace("\r\n", "\n"));
        row("big, DURER_OVARE", big, ".5", ".50",
            QByteArray(big).replace(".5", ".50").replace("\r\nDOPR", "").replace("\r\n----", "") +
                "\r\n%1",
            true);
    }

    void replaceChars()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, search);
        QFETCH(QByteArray, replacement);
        QFETCH(bool, durer);
        QFETCH(QByteArray, expected);
        Config().Port.Specificite = durer ? "DURER_OVARE" : "";
        const QString file = m_fx.path(u"P1.NC"_s);
        if (!input.isNull())
            m_fx.write(u"P1.NC"_s, input);
        QCOMPARE(ReplaceChars(file, search, replacement), !input.isEmpty());
        QCOMPARE(m_fx.read(file), expected);
    }

    void filterSpecialChars_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("replacement");
        QTest::addColumn<int>("group");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* name, const QByteArray& input, const char* replacement,
                            int group, const QByteArray& expected) {
            QTest::newRow(name) << input << QByteArray(replacement) << group << expected;
        };
        const QByteArray accents("N10\tX1\x7fY2\xae\xaf\xf0\xf2\xf6\xf8\xe9\r\n");
        row("blank", accents, " ", 0, "N10 X1 Y2\xae\xaf\xf0\xf2\xf6\xf8 \r\n");
        row("removed", accents, "", 0, "N10X1Y2\xae\xaf\xf0\xf2\xf6\xf8\r\n");
        row("edges of the upper half", "N1~\x7f\xff\r\n", " ", 0, "N1~  \r\n");
        row("lone CR and LF kept", "N1\rN2\nN3\r\n", " ", 0, "N1\rN2\nN3\r\n");
        row("NUL bytes", raw("N1\0\0X5\r\n"), " ", 0, "N1  X5\r\n");
        row("&HE: removed", "&HE:%\r\n&HE:&HE:O1\r\n", " ", 0, "%\r\nO1\r\n");
        row("group 3 colon", ":1234\r\n:\r\nN1 :2\r\n", " ", 3, "O1234\r\n:\r\nN1 :2\r\n");
        row("other group colon", ":1234", " ", 2, ":1234\r\n");
        row("empty file untouched", "", " ", 0, QByteArray());
    }

    void filterSpecialChars()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, replacement);
        QFETCH(int, group);
        QFETCH(QByteArray, expected);
        Config().CodeGroupCN = group;
        const QString file = m_fx.write(u"Receiv/FromCN.txt"_s, input);
        QCOMPARE(FilterSpecialChars(file, replacement), !input.isEmpty());
        QCOMPARE(m_fx.read(file), expected);
    }

private:
    ProgramTextFixture m_fx;
};

QTEST_GUILESS_MAIN(TestSendFilters)
#include "tst_sendfilters.moc"
