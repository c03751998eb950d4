#include "ProgramTextFixture.h"
#include "dnc/ProgramHeader.h"

using namespace nodalis;
using namespace nodalis::testing;
using namespace Qt::StringLiterals;

namespace {

// An ISO program with the suite's header block: one call line and one line
// per field, each marked by "(*"; and the program's code.
const QByteArray kHeaded = "%\r\n"
                           "(*CARTOUCHE ORVA 4711*)\r\n"
                           "(*ORVA MACHINE: DMU50...*)\r\n"
                           "(*ORVA PIECE: BRIDE-12*)\r\n"
                           "(*ORVA PROG: 1234*)\r\n"
                           "(*ORVA CLIENT: DUPONT & FILS*)\r\n"
                           "(*ORVA CODE 98765*)\r\n"
                           "O1234 (BRIDE SUPPORT)\r\n"
                           "(;CODE PROGRAMME  Ab_12.5-C (V2)\r\n"
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
    // The header's fields, and the code after ";CODE PROGRAMME" (first line
    // wins, in capitals only) read by ReadProgramCode.
    void readHeader_data()
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
        QTest::addColumn<QByteArray>("programCode");
        const auto row = [](const char* name, bool cml, const QByteArray& input, bool read,
                            const QByteArray& fields, const char* machine = "",
                            const char* call = "", double code = 0, const char* programCode = "") {
            QTest::newRow(name) << cml << input << read << fields << QByteArray(machine)
                                << QByteArray(call) << code << QByteArray(programCode);
        };
        row("header lines", false, kHeaded, true, "  BRIDE-12||  DUPONT & FILS", "DMU50", "4711",
            98765, "Ab_12.5-C");
        row("keys in any case, first line wins", false,
            "(*x Piece: CARTER*)\r\n(*x PIECE: AUTRE*)\r\n(*x machine:VM 10*)\r\n"
            ";CODE PROGRAMME 7\r\n;CODE PROGRAMME 8\r\n",
            true, "  CARTER||", "VM 10", "", 0, "7");
        row("only the text before the last marker", false,
            "(*x CLIENT: ACME*  PIECE: NON*)\r\n(x PIECE: SANS MARQUE)\r\n;code programme 7\r\n",
            true, "  NON||  ACME");
        row("twenty lines at most", false,
            QByteArray(20, '\n').replace("\n", "N1\r\n") + "(*x PIECE: TARD*)\r\n", true, "||");
        const QByteArray orva =
            commentBlock({"ORVA", "* MACHINE: VM10", "* PIECE: SUPPORT-3", "* CODE 55",
                          "* CLIENT: FRAN\xe7"
                          "AISE \xe9T\xe9"});
        row("Hurco: last ORVA block", true,
            hurco(commentBlock({"ORVA", "* PIECE: ANCIEN"}) + orva +
                  commentBlock({"NOTE", "* PIECE: PAS ORVA"})),
            true,
            "  SUPPORT-3||  FRAN\xe7"
            "AISE",
            "VM10");
        row("Hurco: no ORVA block", true, hurco(commentBlock({"* PIECE: X"})), true, "||");
        row("Hurco: malformed", true, hurco(orva).replace("</DataBlocks>", ""), false, "||");
        row("missing file", false, QByteArray(), false, "||");
    }

    void readHeader()
    {
        QFETCH(bool, cml);
        QFETCH(QByteArray, input);
        QFETCH(bool, read);
        QFETCH(QByteArray, fields);
        QFETCH(QByteArray, machine);
        QFETCH(QByteArray, call);
        QFETCH(double, code);
        QFETCH(QByteArray, programCode);
        useHeaderFields();
        Config().CML = cml;
        const QString file =
            input.isNull() ? m_fx.path(u"none.NC"_s) : m_fx.write(u"P.NC"_s, input);
        const HeaderValues values = ReadHeader(file);
        QCOMPARE(values.read, read);
        QCOMPARE(values.Fields.size(), 4);
        QCOMPARE(values.Fields.mid(1), fields.split('|'));
        QCOMPARE(values.Machine, machine);
        QCOMPARE(values.Call, call);
        QCOMPARE(values.CodeProg, code);
        QCOMPARE(ReadProgramCode(file), programCode);
    }

    void readProgramNumber_data()
    {
        QTest::addColumn<QByteArray>("carDebProg");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("defaultName");
        QTest::addColumn<bool>("withPrefix");
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("textMode");
        QTest::addColumn<QByteArray>("number");
        const auto row = [](const char* name, const char* carDebProg, const QByteArray& input,
                            const QString& defaultName, bool withPrefix, int width, bool textMode,
                            const char* number) {
            QTest::newRow(name) << QByteArray(carDebProg) << input << defaultName << withPrefix
                                << width << textMode << QByteArray(number);
        };
        const QByteArray fanuc = "%\r\nO0042 (FLASQUE)\r\nN10 G90\r\n";
        row("numeric, padded, prefixed", "O|%", fanuc, {}, true, 5, false, "O00042");
        // A start character with no name after it does not count.
        row("text: zeros kept, any case", "O|%", "%\r\no012ab-3 (X)\r\n", {}, true, 0, true,
            "O012ab-3");
        row("second alternative", "O|%", "%1234\r\n", {}, true, 0, false, "%1234");
        row("Heidenhain numeric", "BEGIN PGM", "0 BEGIN PGM 1234 MM\r\n1 END PGM 1234 MM\r\n", {},
            false, 0, false, "1234");
        row("Heidenhain text", "BEGIN PGM", "0 BEGIN PGM BRIDE_2 MM\r\n", {}, false, 0, true,
            "BRIDE_2 MM");
        row("comment lines count, default name", "O", "(1)\r\n(2)\r\n(3)\r\n(4)\r\n(5)\r\nO77\r\n",
            u"C:\\PROG\\P0099.NC"_s, true, 0, false, "P0099");
        row("empty file, default name padded", "O", "", u"/prog/7.iso"_s, false, 4, false, "0007");
        row("nothing at all", "O", "N10 G0\r\n", {}, true, 4, true, "");
    }

    void readProgramNumber()
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

private:
    ProgramTextFixture m_fx;
};

QTEST_GUILESS_MAIN(TestProgramHeader)
#include "tst_programheader.moc"
