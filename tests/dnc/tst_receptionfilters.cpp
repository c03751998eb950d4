#include "ProgramTextFixture.h"
#include "dnc/CharFilters.h"
#include "dnc/ReceptionFilters.h"
#include "dnc/SyntaxCheck.h"

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

} // namespace

class TestReceptionFilters : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_fx.reset(); }
    void filterReceivedLines_data();
    void filterReceivedLines();
    void trimBlocks_data();
    void trimBlocks();
    void checkSyntax_data();
    void checkSyntax();
    void checkSyntaxLogsFindings();

private:
    ProgramTextFixture m_fx;
};

void TestReceptionFilters::filterReceivedLines_data()
{
    QTest::addColumn<QByteArray>("filter"); // "@" + lines: a pattern file
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("starts with") << QByteArray("G04*")
                                 << QByteArray("%\r\nO0042 (FLASQUE)\r\nN10 G04 P2\r\nN20 M01\r\n"
                                               "M01 M01X\r\nN30 M30\r\n%\r\n");
    QTest::newRow("ends with, first occurrence decides")
        << QByteArray("*M01")
        << QByteArray(
               "%\r\nO0042 (FLASQUE)\r\nN10 G04 P2\r\nG04 P2\r\nM01 M01X\r\nN30 M30\r\n%\r\n");
    QTest::newRow("contains") << QByteArray("*(*")
                              << QByteArray("%\r\nN10 G04 P2\r\nG04 P2\r\nN20 M01\r\nM01 M01X\r\n"
                                            "N30 M30\r\n%\r\n");
    QTest::newRow("whole line, untrimmed") << QByteArray("N30 M30")
                                           << QByteArray("%\r\nO0042 (FLASQUE)\r\nN10 G04 P2\r\n"
                                                         "G04 P2\r\nN20 M01\r\nM01 M01X\r\n"
                                                         "N30 M30\r\n%\r\n");
    QTest::newRow("pattern file") << QByteArray("@%\r\n*M01\r\n\r\nG04*\r\n")
                                  << QByteArray("O0042 (FLASQUE)\r\nN10 G04 P2\r\nM01 M01X\r\n"
                                                "N30 M30\r\n");
    QTest::newRow("a lone star matches nothing")
        << QByteArray("*")
        << QByteArray("%\r\nO0042 (FLASQUE)\r\nN10 G04 P2\r\nG04 P2\r\n"
                      "N20 M01\r\nM01 M01X\r\nN30 M30\r\n%\r\n");
    QTest::newRow("no filter") << QByteArray() << kUpload;
}

void TestReceptionFilters::filterReceivedLines()
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

void TestReceptionFilters::trimBlocks_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("blanks only, tabs kept") << QByteArray("  N10 G0 X1  \r\n\tN20 \r\n   \r\n")
                                            << QByteArray("N10 G0 X1\r\n\tN20\r\n\r\n");
    QTest::newRow("no line end at all") << QByteArray(" O1 ") << QByteArray("O1\r\n");
    QTest::newRow("lone CR and LF are inside lines")
        << QByteArray(" N1\r N2 \n N3 \r\n") << QByteArray("N1\r N2 \n N3\r\n");
    QTest::newRow("CR LF split at the end")
        << QByteArray("N1 \r\n\r\n") << QByteArray("N1\r\n\r\n");
    QTest::newRow("NUL and upper half") << raw(" \0N1\xff ") << raw("\0N1\xff\r\n");
    QTest::newRow("empty file untouched") << QByteArray("") << QByteArray("");
    QByteArray longLine(10 * 1024 * 1024, 'X');
    QTest::newRow("10 MB line") << "N1\r\n  " + longLine + "  \r\nN2"
                                << "N1\r\n" + longLine + "\r\nN2\r\n";
}

void TestReceptionFilters::trimBlocks()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    const QString file = m_fx.write(u"P.NC"_s, input);
    QCOMPARE(TrimBlocks(file), !input.isEmpty());
    QVERIFY2(m_fx.read(file) == expected, m_fx.read(file).left(80).constData());
}

void TestReceptionFilters::checkSyntax_data()
{
    QTest::addColumn<QByteArray>("syntax"); // BlocDeb~BlocFin~CarDebProg~CarDebCom~NbMaxCarBloc
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QList<int>>("events");

    const QByteArray iso = "%~%~O~(~20";
    QTest::newRow("ISO correct") << iso
                                 << QByteArray("%\r\nO1234 (UN COMMENTAIRE LONG)\r\n"
                                               "N10 G0 X0\r\nN20 M30\r\n%\r\n")
                                 << QByteArray("%\r\nO1234 (UN COMMENTAIRE LONG)\r\nN10 G0 X0\r\n"
                                               "N20 M30\r\n%\r\n")
                                 << QList<int>{};
    QTest::newRow("no start block")
        << iso << QByteArray("O1234\r\nN10 G0\r\n%") << QByteArray("O1234\r\nN10 G0\r\n%\r\n")
        << QList<int>{922, 924};
    QTest::newRow("block too long")
        << iso << QByteArray("%\r\nO1\r\nN10 G1 X100.55 Y20.25\r\nN20 G1 X10.55 Y20.25\r\n%\r\n")
        << QByteArray("%\r\nO1\r\nN10 G1 X100.55 Y20.25\r\nN20 G1 X10.55 Y20.25\r\n%\r\n")
        << QList<int>{921};
    QTest::newRow("bare LF inside")
        << iso << QByteArray("%\r\nO1\nN10 G0\nN20 M30\n\r\n%\r\n")
        << QByteArray("%\r\nO1\r\nN10 G0\r\nN20 M30\r\n%\r\n") << QList<int>{920};
    QTest::newRow("LF-only file is one line")
        << iso << QByteArray("%\nO1\nM30\n%\n") << QByteArray("%\r\nO1\r\nM30\r\n%\r\n")
        << QList<int>{920, 924};
    QTest::newRow("end block missing") << iso << QByteArray("%\r\nO1\r\nN10 G0\r\n")
                                       << QByteArray("%\r\nO1\r\nN10 G0\r\n") << QList<int>{923};
    QTest::newRow("Fanuc colon alternative")
        << QByteArray("%~M30~O|:~(~0")
        << QByteArray("%\r\n:0042\r\nN10 G0\r\nN20 M30 (FIN)\r\n\r\n")
        << QByteArray("%\r\n:0042\r\nN10 G0\r\nN20 M30 (FIN)\r\n\r\n") << QList<int>{};
    const QByteArray heidenhain = "~END PGM~0 BEGIN PGM~;~0";
    QTest::newRow("Heidenhain") << heidenhain
                                << QByteArray("0 BEGIN PGM 1234 MM\r\n1 TOOL CALL 5 Z S3000\r\n"
                                              "2 L X+0 Y+0 R0 FMAX M3\r\n3 END PGM 1234 MM\r\n")
                                << QByteArray("0 BEGIN PGM 1234 MM\r\n1 TOOL CALL 5 Z S3000\r\n"
                                              "2 L X+0 Y+0 R0 FMAX M3\r\n3 END PGM 1234 MM\r\n")
                                << QList<int>{};
    QTest::newRow("Heidenhain cut short")
        << heidenhain << QByteArray("1 TOOL CALL 5 Z\r\n2 L X+0 ; END PGM")
        << QByteArray("1 TOOL CALL 5 Z\r\n2 L X+0 ; END PGM\r\n") << QList<int>{923, 924};
    QTest::newRow("empty file") << iso << QByteArray("") << QByteArray("") << QList<int>{};
}

void TestReceptionFilters::checkSyntax()
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

void TestReceptionFilters::checkSyntaxLogsFindings()
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

QTEST_GUILESS_MAIN(TestReceptionFilters)
#include "tst_receptionfilters.moc"
