// Framing of the control link: building messages, cutting arrivals into
// commands, the number a notification carries.

#include "dnc/ControlProtocol.h"

#include <QTest>

using namespace nodalis;

using Lines = QList<QPair<QByteArray, QByteArray>>;

class TestControlProtocol : public QObject
{
    Q_OBJECT

private slots:
    // Arrivals of one client through a line assembler that takes lines of
    // up to 32 bytes.
    void split_data()
    {
        QTest::addColumn<QByteArray>("arrival");
        QTest::addColumn<Lines>("expected");

        QTest::newRow("one command") << QByteArray("Info:PING|\r\n") << Lines{{"PING", ""}};
        QTest::newRow("no CR LF, nothing") << QByteArray("Info:PING|") << Lines{};
        QTest::newRow("LF alone is no line end") << QByteArray("Info:PING|\n") << Lines{};
        QTest::newRow("two in one arrival, in order")
            << QByteArray("Info:H|\r\nInfo:V|\r\n") << Lines{{"H", ""}, {"V", ""}};
        QTest::newRow("unterminated tail waits")
            << QByteArray("Info:H|\r\nInfo:T|Arg:PRO") << Lines{{"H", ""}};
        // "#" marks where TCP cut the stream.
        QTest::newRow("command cut in two") << QByteArray("Info:PI#NG|\r\n") << Lines{{"PING", ""}};
        QTest::newRow("CR LF cut in two")
            << QByteArray("Info:PING|\r#\nInfo:H|\r\n") << Lines{{"PING", ""}, {"H", ""}};
        QTest::newRow("line of the limit, its CR apart from its LF")
            << QByteArray("Info:T|Arg:01234567890123456789|\r#\n")
            << Lines{{"T", "01234567890123456789"}};
        QTest::newRow("over-long line dropped whole, the next one kept")
            << QByteArray("Info:T|Arg:0123456789#0123456789#0123456789|\r\nInfo:H|\r\n")
            << Lines{{"H", ""}};
        QTest::newRow("empty lines dropped")
            << QByteArray("\r\n\r\nInfo:L|\r\n\r\n") << Lines{{"L", ""}};
        QTest::newRow("markers in any case") << QByteArray("info:PING|\r\nINFO:T|aRg:P1<>|\r\n")
                                             << Lines{{"PING", ""}, {"T", "P1<>"}};
        QTest::newRow("keyword case kept") << QByteArray("Info:ping|\r\n") << Lines{{"ping", ""}};
        QTest::newRow("one-character line is its keyword")
            << QByteArray("E\r\n") << Lines{{"E", ""}};
        QTest::newRow("arguments before keyword")
            << QByteArray("Arg:a<>b<>|Info:T|\r\n") << Lines{{"T", "a<>b<>"}};
        QTest::newRow("missing bar gives empty fields")
            << QByteArray("Info:PING\r\nInfo:T|Arg:x\r\n") << Lines{{"", ""}, {"T", ""}};
        QTest::newRow("no markers") << QByteArray("hello\r\n") << Lines{{"", ""}};
        QTest::newRow("binary noise")
            << QByteArray("\x00\xff|Info:\x01|\r\n", 12) << Lines{{"\x01", ""}};
    }

    void split()
    {
        QFETCH(QByteArray, arrival);
        QFETCH(Lines, expected);
        LineAssembler assembler(32);
        Lines got;
        for (const QByteArray& piece : arrival.split('#')) {
            for (const QByteArray& line : assembler.add(piece)) {
                const ControlLine l = ParseLine(line);
                got.append({l.keyword, l.arguments});
            }
        }
        QCOMPARE(got, expected);
    }

    void build_data()
    {
        QTest::addColumn<QByteArray>("keyword");
        QTest::addColumn<QList<QByteArray>>("arguments");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("no argument")
            << QByteArray("OK") << QList<QByteArray>{} << QByteArray("Info:OK|");
        QTest::newRow("status") << QByteArray("{i}") << QList<QByteArray>{"X"}
                                << QByteArray("Info:{i}|Arg:X<>|");
        QTest::newRow("arguments trimmed of spaces")
            << QByteArray("{t}") << QList<QByteArray>{"  a ", "\tb"}
            << QByteArray("Info:{t}|Arg:a<>\tb<>|");
        QTest::newRow("empty argument")
            << QByteArray("{b}") << QList<QByteArray>{""} << QByteArray("Info:{b}|Arg:<>|");
    }

    void build()
    {
        QFETCH(QByteArray, keyword);
        QFETCH(QList<QByteArray>, arguments);
        QFETCH(QByteArray, expected);
        QCOMPARE(BuildInfoMessage(keyword, arguments), expected);
    }

    void argumentList()
    {
        QCOMPARE(ArgumentList("a<>b<>"), (QList<QByteArray>{"a", "b", ""}));
        QCOMPARE(ArgumentList("a"), (QList<QByteArray>{"a"}));
        QCOMPARE(ArgumentList(""), (QList<QByteArray>{""}));
    }

    void messageNumber_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("placeholder");
        QTest::addColumn<int>("number");
        QTest::newRow("framed state") << QByteArray("Info:{a}|Arg:3<>|") << QByteArray("{a}") << 3;
        QTest::newRow("raw state") << QByteArray("{a} 2") << QByteArray("{a}") << 2;
        QTest::newRow("negative") << QByteArray("Info:{a}|Arg:-1<>|") << QByteArray("{a}") << -1;
        QTest::newRow("framed percentage")
            << QByteArray("Info:{%}|Arg:57<>|") << QByteArray("{%}") << 57;
        QTest::newRow("not a number")
            << QByteArray("Info:{%}|Arg:abc<>|") << QByteArray("{%}") << 0;
    }

    void messageNumber()
    {
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, placeholder);
        QFETCH(int, number);
        QCOMPARE(MessageNumber(message, placeholder), number);
    }
};

QTEST_GUILESS_MAIN(TestControlProtocol)
#include "tst_controlprotocol.moc"
