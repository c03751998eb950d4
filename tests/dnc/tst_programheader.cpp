#include "ProgramTextFixture.h"
#include "dnc/ProgramHeader.h"

using namespace nodalis;
using namespace nodalis::testing;
using namespace Qt::StringLiterals;

namespace {

// An ISO program with the suite's header block: one call line and one line
// per field, each marked by "(*".
const QByteArray kHeaded = "%\r\n"
                           "(*CARTOUCHE ORVA 4711*)\r\n"
                           "(*ORVA MACHINE: DMU50...*)\r\n"
                           "(*ORVA PIECE: BRIDE-12*)\r\n"
                           "(*ORVA PROG: 1234*)\r\n"
                           "(*ORVA CLIENT: DUPONT & FILS*)\r\n"
                           "(*ORVA CODE 98765*)\r\n"
                           "O1234 (BRIDE SUPPORT)\r\n"
                           "N10 G90 G54\r\n";

QByteArray hurco(const QByteArray& blocks)
{
    return "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<Hurco_Document>\r\n"
           " <Header><Version>5</Version></Header>\r\n <DataBlocks>\r\n" +
           blocks + " </DataBlocks>\r\n</Hurco_Document>\r\n";
}

QByteArray commentBlock(const QList<QByteArray>& lines)
{
    QByteArray block = "  <HCommentDBlock>\r\n";
    for (const QByteArray& line : lines)
        block += "   <HCommentDBlock.TextLine>" + line + "</HCommentDBlock.TextLine>\r\n";
    return block + "  </HCommentDBlock>\r\n";
}

void useHeaderFields()
{
    Settings& s = Config();
    s.CarDebCom = "(";
    s.CarCartouche = "*";
    s.UseCodeProgOrva = true;
    s.RefCartoucheCodeProg = "CODE";
    s.RecordFields.resize(4);
    s.RecordFields[1].RefCartouche = "PIECE";
    s.RecordFields[2].RefCartouche = "PROG";
    s.RecordFields[2].IsNumProg = true;
    s.RecordFields[3].RefCartouche = "CLIENT";
}

} // namespace

class TestProgramHeader : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_fx.reset(); }
    void readProgramCode_data();
    void readProgramCode();
    void readHeader_data();
    void readHeader();
    void readProgramNumber_data();
    void readProgramNumber();

private:
    ProgramTextFixture m_fx;
};

void TestProgramHeader::readProgramCode_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("code");

    QTest::newRow("after the marker")
        << QByteArray("%\r\nO12 (X)\r\n(;CODE PROGRAMME  Ab_12.5-C (V2)\r\n")
        << QByteArray("Ab_12.5-C");
    QTest::newRow("first line wins")
        << QByteArray(";CODE PROGRAMME 7\r\n;CODE PROGRAMME 8\r\n") << QByteArray("7");
    QTest::newRow("no marker") << QByteArray("%\r\nO12\r\nM30\r\n") << QByteArray();
    QTest::newRow("marker in capitals only") << QByteArray(";code programme 7") << QByteArray();
    QTest::newRow("empty file") << QByteArray("") << QByteArray();
}

void TestProgramHeader::readProgramCode()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, code);
    QCOMPARE(ReadProgramCode(m_fx.write(u"P.NC"_s, input)), code);
}

void TestProgramHeader::readHeader_data()
{
    QTest::addColumn<bool>("cml");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("read");
    // Fields 1 to 3; field 2 is the program number, never read from the header.
    // A ":" after a key becomes a blank, and field values are not trimmed again.
    QTest::addColumn<QByteArray>("fields");
    QTest::addColumn<QByteArray>("machine");
    QTest::addColumn<QByteArray>("call");
    QTest::addColumn<double>("code");

    QTest::newRow("header lines") << false << kHeaded << true
                                  << QByteArray("  BRIDE-12||  DUPONT & FILS")
                                  << QByteArray("DMU50") << QByteArray("4711") << 98765.0;
    QTest::newRow("keys in any case, first line wins")
        << false
        << QByteArray("(*x Piece: CARTER*)\r\n(*x PIECE: AUTRE*)\r\n(*x machine:VM 10*)\r\n")
        << true << QByteArray("  CARTER||") << QByteArray("VM 10") << QByteArray() << 0.0;
    QTest::newRow("only the text before the last marker")
        << false << QByteArray("(*x CLIENT: ACME*  PIECE: NON*)\r\n(x PIECE: SANS MARQUE)\r\n")
        << true << QByteArray("  NON||  ACME") << QByteArray() << QByteArray() << 0.0;
    QTest::newRow("twenty lines at most")
        << false << QByteArray(20, '\n').replace("\n", "N1\r\n") + "(*x PIECE: TARD*)\r\n"
        << true << QByteArray("||") << QByteArray() << QByteArray() << 0.0;
    const QByteArray orva =
        commentBlock({"ORVA", "* MACHINE: VM10", "* PIECE: SUPPORT-3", "* CODE 55",
                      "* CLIENT: FRAN\xe7"
                      "AISE \xe9T\xe9"});
    QTest::newRow("Hurco: last ORVA block")
        << true
        << hurco(commentBlock({"ORVA", "* PIECE: ANCIEN"}) + orva +
                 commentBlock({"NOTE", "* PIECE: PAS ORVA"}))
        << true
        << QByteArray("  SUPPORT-3||  FRAN\xe7"
                      "AISE")
        << QByteArray("VM10") << QByteArray() << 0.0;
    QTest::newRow("Hurco: no ORVA block")
        << true << hurco(commentBlock({"* PIECE: X"})) << true << QByteArray("||") << QByteArray()
        << QByteArray() << 0.0;
    QTest::newRow("Hurco: malformed") << true << hurco(orva).replace("</DataBlocks>", "") << false
                                      << QByteArray("||") << QByteArray() << QByteArray() << 0.0;
    QTest::newRow("Hurco: not XML")
        << true << kHeaded << false << QByteArray("||") << QByteArray() << QByteArray() << 0.0;
    QTest::newRow("missing file") << false << QByteArray() << false << QByteArray("||")
                                  << QByteArray() << QByteArray() << 0.0;
}

void TestProgramHeader::readHeader()
{
    QFETCH(bool, cml);
    QFETCH(QByteArray, input);
    QFETCH(bool, read);
    QFETCH(QByteArray, fields);
    QFETCH(QByteArray, machine);
    QFETCH(QByteArray, call);
    QFETCH(double, code);
    useHeaderFields();
    Config().CML = cml;
    const QString file = input.isNull() ? m_fx.path(u"none.NC"_s) : m_fx.write(u"P.NC"_s, input);
    const HeaderValues values = ReadHeader(file);
    QCOMPARE(values.read, read);
    QCOMPARE(values.Fields.size(), 4);
    QCOMPARE(values.Fields.mid(1), fields.split('|'));
    QCOMPARE(values.Machine, machine);
    QCOMPARE(values.Call, call);
    QCOMPARE(values.CodeProg, code);
}

void TestProgramHeader::readProgramNumber_data()
{
    QTest::addColumn<QByteArray>("carDebProg");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("defaultName");
    QTest::addColumn<bool>("withPrefix");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("textMode");
    QTest::addColumn<QByteArray>("number");

    const QByteArray fanuc = "%\r\nO0042 (FLASQUE)\r\nN10 G90\r\n";
    QTest::newRow("numeric") << QByteArray("O|%") << fanuc << QString() << false << 0 << false
                             << QByteArray("42");
    QTest::newRow("numeric, padded, prefixed")
        << QByteArray("O|%") << fanuc << QString() << true << 5 << false << QByteArray("O00042");
    QTest::newRow("text") << QByteArray("O|%") << fanuc << QString() << false << 0 << true
                          << QByteArray("0042");
    QTest::newRow("text, any case") << QByteArray("O") << QByteArray("o12ab-3 (X)\r\n") << QString()
                                    << true << 0 << true << QByteArray("O12ab-3");
    QTest::newRow("second alternative") << QByteArray("O|%") << QByteArray("%1234\r\n") << QString()
                                        << true << 0 << false << QByteArray("%1234");
    QTest::newRow("Heidenhain numeric")
        << QByteArray("BEGIN PGM") << QByteArray("0 BEGIN PGM 1234 MM\r\n1 END PGM 1234 MM\r\n")
        << QString() << false << 0 << false << QByteArray("1234");
    QTest::newRow("Heidenhain text")
        << QByteArray("BEGIN PGM") << QByteArray("0 BEGIN PGM BRIDE_2 MM\r\n") << QString() << false
        << 0 << true << QByteArray("BRIDE_2 MM");
    QTest::newRow("comment lines count, default name")
        << QByteArray("O") << QByteArray("(1)\r\n(2)\r\n(3)\r\n(4)\r\n(5)\r\nO77\r\n")
        << u"C:\\PROG\\P0099.NC"_s << true << 0 << false << QByteArray("P0099");
    QTest::newRow("empty file, default name padded")
        << QByteArray("O") << QByteArray("") << u"/prog/7.iso"_s << false << 4 << false
        << QByteArray("0007");
    QTest::newRow("nothing at all") << QByteArray("O") << QByteArray("N10 G0\r\n") << QString()
                                    << true << 4 << true << QByteArray();
}

void TestProgramHeader::readProgramNumber()
{
    QFETCH(QByteArray, carDebProg);
    QFETCH(QByteArray, input);
    QFETCH(QString, defaultName);
    QFETCH(bool, withPrefix);
    QFETCH(int, width);
    QFETCH(bool, textMode);
    QFETCH(QByteArray, number);
    Config().CarDebProg = carDebProg;
    Config().CarDebCom = "(";
    const QString file = m_fx.write(u"P.NC"_s, input);
    QCOMPARE(ReadProgramNumber(file, defaultName, withPrefix, width, textMode), number);
}

QTEST_GUILESS_MAIN(TestProgramHeader)
#include "tst_programheader.moc"
