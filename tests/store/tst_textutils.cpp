#include "store/ByteRuns.h"
#include "store/TextUtils.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>

using namespace nodalis;
using namespace Qt::StringLiterals;

class TestTextUtils : public QObject
{
    Q_OBJECT

private slots:
    // Every step this processor can take gives what a plain pass over the
    // text gives, on texts around each step's block length, with blanks and
    // line ends alone, side by side, across blocks and filling them.
    void byteSteps_data()
    {
        QTest::addColumn<int>("step");
        for (ByteStep step : {ByteStep::Word, ByteStep::Shuffle, ByteStep::Compress}) {
            if (CanStep(step))
                QTest::addRow("step %d", int(step)) << int(step);
        }
    }
    void byteSteps()
    {
        QFETCH(int, step);
        QRandomGenerator random(42);
        // Each text draws its bytes from one of these, each byte as often as it stands there.
        const QByteArray alphabets[] = {"X", "XXXXXX ", "XXXX\n", "XX \r\n", "X      \r\n",
                                        " ", " \n",     " \r\n",  "\r\r\n ", "X                "};
        for (int length = 0; length < 300; ++length) {
            for (const QByteArray& alphabet : alphabets) {
                QByteArray text(length, Qt::Uninitialized);
                for (char& c : text)
                    c = alphabet[random.bounded(int(alphabet.size()))];
                QByteArray out(2 * length + 64, Qt::Uninitialized);
                const auto result = [&out](char* end) { return out.left(end - out.constData()); };

                char* const begin = std::copy(text.cbegin(), text.cend(), out.data()) - length;
                QCOMPARE(result(RemoveByte(begin, begin + length, ' ', ByteStep(step))),
                         QByteArray(text).replace(' ', QByteArray()));
                QCOMPARE(
                    result(ExpandLineFeeds(text.cbegin(), text.cend(), out.data(), ByteStep(step))),
                    QByteArray(text).replace("\n", "\r\n"));

                QByteArray trimmed;
                for (qsizetype from = 0;;) {
                    const qsizetype at = text.indexOf("\r\n", from);
                    QByteArray line = text.mid(from, at < 0 ? -1 : at - from);
                    while (line.startsWith(' '))
                        line.remove(0, 1);
                    while (line.endsWith(' '))
                        line.chop(1);
                    trimmed += line;
                    if (at < 0)
                        break;
                    trimmed += "\r\n";
                    from = at + 2;
                }
                QCOMPARE(
                    result(TrimLineEdges(text.cbegin(), text.cend(), out.data(), ByteStep(step))),
                    trimmed);
            }
        }
    }

    void pathParts_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("base");      // BaseNameOf with its extension
        QTest::addColumn<QString>("bare");      // BaseNameOf without it
        QTest::addColumn<QString>("extension"); // ExtensionOf the base
        const auto row = [](const char* name, const QString& path, const QString& folder,
                            const QString& fileName, const QString& base, const QString& bare,
                            const QString& extension) {
            QTest::newRow(name) << path << folder << fileName << base << bare << extension;
        };
        row("mixed, last one wins", u"C:\\Prog/Tour\\P1.NC"_s, u"C:\\Prog/Tour"_s, u"P1.NC"_s,
            u"P1.NC"_s, u"P1"_s, u"NC"_s);
        row("bare name", u"P1.NC"_s, u"P1.NC"_s, u"P1.NC"_s, u"P1.NC"_s, u"P1"_s, u"NC"_s);
        row("trailing separator", u"C:\\Prog\\"_s, u"C:\\Prog"_s, QString(), QString(), QString(),
            QString());
        row("two dots", u"/p/A.B.TXT"_s, u"/p"_s, u"A.B.TXT"_s, u"A.B.TXT"_s, u"A.B"_s, u"B.TXT"_s);
        row("dot last", u"/p/A."_s, u"/p"_s, u"A."_s, u"A."_s, u"A"_s, QString());
        row("no dot", u"/p/O1234"_s, u"/p"_s, u"O1234"_s, u"O1234"_s, u"O1234"_s, QString());
        row("drive only", u"A:P1.NC"_s, u"A:P1.NC"_s, u"A:P1.NC"_s, u"P1.NC"_s, u"P1"_s, u"NC"_s);
        row("base trimmed", u"/p/ P1.NC "_s, u"/p"_s, u" P1.NC "_s, u"P1.NC"_s, u"P1"_s, u"NC"_s);
    }

    void pathParts()
    {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QFETCH(QString, fileName);
        QFETCH(QString, base);
        QFETCH(QString, bare);
        QFETCH(QString, extension);
        QCOMPARE(FolderOf(path), folder);
        QCOMPARE(FileNameOf(path), fileName);
        QCOMPARE(BaseNameOf(path, true), base);
        QCOMPARE(BaseNameOf(path, false), bare);
        QCOMPARE(ExtensionOf(base), extension);
    }

    void withTrailingBackslash()
    {
        QCOMPARE(WithTrailingBackslash(u"   "_s), QString());
        QCOMPARE(WithTrailingBackslash(u"  /srv/prog  "_s), u"/srv/prog"_s + QDir::separator());
        QCOMPARE(WithTrailingBackslash(u"C:\\Prog\\"_s), u"C:\\Prog\\"_s);
        QCOMPARE(WithTrailingBackslash(u"/srv/prog/ "_s), u"/srv/prog/"_s);
    }

    void formatValue()
    {
        QCOMPARE(FormatValue(Q_INT64_C(5000000000)), QByteArray("5000000000"));
        QCOMPARE(FormatValue(42.0), QByteArray("42"));
        QCOMPARE(FormatValue(0.1), QByteArray("0.1")); // the shortest form
        QCOMPARE(FormatValue(-0.0), QByteArray("0"));
    }

    // Program codes: filled with zeros on the left, never cut.
    void pad()
    {
        QCOMPARE(Pad("42", 5, PadRight, "0"), QByteArray("00042"));
        QCOMPARE(Pad("123456", 5, PadRight, "0"), QByteArray("123456"));
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
        row("accented start any case", "(D\xc9SIGNATION: axe)", "d\xe9signation: ", ")", "axe");
        row("end before start ignored", "a) b (c) d", "(", ")", "c");
        row("no end marker", "NAME=AXE 12", "name=", ";", "AXE 12");
        row("start missing", "N10 G0", "(", ")", "");
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
