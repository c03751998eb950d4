// Received characters cut into lines, and the library's reception file normalised.

#include "dnc/ReceivedChunks.h"
#include "startup/AppPaths.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace nodalis;

class TestReceivedChunks : public QObject
{
    Q_OBJECT

private slots:
    void split_data()
    {
        QTest::addColumn<QByteArray>("pending");
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QByteArray>("rest");
        QTest::newRow("no line end") << QByteArray("G0 X1") << QByteArray() << QByteArray("G0 X1");
        QTest::newRow("CR LF") << QByteArray("A\r\nB") << QByteArray("A\r\n") << QByteArray("B");
        QTest::newRow("runs of ends are one")
            << QByteArray("A\r\r\n\n\rB\n") << QByteArray("A\r\nB\r\n") << QByteArray();
        QTest::newRow("leading ends")
            << QByteArray("\r\nA\n") << QByteArray("A\r\n") << QByteArray();
        QTest::newRow("CR at the very end")
            << QByteArray("A\r") << QByteArray("A\r\n") << QByteArray();
    }

    void split()
    {
        QFETCH(QByteArray, pending);
        QFETCH(QByteArray, written);
        QFETCH(QByteArray, rest);
        QByteArray file;
        QCOMPARE(SplitReceivedChunk(
                     pending, [&](const QByteArray& line) { file += line; }, false),
                 rest);
        QCOMPARE(file, written);
        // Without a file the rest is the same.
        QCOMPARE(SplitReceivedChunk(pending, nullptr, false), rest);
    }

    void normaliseLibraryReception_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<QByteArray>("normalised");
        QTest::newRow("stray CR and LF inside lines")
            << QByteArray("%\r\nO1\rA\nB\r\n\r\nM30\r\n") << QByteArray("%\r\nO1AB\r\nM30\r\n");
        QTest::newRow("last line without end")
            << QByteArray("N1\r\nN2") << QByteArray("N1\r\nN2\r\n");
        QTest::newRow("empty file stays") << QByteArray() << QByteArray();
    }

    void normaliseLibraryReception()
    {
        QFETCH(QByteArray, received);
        QFETCH(QByteArray, normalised);
        QTemporaryDir dir;
        Paths().setBaseFolder(dir.path());
        const QString path = dir.filePath(QStringLiteral("FromCN.txt"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(received);
        f.close();
        QVERIFY(NormaliseLibraryReception(path));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), normalised);
    }
};

QTEST_GUILESS_MAIN(TestReceivedChunks)
#include "tst_receivedchunks.moc"
