// The IP-serial send's piece reader (lines read NbBlocAvance at a time,
// each followed by EOB, handed out one character at a time) and its
// progress, rounded to the nearest integer.

#include "server/IpSerialLink.h"
#include "support/ProcessHelpers.h"

#include <QTemporaryDir>
#include <QTest>

using namespace nodalis;
using namespace nodalis::test;

class TestIpSerialPieces : public QObject
{
    Q_OBJECT

private slots:
    void pieces_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("linesAtOnce");
        QTest::addColumn<QByteArray>("eob");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("two lines at once") << QByteArray("A\r\nB\r\nC\r\n") << 2
                                           << QByteArray("\r\n") << QByteArray("A\r\nB\r\nC\r\n");
        QTest::newRow("other line end, last line open")
            << QByteArray("A\r\nB") << 1 << QByteArray("\n") << QByteArray("A\nB\n");
        QTest::newRow("empty file") << QByteArray() << 2 << QByteArray("\r\n") << QByteArray();
        QTest::newRow("NbBlocAvance 0 reads one line at a time")
            << QByteArray("A\r\nB\r\n") << 0 << QByteArray("\r\n") << QByteArray("A\r\nB\r\n");
    }

    void pieces()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, linesAtOnce);
        QFETCH(QByteArray, eob);
        QFETCH(QByteArray, sent);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ToCN.txt"));
        QVERIFY(writeFile(path, file));
        SendPieces pieces;
        QVERIFY(pieces.open(path, linesAtOnce, eob));
        QByteArray out;
        for (char c = 0; pieces.next(c);)
            out += c;
        QCOMPARE(out, sent);
        QVERIFY(!SendPieces().open(dir.filePath(QStringLiteral("none")), 1, eob));
    }

    void progress_data()
    {
        QTest::addColumn<qint64>("sent");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<int>("percent");
        QTest::newRow("rounded down") << qint64(1) << qint64(9) << 11;
        QTest::newRow("rounded up") << qint64(2) << qint64(3) << 67;
        QTest::newRow("a half rounds up") << qint64(1) << qint64(8) << 13;
        QTest::newRow("BOT and EOT count too") << qint64(15) << qint64(9) << 167;
        QTest::newRow("empty file") << qint64(3) << qint64(0) << 100;
    }

    void progress()
    {
        QFETCH(qint64, sent);
        QFETCH(qint64, total);
        QFETCH(int, percent);
        QCOMPARE(IpSerialLink::Progress(sent, total), percent);
    }
};

QTEST_GUILESS_MAIN(TestIpSerialPieces)
#include "tst_ipserialpieces.moc"
