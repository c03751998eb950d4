// Uploads through each way of storing them, their comparison with their
// program, replacements under versioned names, the receipt counter, stores
// that fail without losing the upload, dated copies, and the daily
// production-tracking files over several pieces and days.

#include "StoreFixture.h"
#include "dnc/ProcessState.h"

#include "dnc/Tracking.h"
#include "dnc/UploadStorage.h"
#include "startup/IniFile.h"
#include "store/ProgramRecords.h"

using namespace nodalis;
using namespace nodalis::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kUpload = "%\r\n"
                           "(*ORVA PIECE BRIDE*)\r\n"
                           "O0012 (SUPPORT)\r\n"
                           "N10 G90 G54\r\n"
                           "N20 G0 X10 Y20\r\n"
                           "M30\r\n"
                           "%\r\n";

} // namespace

class TestUploadStorage : public QObject
{
    Q_OBJECT

private:
    StoreFixture m_store;

    void receive(const QByteArray& text) const { writeFile(Paths().receptionFile, text); }

    QString trackingFile(const QByteArray& day) const
    {
        return m_store.path(u"Suivi/Suivi ("_s + QString::fromLatin1(day) + u").txt"_s);
    }

    QStringList receptionCopies() const
    {
        return QDir(m_store.path(u"Receiv"_s)).entryList({u"FromCN_(*"_s}, QDir::Files);
    }

private slots:
    void initTestCase_data() { addStoreEngines(); }
    void cleanupTestCase() { PgServer::instance().stop(); }
    void init()
    {
        NODALIS_STORE_RESET(m_store);
        identifyByPieceAndNumber();
    }
    void cleanup() { Clock::setScale(1.0); }

    void storeUploadToDatabase_data()
    {
        QTest::addColumn<bool>("known");        // the program is in the store
        QTest::addColumn<QByteArray>("option"); // compare, crush, both
        QTest::addColumn<QByteArray>("programText");
        QTest::addColumn<int>("result");
        QTest::addColumn<QList<int>>("events");
        QTest::addColumn<int>("recorded");
        QTest::addColumn<int>("etat");
        const QByteArray same =
            "%\r\nO0012(SUPPORT)\r\nN10  g90 G54\r\nN20 G0 X10 Y20\r\nM30\r\n%\r\n";
        QTest::newRow("not identified")
            << false << QByteArray() << same << 702 << QList<int>{} << 0 << 0;
        QTest::newRow("same as its program")
            << true << QByteArray("compare") << same << 701 << QList<int>{708} << 1 << 0;
        QTest::newRow("differs, replaces its program")
            << true << QByteArray("compare crush") << QByteArray("%\r\nO12\r\nN10 G91\r\n") << 701
            << QList<int>{709, 706} << 1 << 3;
    }

    void storeUploadToDatabase()
    {
        QFETCH(bool, known);
        QFETCH(QByteArray, option);
        QFETCH(QByteArray, programText);
        QFETCH(int, result);
        QFETCH(QList<int>, events);
        QFETCH(int, recorded);
        QFETCH(int, etat);
        addProgram("M1", "P1", {{1, "BRIDE"}, {2, known ? "12" : "13"}});
        writeFile(ProgramFilePath(ProgramTextPath, 1), programText);
        Config().ReceivProgCompareFiltered = option.contains("compare");
        Config().ReceivProgCrushed = option.contains("crush");
        receive(kUpload);

        QCOMPARE(StoreUploadToDatabase().code, result);
        QCOMPARE(Channel().currentProgramCode, known ? 1 : 0);
        QCOMPARE(CurrentUploadCode(), 1);
        QCOMPARE(readFile(ProgramFilePath(UploadTextPath, 1)), kUpload);
        QCOMPARE(loggedEvents(), events);
        QCOMPARE(value(u"SELECT Recorded FROM FROMCN"_s).toInt(), recorded);
        QCOMPARE(value(u"SELECT Champ2 FROM FROMCN"_s).toString(), u"12"_s);
        QCOMPARE(value(u"SELECT EtatProg FROM PROGRAMME"_s).toInt(), etat);
        QCOMPARE(readFile(ProgramFilePath(ProgramTextPath, 1)), etat == 3 ? kUpload : programText);
        QVERIFY(receptionCopies().isEmpty());
    }

    // A store that cannot be written keeps the upload: the reception file
    // stays, a copy of it waits beside it, and no record lacks its text.
    void failingStoreKeepsTheUpload_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QByteArray>("fault");
        QTest::newRow("database: store missing") << QByteArray("db") << QByteArray("no store");
        QTest::newRow("database: wrong password")
            << QByteArray("db") << QByteArray("wrong password");
        QTest::newRow("database: text folder blocked") << QByteArray("db") << QByteArray("blocked");
        QTest::newRow("file: text folder blocked") << QByteArray("file") << QByteArray("blocked");
        QTest::newRow("index: no program number") << QByteArray("index") << QByteArray("no number");
        QTest::newRow("index: folder missing") << QByteArray("index") << QByteArray("no folder");
    }

    void failingStoreKeepsTheUpload()
    {
        QFETCH(QByteArray, mode);
        QFETCH(QByteArray, fault);
        Config().DncAppMode = 0;
        Config().PathFileProgSave = m_store.path(fault == "no folder" ? u"none/"_s : u"save/"_s);
        QDir().mkpath(m_store.path(u"save"_s));
        if (fault == "no store") {
            QFile::remove(ProgramDatabasePath());
            Config().DbName = "missing";
        }
        if (fault == "wrong password") {
            if (!m_store.postgres())
                QSKIP("SQLite asks for no password");
            Config().DbPassword = "wrong-secret";
        }
        if (fault == "blocked") {
            QDir(m_store.path(u"data/FROMCN"_s)).removeRecursively();
            writeFile(m_store.path(u"data/FROMCN"_s), "a file, not a folder");
        }
        const QByteArray text = fault == "no number" ? QByteArray("N10 G0\r\nN20 G1\r\n") : kUpload;
        receive(text);
        const int result = mode == "db"     ? StoreUploadToDatabase().code
                           : mode == "file" ? StoreUploadToFile().code
                                            : StoreUploadWithIndex().code;
        QCOMPARE(result, 713);
        QCOMPARE(CurrentUploadCode(), 0);
        QCOMPARE(readFile(Paths().receptionFile), text);
        const QStringList copies = receptionCopies();
        QCOMPARE(copies.size(), 1);
        QCOMPARE(readFile(m_store.path(u"Receiv/"_s + copies[0])), text);
        QVERIFY(fault != "no store" || !QFile::exists(ProgramDatabasePath())); // none created
        if (fault == "blocked")
            QCOMPARE(value(u"SELECT COUNT(*) FROM FROMCN"_s).toInt(), 0);
        if (fault == "wrong password") { // who was refused where, never the password
            const QByteArray log = readFile(EventLogPath());
            QVERIFY2(log.contains("nodalis@127.0.0.1:"), log.constData());
            QVERIFY(!log.contains("wrong-secret"));
        }
    }

    void storeUploadToFile_data()
    {
        QTest::addColumn<int>("appMode");
        QTest::addColumn<bool>("crush");
        QTest::addColumn<int>("upload");
        QTest::addColumn<QString>("replaced"); // program file written in PathFileProgSave
        QTest::newRow("stand-alone: time-stamped copy") << 1 << false << 0 << QString();
        QTest::newRow("driven: FROMCN record and text") << 0 << false << 1 << QString();
        QTest::newRow("driven, crushing: 12.H replaced") << 0 << true << 1 << u"12.H"_s;
    }

    void storeUploadToFile()
    {
        QFETCH(int, appMode);
        QFETCH(bool, crush);
        QFETCH(int, upload);
        QFETCH(QString, replaced);
        Config().DncAppMode = appMode;
        Config().ReceivProgCrushed = crush;
        Config().CodeGroupCN = 2;
        Config().PathFileProgSave = m_store.path(u"save/"_s);
        writeFile(m_store.path(u"save/12.H"_s), "OLD\r\n");
        receive(kUpload);

        QCOMPARE(StoreUploadToFile().code, 703);
        QCOMPARE(CurrentUploadCode(), upload);
        QCOMPARE(receptionCopies().size(), upload == 0 ? 1 : 0);
        if (upload != 0) {
            QCOMPARE(readFile(ProgramFilePath(UploadTextPath, 1)), kUpload);
            QCOMPARE(value(u"SELECT Recorded FROM FROMCN"_s).toInt(), crush ? 1 : 0);
        }
        QCOMPARE(readFile(m_store.path(u"save/12.H"_s)),
                 replaced.isEmpty() ? QByteArray("OLD\r\n") : kUpload);
        QCOMPARE(readFile(m_store.path(u"save/12_1.H"_s)),
                 replaced.isEmpty() ? QByteArray("<missing>") : QByteArray("OLD\r\n"));
        QCOMPARE(loggedEvents(), crush ? QList<int>{707} : QList<int>{});
    }

    void replaceProgramFileByUpload_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("group");
        QTest::addColumn<QByteArray>("specificite");
        QTest::addColumn<QString>("pattern"); // stored name in PathFileProgSave
        QTest::newRow("program number") << kUpload << 0 << QByteArray() << u"^12$"_s;
        QTest::newRow("program code") << QByteArray(";CODE PROGRAMME mm-Bride 3\r\nO7\r\n") << 2
                                      << QByteArray("DUVOV_RIDODOZI") << u"^-BRIDE 3\\.H$"_s;
        QTest::newRow("no number") << QByteArray("N10 G0\r\n") << 0 << QByteArray()
                                   << uR"(^FromCN_\(\d\d-\d\d-\d\d_\d\dh\d\dmin\d\ds\)\.txt$)"_s;
        QTest::newRow("name of dots stays in the folder")
            << QByteArray(";CODE PROGRAMME ..\r\n") << 0 << QByteArray("DUVOV_RIDODOZI")
            << u"^FromCN_\\("_s;
    }

    void replaceProgramFileByUpload()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, group);
        QFETCH(QByteArray, specificite);
        QFETCH(QString, pattern);
        Config().CodeGroupCN = group;
        Config().Port.Specificite = specificite;
        Config().PathFileProgSave = m_store.path(u"save/"_s);
        QDir().mkpath(m_store.path(u"save"_s));
        writeFile(ProgramFilePath(UploadTextPath, 4), text);

        QVERIFY(ReplaceProgramFileByUpload(4));
        const QStringList stored = QDir(m_store.path(u"save"_s)).entryList(QDir::Files);
        QCOMPARE(stored.size(), 1);
        QVERIFY2(QRegularExpression(pattern).match(stored[0]).hasMatch(), qPrintable(stored[0]));
        QCOMPARE(readFile(m_store.path(u"save/"_s + stored[0])), text);
        QVERIFY(!ReplaceProgramFileByUpload(5)); // no such upload
    }

    // The next index after the highest of this program's files, whatever
    // their case; other extensions and other programs do not count.
    void storeUploadWithIndex()
    {
        Config().PathFileProgSave = m_store.path(u"save/"_s);
        for (const char* name : {"O0012.001", "O0012.007", "O0012.txt", "o0012.003", "O0013.009"})
            writeFile(m_store.path(u"save/"_s + QLatin1String(name)), "OLD\r\n");
        receive(kUpload);
        const EventReport report = StoreUploadWithIndex();
        const QString stored = m_store.path(u"save/O0012.008"_s);
        QCOMPARE(report.code, 712);
        QCOMPARE(readFile(stored), kUpload);
        QCOMPARE(report.params, QList<QByteArray>{stored.toLatin1()});
    }

    void compareProgramTexts_data()
    {
        QTest::addColumn<QByteArray>("program");
        QTest::addColumn<QByteArray>("upload");
        QTest::addColumn<bool>("same");
        const QByteArray program = "N10 G0 (APPROCHE)\r\nN20 G1 X5\r\nN30 M30\r\n";
        const QByteArray three = "A\r\nB\r\nC\r\n";
        QTest::newRow("shifted by three lines") << program << three + program << true;
        QTest::newRow("shifted by six lines") << program << three + three + program << false;
        QTest::newRow("upload's extra lines do not count") << program << program + three << true;
        QTest::newRow("short upload: its last line answers")
            << QByteArray("A\r\nB\r\nB\r\nB\r\nB\r\nB\r\nB\r\nB\r\nB\r\n")
            << QByteArray("A\r\nB\r\n") << true;
        QTest::newRow("empty upload") << program << QByteArray() << false;
        QTest::newRow("empty program") << QByteArray("(ONLY A COMMENT)\r\n") << program << false;
    }

    void compareProgramTexts()
    {
        QFETCH(QByteArray, program);
        QFETCH(QByteArray, upload);
        QFETCH(bool, same);
        Config().CarDebCom = "(";
        const QString programFile = m_store.path(u"p.txt"_s);
        const QString uploadFile = m_store.path(u"u.txt"_s);
        writeFile(programFile, program);
        writeFile(uploadFile, upload);
        QCOMPARE(CompareProgramTexts(programFile, uploadFile), same);
        QVERIFY(!CompareProgramTexts(programFile, m_store.path(u"missing.txt"_s)));
    }

    void receiptCounter()
    {
        Config().Port.NbReceivBeforeAppel = 2;
        QVERIFY(!IsReceiptCountReached()); // no counter yet
        IncrementReceiptCount();
        QVERIFY(!IsReceiptCountReached());
        IncrementReceiptCount();
        QVERIFY(IsReceiptCountReached());
        QCOMPARE(readFile(Paths().preCallCheckFile), "0\r\n");
        QVERIFY(!IsReceiptCountReached());
    }

    // Each message: "day hh:mm:ss|text"; each expectation: "day|key=value". Where
    // the day's file is given before and after, every other byte of it is kept:
    // values change where they stand, new pieces go after the section's last line.
    void recordTracking_data()
    {
        QTest::addColumn<QList<QByteArray>>("messages");
        QTest::addColumn<QList<QByteArray>>("expected");
        QTest::addColumn<QByteArray>("before"); // the file of 05-03-24, when there is one
        QTest::addColumn<QByteArray>("after");  // its bytes afterwards, when given
        const auto row = [](const char* name, const QList<QByteArray>& messages,
                            const QList<QByteArray>& expected, const QByteArray& before = {},
                            const QByteArray& after = {}) {
            QTest::newRow(name) << messages << expected << before << after;
        };
        row("information after a start, a start after an end, an end after an ended piece",
            {"05-03-24 08:00:00|INFO1-INFOOUTIL!T12-SUIVI", "05-03-24 09:00:00|INFO0-INFO1-SUIVI",
             "05-03-24 09:10:00|INFO0-SUIVI", "05-03-24 09:20:00|INFO0-SUIVI"},
            {"05-03-24|NbPiece=3", "05-03-24|1=DEBUT:08:00:00|INFOOUTIL:T12|FIN:09:00:00|",
             "05-03-24|2=DEBUT:09:00:00|FIN:09:10:00|", "05-03-24|3=FIN:09:20:00|"});
        row("a new day counts from 0",
            {"05-03-24 22:00:00|INFO1-SUIVI", "05-03-24 23:00:00|INFO1-SUIVI",
             "06-03-24 07:00:00|INFO1-SUIVI"},
            {"05-03-24|NbPiece=2", "05-03-24|2=DEBUT:23:00:00|", "06-03-24|NbPiece=1",
             "06-03-24|1=DEBUT:07:00:00|"});
        row("tracking lines ended by LF, CR and CR LF",
            {"05-03-24 08:00:00|SUIVI-INFO1-\nG0 X1\rSUIVI-INFO0-\r\n"},
            {"05-03-24|NbPiece=1", "05-03-24|0=SUIVI|",
             "05-03-24|1=DEBUT:08:00:00|SUIVI|FIN:08:00:00|"});
        row("thousands of items in one message",
            {"05-03-24 08:00:00|" + QByteArray("INFO1-INFO0-").repeated(3000) + "SUIVI"},
            {"05-03-24|NbPiece=3000", "05-03-24|1=DEBUT:08:00:00|FIN:08:00:00|",
             "05-03-24|3000=DEBUT:08:00:00|FIN:08:00:00|"});
        row("no tracking line", {"05-03-24 08:00:00|O12 (SUIV)\r\n"}, {});
        row("first message of the day, file layout",
            {"05-03-24 08:00:00|INFO1-INFOOUTIL!T3-INFO0-INFO1-SUIVI"}, {}, {},
            "[GENERAL]\r\nNbPiece=2\r\n1=DEBUT:08:00:00|INFOOUTIL:T3|FIN:08:00:00|\r\n"
            "2=DEBUT:08:00:00|\r\n");
        row("other lines and sections kept",
            {"05-03-24 08:00:00|INFO0-INFO1-INFOOUTIL!T3-INFO1-SUIVI"}, {},
            "; atelier 3\r\n[GENERAL]\r\nNbPiece=1\r\n1=DEBUT:07:00:00|\r\n\r\n[AUTRE]\r\nX=1\r\n",
            "; atelier 3\r\n[GENERAL]\r\nNbPiece=3\r\n1=DEBUT:07:00:00|FIN:08:00:00|\r\n"
            "2=DEBUT:08:00:00|INFOOUTIL:T3|\r\n3=DEBUT:08:00:00|\r\n\r\n[AUTRE]\r\nX=1\r\n");
        row("LF file without a last line end", {"05-03-24 08:00:00|INFO0-INFO1-SUIVI"}, {},
            "[GENERAL]\nNbPiece=1\n1=DEBUT:07:00:00|",
            "[GENERAL]\nNbPiece=2\n1=DEBUT:07:00:00|FIN:08:00:00|\n2=DEBUT:08:00:00|\n");
    }

    void recordTracking()
    {
        QFETCH(QList<QByteArray>, messages);
        QFETCH(QList<QByteArray>, expected);
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        const bool tracked = !expected.isEmpty() || !after.isEmpty();
        if (!before.isEmpty())
            writeFile(trackingFile("05-03-24"), before);
        const QString file = m_store.path(u"Temp/TT_ExamineTrame.txt"_s);
        for (const QByteArray& message : messages) {
            const qsizetype bar = message.indexOf('|');
            const QDateTime at = QDateTime::fromString(QString::fromLatin1(message.left(bar)),
                                                       u"dd-MM-yy hh:mm:ss"_s)
                                     .addYears(100);
            writeFile(file, message.mid(bar + 1));
            QCOMPARE(RecordTracking(file, at), tracked);
        }
        for (const QByteArray& entry : expected) {
            const QList<QByteArray> parts = entry.split('|');
            const qsizetype eq = parts[1].indexOf('=');
            const QByteArray value = entry.mid(entry.indexOf('=') + 1);
            QCOMPARE(FNReadIni(trackingFile(parts[0]), "GENERAL", parts[1].left(eq)), value);
        }
        if (!after.isEmpty())
            QCOMPARE(readFile(trackingFile("05-03-24")), after);
        if (!tracked)
            QVERIFY(QDir(m_store.path(u"Suivi"_s)).isEmpty());
    }

    // Named after the upload's time: one of the same second replaces the
    // first. Without its folder the upload waits beside the reception file.
    void storeDatedCopy()
    {
        QDir().mkpath(m_store.path(u"remonte"_s));
        const QByteArray base = QDir::toNativeSeparators(m_store.dir.path()).toLocal8Bit() + '/';
        const auto receiveAt = [](const QByteArray& text) {
            writeFile(Paths().receptionFile, text);
            QFile f(Paths().receptionFile);
            return f.open(QIODevice::ReadWrite) &&
                   f.setFileTime(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)),
                                 QFileDevice::FileModificationTime);
        };
        Config().PathRemonte = base + "remonte ";
        for (const QByteArray& upload : {QByteArray("O1\r\n"), QByteArray("O2\r\n")}) {
            QVERIFY(receiveAt(upload));
            QCOMPARE(StoreDatedCopy().code, 712);
        }
        QCOMPARE(readFile(m_store.path(u"remonte/2024-03-05-14-07-09.txt"_s)), "O2\r\n");
        QCOMPARE(QDir(m_store.path(u"remonte"_s)).entryList(QDir::Files).size(), 1);
        QCOMPARE(readFile(Paths().receptionFile), "O2\r\n");
        QVERIFY(receptionCopies().isEmpty());

        Config().PathRemonte = base + "none";
        QVERIFY(receiveAt("O3\r\n"));
        QCOMPARE(StoreDatedCopy().code, 713);
        QCOMPARE(readFile(Paths().receptionFile), "O3\r\n");
        QCOMPARE(receptionCopies().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestUploadStorage)
#include "tst_uploadstorage.moc"
