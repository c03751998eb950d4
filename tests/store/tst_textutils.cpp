#include "store/TextUtils.h"

#include <QDir>
#include <QTest>

using namespace nodalis;
using namespace Qt::StringLiterals;

class TestTextUtils : public QObject
{
    Q_OBJECT

private slots:
    void pathParts_data();
    void pathParts();
    void withTrailingBackslash_data();
    void withTrailingBackslash();
    void baseAndExtension_data();
    void baseAndExtension();
    void formatValue_data();
    void formatValue();
    void pad_data();
    void pad();
    void textBetween_data();
    void textBetween();
    void afterMarker_data();
    void afterMarker();
};

void TestTextUtils::pathParts_data()
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

void TestTextUtils::pathParts()
{
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QFETCH(QString, fileName);
    QCOMPARE(FolderOf(path), folder);
    QCOMPARE(FileNameOf(path), fileName);
}

void TestTextUtils::withTrailingBackslash_data()
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

void TestTextUtils::withTrailingBackslash()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(WithTrailingBackslash(path), expected);
}

void TestTextUtils::baseAndExtension_data()
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

void TestTextUtils::baseAndExtension()
{
    QFETCH(QString, path);
    QFETCH(QString, withExtension);
    QFETCH(QString, withoutExtension);
    QFETCH(QString, extension);
    QCOMPARE(BaseNameOf(path, true), withExtension);
    QCOMPARE(BaseNameOf(path, false), withoutExtension);
    QCOMPARE(ExtensionOf(withExtension), extension);
}

void TestTextUtils::formatValue_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("int") << FormatValue(42) << QByteArrayLiteral("42");
    QTest::newRow("negative short") << FormatValue(qint16(-7)) << QByteArrayLiteral("-7");
    QTest::newRow("64-bit") << FormatValue(Q_INT64_C(5000000000))
                            << QByteArrayLiteral("5000000000");
    QTest::newRow("fraction") << FormatValue(1.5) << QByteArrayLiteral("1.5");
    QTest::newRow("whole double") << FormatValue(42.0) << QByteArrayLiteral("42");
    QTest::newRow("shortest") << FormatValue(0.1) << QByteArrayLiteral("0.1");
    QTest::newRow("negative zero") << FormatValue(-0.0) << QByteArrayLiteral("0");
}

void TestTextUtils::formatValue()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);
    QCOMPARE(text, expected);
}

void TestTextUtils::pad_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("alignment");
    QTest::addColumn<QByteArray>("fill");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("program code") << QByteArray("42") << 5 << PadRight << QByteArray("0")
                                  << QByteArray("00042");
    QTest::newRow("left aligned") << QByteArray("42") << 5 << PadLeft << QByteArray("0")
                                  << QByteArray("42000");
    QTest::newRow("centred, odd") << QByteArray("7") << 4 << 2 << QByteArray("*")
                                  << QByteArray("*7**");
    QTest::newRow("centred, even")
        << QByteArray("77") << 6 << 0 << QByteArray("*") << QByteArray("**77**");
    QTest::newRow("blank fill") << QByteArray("X") << 3 << PadRight << QByteArray()
                                << QByteArray("  X");
    QTest::newRow("first fill char")
        << QByteArray("X") << 3 << PadLeft << QByteArray("-+") << QByteArray("X--");
    QTest::newRow("equal width") << QByteArray("12345") << 5 << PadRight << QByteArray("0")
                                 << QByteArray("12345");
    QTest::newRow("longer") << QByteArray("123456") << 5 << PadRight << QByteArray("0")
                            << QByteArray("123456");
}

void TestTextUtils::pad()
{
    QFETCH(QByteArray, text);
    QFETCH(int, width);
    QFETCH(int, alignment);
    QFETCH(QByteArray, fill);
    QFETCH(QByteArray, expected);
    QCOMPARE(Pad(text, width, alignment, fill), expected);
}

void TestTextUtils::textBetween_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("end");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("simple") << QByteArray("%O1234(PIECE A)\r\n") << QByteArray("(")
                            << QByteArray(")") << QByteArray("PIECE A");
    QTest::newRow("start any case") << QByteArray("N10 (Nom=BRIDE)") << QByteArray("NOM=")
                                    << QByteArray(")") << QByteArray("BRIDE");
    QTest::newRow("accented start any case")
        << QByteArray("(D\xc9SIGNATION: axe)") << QByteArray("d\xe9signation: ") << QByteArray(")")
        << QByteArray("axe");
    QTest::newRow("end exact case")
        << QByteArray("[A]x]X") << QByteArray("[") << QByteArray("X") << QByteArray("A]x]");
    QTest::newRow("end before start ignored")
        << QByteArray("a) b (c) d") << QByteArray("(") << QByteArray(")") << QByteArray("c");
    QTest::newRow("no end marker") << QByteArray("NAME=AXE 12") << QByteArray("name=")
                                   << QByteArray(";") << QByteArray("AXE 12");
    QTest::newRow("empty end marker")
        << QByteArray("NAME=AXE") << QByteArray("NAME=") << QByteArray() << QByteArray("AXE");
    QTest::newRow("end overlaps start")
        << QByteArray("xABy") << QByteArray("AB") << QByteArray("B") << QByteArray();
    QTest::newRow("start missing")
        << QByteArray("N10 G0") << QByteArray("(") << QByteArray(")") << QByteArray();
    QTest::newRow("empty start") << QByteArray("N10 G0") << QByteArray() << QByteArray(")")
                                 << QByteArray();
}

void TestTextUtils::textBetween()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, end);
    QFETCH(QByteArray, expected);
    QCOMPARE(TextBetween(text, start, end), expected);
}

void TestTextUtils::afterMarker_data()
{
    QTest::addColumn<QByteArray>("text"); // the marker is "X="
    QTest::addColumn<bool>("valueFound");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("numberFound");
    QTest::addColumn<double>("number");

    QTest::newRow("name") << QByteArray("(X=AB_2-C;") << true << QByteArray("AB_2-C") << false
                          << 0.0;
    QTest::newRow("blanks and comma")
        << QByteArray("X= 1 2,5 mm") << true << QByteArray(" 1 2.5 ") << true << 12.5;
    QTest::newRow("negative") << QByteArray("X=-3.5Y") << true << QByteArray("-3.5Y") << true
                              << -3.5;
    QTest::newRow("underscore ends the number")
        << QByteArray("X=12_5") << true << QByteArray("12_5") << true << 12.0;
    QTest::newRow("lower case") << QByteArray("X=abc") << false << QByteArray("0") << false << 0.0;
    QTest::newRow("only blanks") << QByteArray("X=   )") << true << QByteArray("   ") << false
                                 << 0.0;
    QTest::newRow("marker exact case")
        << QByteArray("x=5") << false << QByteArray("0") << false << 0.0;
    QTest::newRow("first marker") << QByteArray("X=1;X=2") << true << QByteArray("1") << true
                                  << 1.0;
    QTest::newRow("nothing after") << QByteArray("X=") << false << QByteArray("0") << false << 0.0;
}

void TestTextUtils::afterMarker()
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

QTEST_GUILESS_MAIN(TestTextUtils)
#include "tst_textutils.moc"
