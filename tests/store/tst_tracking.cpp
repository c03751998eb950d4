// Daily production-tracking files over several pieces and days, and the
// dated copies of uploads.

#include "StoreFixture.h"

#include "dnc/Tracking.h"
#include "startup/IniFile.h"

using namespace nodalis;
using nodalis::test::StoreFixture;
using namespace Qt::StringLiterals;

class TestTracking : public QObject
{
    Q_OBJECT

private:
    StoreFixture m_store;

    QString trackingFile(const QByteArray& day) const
    {
        return m_store.path(u"Suivi/Suivi ("_s + QString::fromLatin1(day) + u").txt"_s);
    }

private slots:
    void init() { QVERIFY(m_store.reset()); }
    void cleanup() { Clock::setScale(1.0); }

    void recordTracking_data()
    {
        // Each message: "day hh:mm:ss|text"; each expectation: "day|key=value".
        QTest::addColumn<QList<QByteArray>>("messages");
        QTest::addColumn<QList<QByteArray>>("expected");

        QTest::newRow("a piece starts and ends")
            << QList<QByteArray>{"05-03-24 08:00:00|SUIVI-INFO1-",
                                 "05-03-24 08:10:00|SUIVI - INFO 0 -"}
            << QList<QByteArray>{"05-03-24|NbPiece=1", "05-03-24|0=SUIVI|",
                                 "05-03-24|1=DEBUT:08:00:00|SUIVI|FIN:08:10:00|"};
        QTest::newRow("an end after an ended piece opens a new one")
            << QList<QByteArray>{"05-03-24 08:00:00|INFO1-SUIVI", "05-03-24 08:10:00|INFO0-SUIVI",
                                 "05-03-24 08:20:00|INFO0-SUIVI"}
            << QList<QByteArray>{"05-03-24|NbPiece=2", "05-03-24|1=DEBUT:08:00:00|FIN:08:10:00|",
                                 "05-03-24|2=FIN:08:20:00|"};
        QTest::newRow("information after a start, a start after an end")
            << QList<QByteArray>{"05-03-24 08:00:00|INFO1-INFOOUTIL!T12-SUIVI",
                                 "05-03-24 09:00:00|INFO0-INFO1-SUIVI"}
            << QList<QByteArray>{"05-03-24|NbPiece=2",
                                 "05-03-24|1=DEBUT:08:00:00|INFOOUTIL:T12|FIN:09:00:00|",
                                 "05-03-24|2=DEBUT:09:00:00|"};
        QTest::newRow("a new day counts from 0")
            << QList<QByteArray>{"05-03-24 22:00:00|INFO1-SUIVI", "05-03-24 23:00:00|INFO1-SUIVI",
                                 "06-03-24 07:00:00|INFO1-SUIVI"}
            << QList<QByteArray>{"05-03-24|NbPiece=2", "05-03-24|2=DEBUT:23:00:00|",
                                 "06-03-24|NbPiece=1", "06-03-24|1=DEBUT:07:00:00|"};
        QTest::newRow("tracking lines ended by LF, CR and CR LF")
            << QList<QByteArray>{"05-03-24 08:00:00|SUIVI-INFO1-\nG0 X1\rSUIVI-INFO0-\r\n"}
            << QList<QByteArray>{"05-03-24|NbPiece=1", "05-03-24|0=SUIVI|",
                                 "05-03-24|1=DEBUT:08:00:00|SUIVI|FIN:08:00:00|"};
        QTest::newRow("thousands of items in one message")
            << QList<QByteArray>{"05-03-24 08:00:00|" + QByteArray("INFO1-INFO0-").repeated(3000) +
                                 "SUIVI"}
            << QList<QByteArray>{"05-03-24|NbPiece=3000", "05-03-24|1=DEBUT:08:00:00|FIN:08:00:00|",
                                 "05-03-24|3000=DEBUT:08:00:00|FIN:08:00:00|"};
        QTest::newRow("no tracking line")
            << QList<QByteArray>{"05-03-24 08:00:00|O12 (SUIV)\r\n"} << QList<QByteArray>{};
    }

    void recordTracking()
    {
        QFETCH(QList<QByteArray>, messages);
        QFETCH(QList<QByteArray>, expected);
        const QString file = m_store.path(u"Temp/TT_ExamineTrame.txt"_s);
        for (const QByteArray& message : messages) {
            const qsizetype bar = message.indexOf('|');
            const QDateTime at = QDateTime::fromString(QString::fromLatin1(message.left(bar)),
                                                       u"dd-MM-yy hh:mm:ss"_s)
                                     .addYears(100);
            StoreFixture::writeFile(file, message.mid(bar + 1));
            QCOMPARE(RecordTracking(file, at), !expected.isEmpty());
        }
        for (const QByteArray& entry : expected) {
            const QList<QByteArray> parts = entry.split('|');
            const qsizetype eq = parts[1].indexOf('=');
            const QByteArray value = entry.mid(entry.indexOf('=') + 1);
            QCOMPARE(FNReadIni(trackingFile(parts[0]), "GENERAL", parts[1].left(eq)), value);
        }
        if (expected.isEmpty())
            QVERIFY(QDir(m_store.path(u"Suivi"_s)).isEmpty());
    }

    // The file a message leaves: values changed where they stand, new
    // pieces after the last line of the section, every other byte kept.
    void trackingFileContent_data()
    {
        QTest::addColumn<QByteArray>("before"); // <missing>: no file yet
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("first message of the day")
            << QByteArray("<missing>") << QByteArray("INFO1-INFOOUTIL!T3-INFO0-INFO1-SUIVI")
            << QByteArray("[GENERAL]\r\nNbPiece=2\r\n1=DEBUT:08:00:00|INFOOUTIL:T3|FIN:08:00:00|"
                          "\r\n2=DEBUT:08:00:00|\r\n");
        QTest::newRow("other lines and sections kept")
            << QByteArray("; atelier 3\r\n[GENERAL]\r\nNbPiece=1\r\n1=DEBUT:07:00:00|\r\n\r\n"
                          "[AUTRE]\r\nX=1\r\n")
            << QByteArray("INFO0-INFO1-INFOOUTIL!T3-INFO1-SUIVI")
            << QByteArray("; atelier 3\r\n[GENERAL]\r\nNbPiece=3\r\n1=DEBUT:07:00:00|FIN:08:00:00|"
                          "\r\n2=DEBUT:08:00:00|INFOOUTIL:T3|\r\n3=DEBUT:08:00:00|\r\n\r\n"
                          "[AUTRE]\r\nX=1\r\n");
        QTest::newRow("LF file without a last line end")
            << QByteArray("[GENERAL]\nNbPiece=1\n1=DEBUT:07:00:00|")
            << QByteArray("INFO0-INFO1-SUIVI")
            << QByteArray(
                   "[GENERAL]\nNbPiece=2\n1=DEBUT:07:00:00|FIN:08:00:00|\n2=DEBUT:08:00:00|\n");
    }

    void trackingFileContent()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, after);
        const QString tracking = trackingFile("05-03-24");
        if (before != "<missing>")
            StoreFixture::writeFile(tracking, before);
        const QString file = m_store.path(u"Temp/TT_ExamineTrame.txt"_s);
        StoreFixture::writeFile(file, message);
        QVERIFY(RecordTracking(file, QDateTime(QDate(2024, 3, 5), QTime(8, 0))));
        QCOMPARE(StoreFixture::readFile(tracking), after);
    }

    void storeDatedCopy_data()
    {
        QTest::addColumn<QByteArray>("folder");
        QTest::addColumn<QList<QByteArray>>("uploads"); // received one after the other
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("copy"); // content of the dated copy

        QTest::newRow("named after its time")
            << QByteArray("remonte") << QList<QByteArray>{"O1\r\n"} << 712 << QByteArray("O1\r\n");
        QTest::newRow("same second: the second replaces the first")
            << QByteArray("remonte ") << QList<QByteArray>{"O1\r\n", "O2\r\n"} << 712
            << QByteArray("O2\r\n");
        QTest::newRow("folder missing")
            << QByteArray("none") << QList<QByteArray>{"O1\r\n"} << 713 << QByteArray("<missing>");
    }

    void storeDatedCopy()
    {
        QFETCH(QByteArray, folder);
        QFETCH(QList<QByteArray>, uploads);
        QFETCH(int, result);
        QFETCH(QByteArray, copy);
        QDir().mkpath(m_store.path(u"remonte"_s));
        Config().PathRemonte =
            QDir::toNativeSeparators(m_store.dir.path()).toLocal8Bit() + '/' + folder;
        const QDateTime stamp(QDate(2024, 3, 5), QTime(14, 7, 9));
        for (const QByteArray& upload : uploads) {
            StoreFixture::writeFile(Paths().receptionFile, upload);
            QFile f(Paths().receptionFile);
            QVERIFY(f.open(QIODevice::ReadWrite) &&
                    f.setFileTime(stamp, QFileDevice::FileModificationTime));
            f.close();
            QCOMPARE(StoreDatedCopy().code, result);
        }
        QCOMPARE(StoreFixture::readFile(m_store.path(u"remonte/2024-03-05-14-07-09.txt"_s)), copy);
        QCOMPARE(QDir(m_store.path(u"remonte"_s)).entryList(QDir::Files).size(),
                 qsizetype(result == 712 ? 1 : 0));
        QCOMPARE(StoreFixture::readFile(Paths().receptionFile), uploads.last());
        QCOMPARE(QDir(m_store.path(u"Receiv"_s)).entryList({u"FromCN_(*"_s}).size(),
                 qsizetype(result == 713 ? 1 : 0));
    }
};

QTEST_GUILESS_MAIN(TestTracking)
#include "tst_tracking.moc"
