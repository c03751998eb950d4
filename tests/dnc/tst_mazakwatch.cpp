// The MAZAK FUSION table watch: a call written into the machine's program
// table becomes a served call; a request for a file that is not there is 365.

#include "dnc/CallResolution.h"
#include "dnc/MazakWatch.h"
#include "dnc/ProgramSender.h"

#include "support/ProcessHelpers.h"
#include "support/SimulatedLine.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace nodalis;
using namespace nodalis::test;

class TestMazakWatch : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    SimulatedLine m_line;

private slots:
    void init()
    {
        QVERIFY(m_line.open(m_dir.path()));
        Settings& s = Config();
        s.Port.Methode = 6;
        s.Port.Specificite = "mazak fusion";
        s.UseRPC = true;
        s.DefaultDirHostReceiv = m_dir.filePath(QStringLiteral("cnc")).toLocal8Bit();
        s.PathFileProgOpen = m_dir.filePath(QStringLiteral("progs")) + QLatin1Char('/');
        writeFile(s.PathFileProgOpen + QStringLiteral("1234"), "PROGRAM 1234\r\n");
        writeFile(m_dir.filePath(QStringLiteral("cnc/8888.MAZ")), "(table call)\r\n");
        QFile::remove(Paths().sendFile);
        QDir(Paths().logFolder).removeRecursively();
    }

    void cleanup() { m_line.close(); }

    void tableRequests_data()
    {
        QTest::addColumn<QByteArray>("table");
        QTest::addColumn<int>("event");
        QTest::addColumn<QByteArray>("sendFile");
        QTest::newRow("call") << QByteArray("8888.MAZ\t1234\r\n8889.MAZ\t0\r\n") << 503
                              << QByteArray("PROGRAM 1234\r\n");
        QTest::newRow("offered file missing")
            << QByteArray("8888.MAZ\t0\r\n8889.MAZ\t77\r\n") << 365 << QByteArray();
    }

    void tableRequests()
    {
        QFETCH(QByteArray, table);
        QFETCH(int, event);
        QFETCH(QByteArray, sendFile);
        ProgramSender sender(*m_line.engine);
        CallResolution calls(*m_line.engine, sender);
        MazakWatch watch(*m_line.engine, calls);
        m_line.engine->StartListening();
        QVERIFY(watch.isActive());
        QCOMPARE(Channel().channelState, qint16(ChannelListening));
        QCOMPARE(Events().lastShown, 364);
        writeFile(m_dir.filePath(QStringLiteral("cnc/Index.tbl")), table);
        watch.Tick();
        QFile log(EventLogPath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("---Code" + QByteArray::number(event) + "---"));
        QCOMPARE(readFile(Paths().sendFile), sendFile);
        // The handled request was reset in the table.
        QVERIFY(
            !readFile(m_dir.filePath(QStringLiteral("cnc/Index.tbl"))).contains("8888.MAZ\t1234"));
    }
};

QTEST_GUILESS_MAIN(TestMazakWatch)
#include "tst_mazakwatch.moc"
