#include "store/TextUtils.h"

#include <QDir>
#include <QTest>

using namespace nodalis;
using namespace Qt::StringLiterals;

class TestTextUtils : public QObject
{
    Q_OBJECT

private slots:
    void pathParts_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("windows") << u"C:\\Prog\\Tour\\P1.NC"_s << u"C:\\Prog\\Tour"_s << u"P1.NC"_s;
        QTest::newRow("linux") << u"/srv/prog/P1.NC"_s << u"/srv/prog"_s << u"P1.NC"_s;
        QTest::newRow("mixed, last one wins")
            << u"C:\\Prog/Tour\\P1.NC"_s << u"C:\\Prog/Tour"_s << u"P1.NC"_s;
        QTest::newRow("bare name") << u"P1.NC"_s << u"P1.NC"_s << u"P1.NC"_s;
        QTest::newRow("trailing separator") << u"C:\\Prog\\"_s << u"C:\\Prog"_s << QString();
    }

    void pathParts()
    {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QFETCH(QString, fileName);
        QCOMPARE(FolderOf(path), folder);
        QCOMPARE(FileNameOf(path), fileName);
    }

    void withTrailingBackslash_data()
    {
        const QString sep = QDir::separator();
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("blank stays empty") << u"   "_s << QString();
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("adds native separator") << u"/srv/prog"_s << u"/srv/prog"_s + sep;
        QTest::newRow("trimmed first") << u"  /srv/prog  "_s << u"/srv/prog"_s + sep;
        QTest::newRow("backslash kept") << u"C:\\Prog\\"_s << u"C:\\Prog\\"_s;
        QTest::newRow("slash kept") << u"/srv/prog/ "_s << u"/srv/prog/"_s;
    }

    void withTrailingBackslash()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(WithTrailingBackslash(path), expected);
    }

    void baseAndExtension_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("withExtension");
        QTest::addColumn<QString>("withoutExtension");
        QTest::addColumn<QString>("extension"); // of the file name
        QTest::newRow("plain") << u"C:\\Prog\\P1.NC"_s << u"P1.NC"_s << u"P1"_s << u"NC"_s;
        QTest::newRow("two dots") << u"/p/A.B.TXT"_s << u"A.B.TXT"_s << u"A.B"_s << u"B.TXT"_s;
        QTest::newRow("dot last") << u"/p/A."_s << u"A."_s << u"A"_s << QString();
        QTest::newRow("no dot") << u"/p/O1234"_s << u"O1234"_s << u"O1234"_s << QString();
        QTest::newRow("drive only") << u"A:P1.NC"_s << u"P1.NC"_s << u"P1"_s << u"NC"_s;
        QTest::newRow("blanks trimmed") << u"/p/ P1.NC "_s << u"P1.NC"_s << u"P1"_s << u"NC"_s;
    }

    void baseAndExtension()
    {
        QFETCH(QString, path);
        QFETCH(QString, withExtension);
        QFETCH(QString, withoutExtension);
        QFETCH(QString, extension);
        QCOMPARE(BaseNameOf(path, true), withExtension);
        QCOMPARE(BaseNameOf(path, false), withoutExtension);
        QCOMPARE(ExtensionOf(withExtension), extension);
    }

    void formatValue()
    {
        QCOMPARE(FormatValue(42), QByteArray("42"));
        QCOMPARE(FormatValue(qint16(-7)), QByteArray("-7"));
        QCOMPARE(FormatValue(Q_INT64_C(5000000000)), QByteArray("5000000000"));
        QCOMPARE(FormatValue(1.5), QByteArray("1.5"));
        QCOMPARE(FormatValue(42.0), QByteArray("42"));
        QCOMPARE(FormatValue(0.1), QByteArray("0.1")); // the shortest form
        QCOMPARE(FormatValue(-0.0), QByteArray("0"));
    }

    void pad_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("alignment");
        QTest::addColumn<QByteArray>("fill");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* name, const char* text, int width, int alignment,
                            const char* fill, const char* expected) {
            QTest::newRow(name) << QByteArray(text) << width << alignment << QByteArray(fill)
                                << QByteArray(expected);
        };
        row("program code", "42", 5, PadRight, "0", "00042");
        row("left aligned", "42", 5, PadLeft, "0", "42000");
        row("centred, odd", "7", 4, 2, "*", "*7**");
        row("centred, even", "77", 6, 0, "*", "**77**");
        row("blank fill", "X", 3, PadRight, "", "  X");
        row("first fill char", "X", 3, PadLeft, "-+", "X--");
        row("equal width", "12345", 5, PadRight, "0", "12345");
        row("longer", "123456", 5, PadRight, "0", "123456");
    }

    void pad()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, width);
        QFETCH(int, alignment);
        QFETCH(QByteArray, fill);
        QFETCH(QByteArray, expected);
        QCOMPARE(Pad(text, width, alignment, fill), expected);
    }

    void textBetween_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<QByteArray>("end");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* name, const char* text, const char* start, const char* end,
                            const char* expected) {
            QTest::newRow(name) << QByteArray(text) << QByteArray(start) << QByteArray(end)
                                << QByteArray(expected);
        };
        row("simple", "%O1234(PIECE A)\r\n", "(", ")", "PIECE A");
        row("start any case", "N10 (Nom=BRIDE)", "NOM=", ")", "BRIDE");
        row("accented start any case", "(D\xc9SIGNATION: axe)", "d\xe9signation: ", ")", "axe");
        row("end exact case", "[A]x]X", "[", "X", "A]x]");
        row("end before start ignored", "a) b (c) d", "(", ")", "c");
        row("no end marker", "NAME=AXE 12", "name=", ";", "AXE 12");
        row("empty end marker", "NAME=AXE", "NAME=", "", "AXE");
        row("end overlaps start", "xABy", "AB", "B", "");
        row("start missing", "N10 G0", "(", ")", "");
        row("empty start", "N10 G0", "", ")", "");
    }

    void textBetween()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, start);
        QFETCH(QByteArray, end);
        QFETCH(QByteArray, expected);
        QCOMPARE(TextBetween(text, start, end), expected);
    }

    void afterMarker_data()
    {
        QTest::addColumn<QByteArray>("text"); // the marker is "X="
        QTest::addColumn<bool>("valueFound");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("numberFound");
        QTest::addColumn<double>("number");
        const auto row = [](const char* name, const char* text, bool valueFound, const char* value,
                            bool numberFound, double number) {
            QTest::newRow(name) << QByteArray(text) << valueFound << QByteArray(value)
                                << numberFound << number;
        };
        row("name", "(X=AB_2-C;", true, "AB_2-C", false, 0);
        row("blanks and comma", "X= 1 2,5 mm", true, " 1 2.5 ", true, 12.5);
        row("negative", "X=-3.5Y", true, "-3.5Y", true, -3.5);
        row("underscore ends the number", "X=12_5", true, "12_5", true, 12);
        row("lower case", "X=abc", false, "0", false, 0);
        row("only blanks", "X=   )", true, "   ", false, 0);
        row("marker exact case", "x=5", false, "0", false, 0);
        row("first marker", "X=1;X=2", true, "1", true, 1);
        row("nothing after", "X=", false, "0", false, 0);
    }

    void afterMarker()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, valueFound);
        QFETCH(QByteArray, value);
        QFETCH(bool, numberFound);
        QFETCH(double, number);
        QByteArray gotValue = "unchanged";
        double gotNumber = -99;
        QCOMPARE(ValueAfterMarker(text, "X=", gotValue), valueFound);
        QCOMPARE(gotValue, value);
        QCOMPARE(NumberAfterMarker(text, "X=", gotNumber), numberFound);
        QCOMPARE(gotNumber, number);
    }
};

QTEST_GUILESS_MAIN(TestTextUtils)
#include "tst_textutils.moc"
