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
    void specifics_data();
    void specifics();
    void moveFirstProgramLast_data();
    void moveFirstProgramLast();
    void mazakTable_data();
    void mazakTable();
    void channelFileNames_data();
    void channelFileNames();

private:
    ProgramTextFixture m_fx;
};

void TestMachineSpecifics::specifics_data()
{
    QTest::addColumn<QByteArray>("specificite");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QByteArray>("checksum");

    // The N lines add up to 527 + 440 + 267 = 1234; the others do not count.
    const QByteArray dialog =
        "%\r\nO1000 (DIALOG3)\r\nN10 G90 G54\r\nN20 T1 M6\r\n (N1)\r\nN30 Z\r\n%";
    QTest::newRow("DIALOG3") << QByteArray(" dialog3 ") << dialog << dialog << QByteArray("04D2");
    const QByteArray big = "N" + QByteArray(776, 'Z') + "R\r\n"; // 70000
    QTest::newRow("DIALOG3 last four digits")
        << QByteArray("DIALOG3") << big << big << QByteArray("1170");
    QTest::newRow("DIALOG3 no N line") << QByteArray("DIALOG3") << QByteArray("%\r\nO1\r\n")
                                       << QByteArray("%\r\nO1\r\n") << QByteArray("0000");
    QTest::newRow("DIALOG3 empty file")
        << QByteArray("DIALOG3") << QByteArray() << QByteArray() << QByteArray("0000");
    QTest::newRow("BOSCH") << QByteArray("Bosch") << QByteArray("%\r\nO1000\r\nN10 G0 %\r\n%\r\n")
                           << "  %" + QByteArray(15, ' ') + "\r\nO1000\r\nN10 G0   %" +
                                  QByteArray(15, ' ') + "\r\n  %" + QByteArray(15, ' ') + "\r\n\r\n"
                           << QByteArray();
    QTest::newRow("BOSCH untrimmed first line")
        << QByteArray("BOSCH") << QByteArray(" O1000 \r\nM30\r\n O1000 ")
        << "  O1000" + QByteArray(15, ' ') + "\r\nM30\r\n  O1000" + QByteArray(15, ' ') + "\r\n"
        << QByteArray();
    QTest::newRow("BOSCH empty first line") << QByteArray("BOSCH") << QByteArray("\r\nO1\r\n")
                                            << QByteArray("\r\nO1\r\n") << QByteArray();
    QTest::newRow("BROTHER_%S")
        << QByteArray("brother_%s")
        << QByteArray(
               "%S O0010 (BRIDE)\r\nG90 G54\r\n%S O0020\r\nO0020 (DEJA)\r\n%S\r\nM30\r\n%S O3")
        << QByteArray("%S O0010 (BRIDE)\r\nO0010\r\nG90 G54\r\n%S O0020\r\nO0020 (DEJA)\r\n%S\r\n"
                      "M30\r\n%S O3\r\n")
        << QByteArray();
    QTest::newRow("other machine") << QByteArray("FANUC") << QByteArray("%\r\nO1\r\n%")
                                   << QByteArray("%\r\nO1\r\n%") << QByteArray();
}

void TestMachineSpecifics::specifics()
{
    QFETCH(QByteArray, specificite);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QFETCH(QByteArray, checksum);
    ChannelChecksum().clear();
    const QString file = m_fx.write(u"Send/ToCN.txt"_s, input);
    QVERIFY(ApplySendSpecifics(file, specificite));
    QVERIFY(ApplyReceiveSpecifics(file, specificite));
    QCOMPARE(m_fx.read(file), expected);
    QCOMPARE(ChannelChecksum(), checksum);
    if (!checksum.isEmpty())
        QCOMPARE(Dialog3Trailer("\r\n"), "?\r\n" + checksum + "\r\n");
}

void TestMachineSpecifics::moveFirstProgramLast_data()
{
    QTest::addColumn<int>("group");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected"); // null: left alone

    QTest::newRow("two programs")
        << 3 << QByteArray("%\r\nO1000\r\nG0 X0\r\nM30\r\nO2000\r\nM30\r\n%\r\n")
        << QByteArray("%\r\nO2000\r\nM30\r\nO1000\r\nG0 X0\r\nM30\r\n%\r\n");
    QTest::newRow("M30 and a digit and more is no end")
        << 3 << QByteArray("%\r\nO1000\r\nM301 X5\r\nM305\r\n:2000\r\nM99\r\n%\r\n")
        << QByteArray("%\r\n:2000\r\nM99\r\nO1000\r\nM301 X5\r\nM305\r\n%\r\n");
    QTest::newRow("comments and lines between programs")
        << 3
        << QByteArray(
               "%\r\nO1 (ESSAI)\r\nG0 (M30 PAS ICI)\r\nM02\r\n(ENTRE)\r\n%\r\nO2\r\nM30\r\n%\r\n")
        << QByteArray("%\r\nO2\r\nM30\r\nO1 (ESSAI)\r\nG0 (M30 PAS ICI)\r\nM02\r\n%\r\n");
    QTest::newRow("single program")
        << 3 << QByteArray("%\r\nO1\r\nM30\r\n%") << QByteArray("%\r\nO1\r\nM30\r\n%\r\n");
    QTest::newRow("no end") << 3 << QByteArray("%\r\nO1\r\nG0\r\n") << QByteArray();
    QTest::newRow("no program") << 3 << QByteArray("%\r\nG0\r\n") << QByteArray();
    QTest::newRow("other group") << 2 << QByteArray("O1\r\nM30\r\nO2\r\nM30\r\n") << QByteArray();
}

void TestMachineSpecifics::moveFirstProgramLast()
{
    QFETCH(int, group);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    Config().CodeGroupCN = group;
    const QString file = m_fx.write(u"Send/ToCN.txt2"_s, input);
    QCOMPARE(MoveFirstProgramLast(file), !expected.isNull());
    QCOMPARE(m_fx.read(file), expected.isNull() ? input : expected);
}

void TestMachineSpecifics::mazakTable_data()
{
    QTest::addColumn<QByteArray>("table");   // null: no table
    QTest::addColumn<QByteArray>("request"); // FileName|TableValue|CallText|offered
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("call") << QByteArray("8888.MAZ\t1234\r\n8889.MAZ\t0\r\n1234.MAZ\t17\r\n")
                          << QByteArray("8888.MAZ|1234|1234|")
                          << QByteArray("8888.MAZ\t0\r\n8889.MAZ\t0\r\n1234.MAZ\t17\r\n");
    QTest::newRow("upload") << QByteArray("8888.MAZ\t0\r\n8889.MAZ\t 55 \r\n55.maz\t3\r\n")
                            << QByteArray("55.MAZ|3||55.MAZ 55")
                            << QByteArray("8888.MAZ\t0\r\n8889.MAZ\t0\r\n55.maz\t3\r\n");
    QTest::newRow("call first, upload kept")
        << QByteArray("8889.MAZ\t55\r\n8888.maz\t7\r\n") << QByteArray("8888.MAZ|7|7|")
        << QByteArray("8889.MAZ\t55\r\n8888.MAZ\t0\r\n");
    QTest::newRow("odd lines") << QByteArray("\t5\r\nGARBAGE\r\n\r\n8888.MAZ\tX\r\n8888.MAZ\t12")
                               << QByteArray("8888.MAZ|12|12|")
                               << QByteArray(
                                      "\t5\r\nGARBAGE\r\n\r\n8888.MAZ\tX\r\n8888.MAZ\t0\r\n");
    QTest::newRow("no request") << QByteArray("8888.MAZ\t0\r\n8889.MAZ\t0") << QByteArray("|||")
                                << QByteArray("8888.MAZ\t0\r\n8889.MAZ\t0");
    QTest::newRow("no table") << QByteArray() << QByteArray("|||") << QByteArray("<missing>");
}

void TestMachineSpecifics::mazakTable()
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

void TestMachineSpecifics::channelFileNames_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("table");
    QTest::addColumn<QStringList>("names");

    const QString h = u"C:\\P\\O1234.H"_s;
    QTest::newRow("fixed extensions")
        << h << 2 << false << QStringList{u"C:\\P\\O1234.m"_s, u"C:\\P\\O1234.s"_s};
    QTest::newRow("one channel") << h << 1 << false << QStringList{h};
    QTest::newRow("no channel count") << h << 0 << true << QStringList{h};
    QTest::newRow("five channels, no names") << h << 5 << false << QStringList();
    QTest::newRow("channel table")
        << u"C:\\P\\1234.H"_s << 3 << true
        << QStringList{u"C:\\P\\O1234.MIN"_s, u"C:\\P\\O1234.SUB"_s, u"C:\\P\\1234"_s};
    QTest::newRow("folder with a dot")
        << u"/cn/v1.2/P7"_s << 2 << false << QStringList{u"/cn/v1.2/P7.m"_s, u"/cn/v1.2/P7.s"_s};
    QTest::newRow("targets") << QString() << 2 << false << QStringList{u".m"_s, u".s"_s};
    QTest::newRow("table targets") << QString() << 2 << true << QStringList{u"O.MIN"_s, u"O.SUB"_s};
}

void TestMachineSpecifics::channelFileNames()
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

QTEST_GUILESS_MAIN(TestMachineSpecifics)
#include "tst_machinespecifics.moc"
