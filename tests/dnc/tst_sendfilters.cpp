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
    void decodeCharList_data();
    void decodeCharList();
    void charCodeList();
    void prepareSendText_data();
    void prepareSendText();
    void replaceChars_data();
    void replaceChars();
    void replaceCharsAcrossChunks_data();
    void replaceCharsAcrossChunks();
    void filterSpecialChars_data();
    void filterSpecialChars();

private:
    ProgramTextFixture m_fx;
};

void TestSendFilters::decodeCharList_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QByteArray>("suffix");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("percent") << QByteArray("37") << QByteArray() << QByteArray("%");
    QTest::newRow("count and code")
        << QByteArray("2x13,10") << QByteArray() << QByteArray("\r\r\n");
    QTest::newRow("NUL leader") << QByteArray("20x0") << QByteArray() << QByteArray(20, '\0');
    QTest::newRow("with EOB") << QByteArray("13,10") << QByteArray("\r\n")
                              << QByteArray("\r\n\r\n");
    QTest::newRow("blank list, no suffix")
        << QByteArray("   ") << QByteArray("\r\n") << QByteArray();
    QTest::newRow("blank item is NUL, empty item nothing")
        << QByteArray(" 37, ,,72 ") << QByteArray() << raw("%\0H");
    QTest::newRow("not a number is NUL") << QByteArray("abc,37") << QByteArray() << raw("\0%");
    QTest::newRow("no byte, no character")
        << QByteArray("300,-1,37,99999999999x0") << QByteArray() << QByteArray("%");
    QTest::newRow("upper half") << QByteArray("255,176") << QByteArray() << QByteArray("\xff\xb0");
}

void TestSendFilters::decodeCharList()
{
    QFETCH(QByteArray, list);
    QFETCH(QByteArray, suffix);
    QFETCH(QByteArray, expected);
    QCOMPARE(DecodeCharList(list, suffix), expected);
}

void TestSendFilters::charCodeList()
{
    QCOMPARE(CharCodeList("AB"), QByteArray("65,66"));
    QCOMPARE(CharCodeList("%\r\n\xff"), QByteArray("37,13,10,255"));
    QCOMPARE(CharCodeList({}), QByteArray());
    // A list that names a file stands for the file's content, without the suffix.
    const QString leader = m_fx.write(u"leader.bin"_s, raw("\x12%\0"));
    QCOMPARE(DecodeCharList(leader.toLatin1(), "\r\n"), raw("\x12%\0"));
}

void TestSendFilters::prepareSendText_data()
{
    QTest::addColumn<QByteArray>("options"); // C comments, H header lines, E empty lines, S special
    QTest::addColumn<QByteArray>("filtered");
    QTest::addColumn<QByteArray>("filteredBy");
    QTest::addColumn<QByteArray>("specificite");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("everything sent") << QByteArray("CHE") << QByteArray() << QByteArray()
                                     << QByteArray() << kIso << kIso + "\r\n";
    QTest::newRow("header and comments dropped")
        << QByteArray() << QByteArray() << QByteArray() << QByteArray() << kIso
        << QByteArray("%\r\nO1234 \r\nN10 G90 G54 G17\r\nN20 T1 M6 \r\nN30 S2500 M3\r\n"
                      "N40 M30\r\n%\r\n");
    QTest::newRow("header line sent empty")
        << QByteArray("H") << QByteArray() << QByteArray() << QByteArray() << kIso
        << QByteArray("%\r\n\r\nO1234 \r\nN10 G90 G54 G17\r\nN20 T1 M6 \r\nN30 S2500 M3\r\n"
                      "N40 M30\r\n%\r\n");
    QTest::newRow("blanks removed")
        << QByteArray("CHE") << QByteArray("32") << QByteArray() << QByteArray() << kIso
        << QByteArray("%\r\n(*ORVAMACHINE:DMU50*)\r\nO1234(BRIDESUPPORT)\r\nN10G90G54G17\r\n"
                      "N20T1M6(FRAISED20)\r\n\r\nN30S2500M3\r\nN40M30\r\n%\r\n");
    QTest::newRow("special characters")
        << QByteArray("CS") << QByteArray() << QByteArray() << QByteArray()
        << raw("N10 G1 X10.\tY5 (C\xe9NE)\r\n&HE:N20 \0M30\xf8\r\n")
        << QByteArray("N10 G1 X10. Y5 (C NE)\r\nN20  M30\xf8\r\n");
    QTest::newRow("DURER_OVARE closing %1")
        << QByteArray("C") << QByteArray("9") << QByteArray("32") << QByteArray(" durer_ovare ")
        << QByteArray("%\r\nO0100\r\nN10 G0\tX5\r\nDOPR 1\r\n----\r\nN20 M30\r\n")
        << QByteArray("%\r\nO0100\r\nN10 G0 X5 1\r\nN20 M30\r\n%1\r\n");
    QTest::newRow("DURER_OVARE rules only with a filter")
        << QByteArray("C") << QByteArray() << QByteArray() << QByteArray("DURER_OVARE")
        << QByteArray("O0100\r\nDOPR 1\r\n") << QByteArray("O0100\r\nDOPR 1\r\n");
}

void TestSendFilters::prepareSendText()
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

void TestSendFilters::replaceChars_data()
{
    QTest::addColumn<QByteArray>("input"); // null: no file
    QTest::addColumn<QByteArray>("search");
    QTest::addColumn<QByteArray>("replacement");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("whole text, no line end added")
        << QByteArray("N10 G0 X1\r\nN20 G01 X2") << QByteArray("G0") << QByteArray("G00") << true
        << QByteArray("N10 G00 X1\r\nN20 G001 X2");
    QTest::newRow("line ends replaced") << QByteArray("N1\r\nN2\r\n") << QByteArray("\r\n")
                                        << QByteArray(";\n") << true << QByteArray("N1;\nN2;\n");
    QTest::newRow("not re-examined")
        << QByteArray("AAAA") << QByteArray("AA") << QByteArray("A") << true << QByteArray("AA");
    QTest::newRow("empty file untouched")
        << QByteArray("") << QByteArray("G0") << QByteArray("X") << false << QByteArray("");
    QTest::newRow("missing file") << QByteArray() << QByteArray("G0") << QByteArray("X") << false
                                  << QByteArray("<missing>");
}

void TestSendFilters::replaceChars()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, search);
    QFETCH(QByteArray, replacement);
    QFETCH(bool, ok);
    QFETCH(QByteArray, expected);
    const QString file = m_fx.path(u"P1.NC"_s);
    if (!input.isNull())
        m_fx.write(u"P1.NC"_s, input);
    QCOMPARE(ReplaceChars(file, search, replacement), ok);
    QCOMPARE(m_fx.read(file), expected);
}

void TestSendFilters::replaceCharsAcrossChunks_data()
{
    QTest::addColumn<QByteArray>("search");
    QTest::addColumn<QByteArray>("replacement");
    QTest::addColumn<bool>("durer");

    QTest::newRow("one byte") << QByteArray(" ") << QByteArray() << false;
    QTest::newRow("longer replacement") << QByteArray("G01") << QByteArray("G1 ; LIN") << false;
    QTest::newRow("line end") << QByteArray("\r\n") << QByteArray("\n") << false;
    QTest::newRow("DURER_OVARE") << QByteArray(".5") << QByteArray(".50") << true;
}

void TestSendFilters::replaceCharsAcrossChunks()
{
    QFETCH(QByteArray, search);
    QFETCH(QByteArray, replacement);
    QFETCH(bool, durer);
    Config().Port.Specificite = durer ? "DURER_OVARE" : "";
    const QByteArray input = bigProgram();
    QByteArray expected = QByteArray(input).replace(search, replacement);
    if (durer) {
        if (expected.contains("\r\nDOPR"))
            expected += "\r\n%1";
        expected.replace("\r\nDOPR", "").replace("\r\n----", "");
    }
    const QString file = m_fx.write(u"BIG.NC"_s, input);
    QVERIFY(ReplaceChars(file, search, replacement));
    QVERIFY(m_fx.read(file) == expected); // megabytes: no dump on failure
}

void TestSendFilters::filterSpecialChars_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("replacement");
    QTest::addColumn<int>("group");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray accents("N10\tX1\x7fY2\xae\xaf\xf0\xf2\xf6\xf8\xe9\r\n");
    QTest::newRow("blank") << accents << QByteArray(" ") << 0
                           << QByteArray("N10 X1 Y2\xae\xaf\xf0\xf2\xf6\xf8 \r\n");
    QTest::newRow("removed") << accents << QByteArray() << 0
                             << QByteArray("N10X1Y2\xae\xaf\xf0\xf2\xf6\xf8\r\n");
    QTest::newRow("lone CR and LF kept")
        << QByteArray("N1\rN2\nN3\r\n") << QByteArray(" ") << 0 << QByteArray("N1\rN2\nN3\r\n");
    QTest::newRow("NUL bytes") << raw("N1\0\0X5\r\n") << QByteArray(" ") << 0
                               << QByteArray("N1  X5\r\n");
    QTest::newRow("&HE: removed") << QByteArray("&HE:%\r\n&HE:&HE:O1\r\n") << QByteArray(" ") << 0
                                  << QByteArray("%\r\nO1\r\n");
    QTest::newRow("group 3 colon") << QByteArray(":1234\r\n:\r\nN1 :2\r\n") << QByteArray(" ") << 3
                                   << QByteArray("O1234\r\n:\r\nN1 :2\r\n");
    QTest::newRow("other group colon")
        << QByteArray(":1234") << QByteArray(" ") << 2 << QByteArray(":1234\r\n");
    QTest::newRow("empty file untouched") << QByteArray("") << QByteArray(" ") << 0 << QByteArray();
}

void TestSendFilters::filterSpecialChars()
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

QTEST_GUILESS_MAIN(TestSendFilters)
#include "tst_sendfilters.moc"
