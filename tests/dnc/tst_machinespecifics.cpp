#include "ProgramTextFixture.h"
#include "dnc/ChannelFiles.h"
#include "dnc/MachineSpecifics.h"
#include "dnc/MazakTable.h"
#include "platform/Clock.h"

using namespace nodalis;
using namespace nodalis::testing;
using namespace Qt::StringLiterals;

class TestMachineSpecifics : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Clock::setScale(0.01); }
    void init() { m_fx.reset(); }
    // What the machine family (and, on group-3 machines, the first program
    // sent last) does to a text.
    void specifics_data()
    {
        QTest::addColumn<QByteArray>("specificite");
        QTest::addColumn<int>("group");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("expected"); // null: left alone by MoveFirstProgramLast
        QTest::addColumn<QByteArray>("checksum");
        const auto row = [](const char* name, const char* specificite, const QByteArray& input,
                            const QByteArray& expected, const char* checksum = "", int group = 0) {
            QTest::newRow(name) << QByteArray(specificite) << group << input << expected
                                << QByteArray(checksum);
        };
        // The N lines add up to 527 + 440 + 267 = 1234; the others do not count.
        const QByteArray dialog =
            "%\r\nO1000 (DIALOG3)\r\nN10 G90 G54\r\nN20 T1 M6\r\n (N1)\r\nN30 Z\r\n%";
        row("DIALOG3", " dialog3 ", dialog, dialog, "04D2");
        const QByteArray big = "N" + QByteArray(776, 'Z') + "R\r\n"; // 70000
        row("DIALOG3 last four digits", "DIALOG3", big, big, "1170");
        row("DIALOG3 no N line", "DIALOG3", "%\r\nO1\r\n", "%\r\nO1\r\n", "0000");
        const QByteArray pad(15, ' ');
        row("BOSCH", "Bosch", "%\r\nO1000\r\nN10 G0 %\r\n%\r\n",
            "  %" + pad + "\r\nO1000\r\nN10 G0   %" + pad + "\r\n  %" + pad + "\r\n\r\n");
        row("BOSCH untrimmed first line", "BOSCH", " O1000 \r\nM30\r\n O1000 ",
            "  O1000" + pad + "\r\nM30\r\n  O1000" + pad + "\r\n");
        row("BOSCH empty first line", "BOSCH", "\r\nO1\r\n", "\r\nO1\r\n");
        row("BROTHER_%S", "brother_%s",
            "%S O0010 (BRIDE)\r\nG90 G54\r\n%S O0020\r\nO0020 (DEJA)\r\n%S\r\nM30\r\n%S O3",
            "%S O0010 (BRIDE)\r\nO0010\r\nG90 G54\r\n%S O0020\r\nO0020 (DEJA)\r\n%S\r\nM30\r\n"
            "%S O3\r\n");
        row("other machine", "FANUC", "%\r\nO1\r\n%", QByteArray());

        row("moved: two programs", "", "%\r\nO1000\r\nG0 X0\r\nM30\r\nO2000\r\nM30\r\n%\r\n",
            "%\r\nO2000\r\nM30\r\nO1000\r\nG0 X0\r\nM30\r\n%\r\n", "", 3);
        row("moved: M30 and a digit and more is no end", "",
            "%\r\nO1000\r\nM301 X5\r\nM305\r\n:2000\r\nM99\r\n%\r\n",
            "%\r\n:2000\r\nM99\r\nO1000\r\nM301 X5\r\nM305\r\n%\r\n", "", 3);
        row("moved: comments and lines between programs", "",
            "%\r\nO1 (ESSAI)\r\nG0 (M30 PAS ICI)\r\nM02\r\n(ENTRE)\r\n%\r\nO2\r\nM30\r\n%\r\n",
            "%\r\nO2\r\nM30\r\nO1 (ESSAI)\r\nG0 (M30 PAS ICI)\r\nM02\r\n%\r\n", "", 3);
        row("moved: single program", "", "%\r\nO1\r\nM30\r\n%", "%\r\nO1\r\nM30\r\n%\r\n", "", 3);
        row("moved: no end", "", "%\r\nO1\r\nG0\r\n", QByteArray(), "", 3);
        row("moved: no program", "", "%\r\nG0\r\n", QByteArray(), "", 3);
        row("moved: other group", "", "O1\r\nM30\r\nO2\r\nM30\r\n", QByteArray(), "", 2);
    }

    void specifics()
    {
        QFETCH(QByteArray, specificite);
        QFETCH(int, group);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);
        QFETCH(QByteArray, checksum);
        Config().CodeGroupCN = group;
        ChannelChecksum().clear();
        const QString file = m_fx.write(u"Send/ToCN.txt"_s, input);
        // The order of a send: the first program moved, then the send specifics.
        QCOMPARE(MoveFirstProgramLast(file), group == 3 && !expected.isNull());
        QVERIFY(ApplySendSpecifics(file, specificite));
        QVERIFY(ApplyReceiveSpecifics(file, specificite));
        QCOMPARE(m_fx.read(file), expected.isNull() ? input : expected);
        QCOMPARE(ChannelChecksum(), checksum);
        if (!checksum.isEmpty())
            QCOMPARE(Dialog3Trailer("\r\n"), "?\r\n" + checksum + "\r\n");
    }

    void mazakTable_data()
    {
        QTest::addColumn<QByteArray>("table");   // null: no table
        QTest::addColumn<QByteArray>("request"); // FileName|TableValue|CallText|offered
        QTest::addColumn<QByteArray>("after");
        const auto row = [](const char* name, const QByteArray& table, const char* request,
                            const char* after) {
            QTest::newRow(name) << table << QByteArray(request) << QByteArray(after);
        };
        row("call", "8888.MAZ\t1234\r\n8889.MAZ\t0\r\n1234.MAZ\t17\r\n", "8888.MAZ|1234|1234|",
            "8888.MAZ\t0\r\n8889.MAZ\t0\r\n1234.MAZ\t17\r\n");
        row("upload", "8888.MAZ\t0\r\n8889.MAZ\t 55 \r\n55.maz\t3\r\n", "55.MAZ|3||55.MAZ 55",
            "8888.MAZ\t0\r\n8889.MAZ\t0\r\n55.maz\t3\r\n");
        row("call first, upload kept", "8889.MAZ\t55\r\n8888.maz\t7\r\n", "8888.MAZ|7|7|",
            "8889.MAZ\t55\r\n8888.MAZ\t0\r\n");
        row("odd lines", "\t5\r\nGARBAGE\r\n\r\n8888.MAZ\tX\r\n8888.MAZ\t12", "8888.MAZ|12|12|",
            "\t5\r\nGARBAGE\r\n\r\n8888.MAZ\tX\r\n8888.MAZ\t0\r\n");
        row("no request", "8888.MAZ\t0\r\n8889.MAZ\t0", "|||", "8888.MAZ\t0\r\n8889.MAZ\t0");
        row("no table", QByteArray(), "|||", "<missing>");
    }

    void mazakTable()
    {
        QFETCH(QByteArray, table);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, after);
        const QString path = m_fx.path(u"mazak/Index.tbl"_s);
        if (!table.isNull())
            m_fx.write(u"mazak/Index.tbl"_s, table);
        const MazakRequest r = ReadMazakTable(path);
        QByteArray offered;
        for (const auto& file : r.Offered)
            offered += file.FileName + ' ' + file.Number;
        QCOMPARE(r.FileName + '|' + r.TableValue + '|' + r.CallText + '|' + offered, request);
        QCOMPARE(r.IsCall, !r.CallText.isEmpty());
        QCOMPARE(m_fx.read(path), after);
        QCOMPARE(m_fx.loggedEvents().contains(360), table.isNull());
    }

    void channelFileNames_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("table");
        QTest::addColumn<QStringList>("names");
        const QString h = u"C:\\P\\O1234.H"_s;
        QTest::newRow("fixed extensions")
            << h << 2 << false << QStringList{u"C:\\P\\O1234.m"_s, u"C:\\P\\O1234.s"_s};
        QTest::newRow("one channel") << h << 1 << false << QStringList{h};
        QTest::newRow("five channels, no names") << h << 5 << false << QStringList();
        QTest::newRow("channel table")
            << u"C:\\P\\1234.H"_s << 3 << true
            << QStringList{u"C:\\P\\O1234.MIN"_s, u"C:\\P\\O1234.SUB"_s, u"C:\\P\\1234"_s};
        QTest::newRow("folder with a dot") << u"/cn/v1.2/P7"_s << 2 << false
                                           << QStringList{u"/cn/v1.2/P7.m"_s, u"/cn/v1.2/P7.s"_s};
        QTest::newRow("targets") << QString() << 2 << false << QStringList{u".m"_s, u".s"_s};
    }

    void channelFileNames()
    {
        QFETCH(QString, path);
        QFETCH(int, count);
        QFETCH(bool, table);
        QFETCH(QStringList, names);
        // Channel 2 appears twice: the last line wins. Channel 3 has no line.
        Config().Canaux = {"", "Canal1=Canal:1|Pref:O|Suff:.MIN", "Canal2=Canal:2|Pref:X|Suff:.old",
                           "Canal2b=Canal: 2 | Pref:O | Suff:.SUB"};
        const QStringList list = ChannelFileNames(path, count, table);
        QCOMPARE(list.mid(1), names);
        if (!names.isEmpty())
            QCOMPARE(list.value(0), QString());
        QCOMPARE(ChannelLabel(path, 1), path);
        QCOMPARE(ChannelLabel(u"Send/ToCN.txt"_s, 3), u"Send/ToCN.txt3"_s);
    }

private:
    ProgramTextFixture m_fx;
};

QTEST_GUILESS_MAIN(TestMachineSpecifics)
#include "tst_machinespecifics.moc"
