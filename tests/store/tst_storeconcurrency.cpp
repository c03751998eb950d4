// The store shared with a second process that writes PROGRAMME and FROMCN
// all the time, now and then holding the store longer than the engine's own
// wait: every one of 100 uploads gets its record and its text, and no locked
// store ever makes a store fail.

#include "StoreFixture.h"
#include "dnc/ProcessState.h"

#include "dnc/UploadStorage.h"
#include "store/ProgramRecords.h"

#include <QProcess>
#include <QScopeGuard>
#include <QSet>

using namespace nodalis;
using namespace nodalis::test;
using namespace Qt::StringLiterals;

class TestStoreConcurrency : public QObject
{
    Q_OBJECT

private:
    StoreFixture m_store;

private slots:
    void hundredUploadsBesideAWriter()
    {
        QVERIFY(m_store.reset());
        Clock::setScale(0.05);
        identifyByPieceAndNumber();
        addProgram("M1", "P1", {{1, "BRIDE"}, {2, "1"}});

        const QString stop = m_store.path(u"stop"_s);
        QProcess peer;
        peer.start(QString::fromLocal8Bit(STORE_PEER), {ProgramDatabasePath(), stop});
        QVERIFY(peer.waitForStarted());
        auto stopPeer = qScopeGuard([&] {
            if (peer.state() != QProcess::NotRunning)
                peer.kill(), peer.waitForFinished();
        });
        QTRY_VERIFY(value(u"SELECT COUNT(*) FROM PROGRAMME"_s).toInt() > 100);

        QSet<qint32> codes;
        for (int i = 1; i <= 100; ++i) {
            const QByteArray number = QByteArray::number(i % 2 ? 1 : 1000 + i);
            writeFile(Paths().receptionFile,
                      "%\r\n(*ORVA PIECE BRIDE*)\r\nO" + number + "\r\nM30\r\n%\r\n");
            const int result = StoreUploadToDatabase().code;
            QCOMPARE(result, i % 2 ? 701 : 702);
            codes << CurrentUploadCode();
            QVERIFY(QFile::exists(ProgramFilePath(UploadTextPath, CurrentUploadCode())));
        }
        writeFile(stop, "");
        QVERIFY(peer.waitForFinished(20000));
        const QByteArray peerOutput = peer.readAllStandardOutput().trimmed();
        const QList<QByteArray> peerCounts = peerOutput.split(' ');
        qInfo("peer rounds, failures: %s", peerOutput.constData());

        QCOMPARE(codes.size(), 100);
        QCOMPARE(value(u"SELECT COUNT(*) FROM FROMCN WHERE RefMO<>'PEER' "
                       "AND FilePathProg<>'' AND Recorded=0"_s)
                     .toInt(),
                 100);
        QVERIFY2(peerCounts.size() >= 2 && peerCounts[0].toInt() > 100, peerOutput.constData());
        QCOMPARE(peerCounts[1], QByteArray("0"));
        QVERIFY(QDir(m_store.path(u"Receiv"_s)).entryList({u"FromCN_(*"_s}).isEmpty());
        QFile log(EventLogPath());
        QVERIFY(!log.open(QIODevice::ReadOnly) || !log.readAll().contains("Base de donn"));
        Clock::setScale(1.0);
    }
};

QTEST_GUILESS_MAIN(TestStoreConcurrency)
#include "tst_storeconcurrency.moc"
