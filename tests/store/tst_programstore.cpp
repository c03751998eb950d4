// The program store on a temporary SQLite store: lookups by call name and
// machine, upload records, replacements, the journal and list filling.
// Waiting out a locked store is tested beside a second process
// (tst_storeconcurrency).

#include "StoreFixture.h"

#include "store/ProgramJournal.h"
#include "store/ProgramRecords.h"

using namespace nodalis;
using nodalis::test::StoreFixture;
using namespace Qt::StringLiterals;

class TestProgramStore : public QObject
{
    Q_OBJECT

private:
    StoreFixture m_store;

    static HeaderValues header(const QByteArray& machine, const QList<QByteArray>& fields)
    {
        HeaderValues h;
        h.Machine = machine;
        h.Fields = QList<QByteArray>{QByteArray()} + fields;
        return h;
    }

    static void describeFields(int count, QList<int> indexed)
    {
        Config().NbBDFields = count;
        Config().RecordFields.resize(count + 1);
        for (int i : indexed) {
            Config().RecordFields[i].IsIndexe = true;
            Config().RecordFields[i].RefCartouche = "F" + QByteArray::number(i);
        }
    }

private slots:
    void init() { QVERIFY(m_store.reset()); }
    void cleanup() { Clock::setScale(1.0); }

    void calledPrograms_data()
    {
        QTest::addColumn<bool>("allMachines");
        QTest::addColumn<QList<QByteArray>>("shared");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QList<QByteArray>>("machines");

        const QList<QByteArray> none;
        QTest::newRow("own machine")
            << false << none << QByteArray(" P1 ") << QList<QByteArray>{"M1"};
        QTest::newRow("quote in the name")
            << false << none << QByteArray("P'1") << QList<QByteArray>{"M1"};
        QTest::newRow("injection attempt")
            << false << none << QByteArray("x' OR '1'='1") << QList<QByteArray>{};
        QTest::newRow("shared list replaces the own machine")
            << false << QList<QByteArray>{"M2", " ", "M3"} << QByteArray("P1")
            << QList<QByteArray>{"M2"};
        QTest::newRow("blank shared list")
            << false << QList<QByteArray>{""} << QByteArray("P1") << QList<QByteArray>{"M1"};
        QTest::newRow("whole store")
            << true << none << QByteArray("P1") << QList<QByteArray>{"M1", "M2"};
    }

    void calledPrograms()
    {
        QFETCH(bool, allMachines);
        QFETCH(QList<QByteArray>, shared);
        QFETCH(QByteArray, name);
        QFETCH(QList<QByteArray>, machines);
        StoreFixture::addProgram("M1", "P1");
        StoreFixture::addProgram("M1", "P'1");
        StoreFixture::addProgram("M2", "P1");
        StoreFixture::addProgram("M3", "P2");
        StoreFixture::addProgram("", "P1");
        Config().Port.CheckAllDataBase = allMachines;

        ProgramDatabase db;
        QVERIFY(OpenProgramDatabase(ProgramDatabasePath(), db));
        QSqlQuery q;
        QVERIFY(SelectCalledPrograms(db, name, MachineCondition("M1", shared), q));
        QCOMPARE(CountRecords(q), machines.size());
        QList<QByteArray> found;
        for (bool row = q.first(); row; row = q.next())
            found << ProgramRecordOf(q).RefMO;
        std::sort(found.begin(), found.end());
        QCOMPARE(found, machines);
        QCOMPARE(StoreFixture::value(QStringLiteral("SELECT COUNT(*) FROM PROGRAMME")).toInt(), 5);
    }

    void insertUploadRecord_data()
    {
        QTest::addColumn<QByteArray>("machine");
        QTest::addColumn<QList<QByteArray>>("fields");
        QTest::addColumn<int>("program");
        QTest::addColumn<QList<QByteArray>>("stored"); // RefMO, Champ1 to Champ5

        QTest::newRow("unidentified, no machine, empty fields")
            << QByteArray() << QList<QByteArray>{"A", "", "C", ""} << 0
            << QList<QByteArray>{"<Non identifi\xe9"
                                 "e>",
                                 "A",
                                 "<Non identifi\xe9>",
                                 "C",
                                 "<Non identifi\xe9>",
                                 ""};
        QTest::newRow("identified, apostrophes become blanks")
            << QByteArray("M'1") << QList<QByteArray>{"L'AXE", "B", "C", "D", "E"} << 5
            << QList<QByteArray>{"M'1", "L AXE", "B", "C", "D", ""};
    }

    void insertUploadRecord()
    {
        QFETCH(QByteArray, machine);
        QFETCH(QList<QByteArray>, fields);
        QFETCH(int, program);
        QFETCH(QList<QByteArray>, stored);
        describeFields(4, {});
        ProgramDatabase db;
        QVERIFY(OpenProgramDatabase(ProgramDatabasePath(), db));
        for (int i = 1; i <= 7; ++i)
            QCOMPARE(InsertUploadRecord(header(machine, fields), db, program), i);

        QSqlQuery q;
        QVERIFY(db.exec(q, QStringLiteral("SELECT * FROM FROMCN WHERE CodeFromCN=7")) && q.next());
        QList<QByteArray> row{TextOf(q.value(QStringLiteral("RefMO")))};
        for (int i = 1; i <= 5; ++i)
            row << TextOf(q.value(QStringLiteral("Champ%1").arg(i)));
        QCOMPARE(row, stored);
        QCOMPARE(TextOf(q.value(QStringLiteral("Champ16"))), QByteArray());
        QCOMPARE(q.value(QStringLiteral("Recorded")).toInt(), 0);
        QCOMPARE(q.value(QStringLiteral("CodeProg")).toInt(), program);
        // Read on Windows by the program-management application.
        QCOMPARE(q.value(QStringLiteral("FilePathProg")).toString(), u".\\FROMCN\\ISO00007.txt"_s);
        QCOMPARE(StoreFixture::value(QStringLiteral("SELECT COUNT(*) FROM FROMCN WHERE Champ16=''"))
                     .toInt(),
                 7);
    }

    void identifyUpload_data()
    {
        QTest::addColumn<QList<QByteArray>>("fields");
        QTest::addColumn<QList<int>>("indexed");
        QTest::addColumn<int>("known");
        QTest::addColumn<int>("expected");

        QTest::newRow("both indexed fields match")
            << QList<QByteArray>{"BRIDE", "12"} << QList<int>{1, 2} << 0 << 2;
        QTest::newRow("apostrophe searched as a blank")
            << QList<QByteArray>{"L'AXE", "7"} << QList<int>{1, 2} << 0 << 3;
        QTest::newRow("not indexed field ignored")
            << QList<QByteArray>{"BRIDE", "99"} << QList<int>{1} << 0 << 2;
        QTest::newRow("no match") << QList<QByteArray>{"BRIDE", "99"} << QList<int>{1, 2} << 0 << 0;
        QTest::newRow("nothing identifies")
            << QList<QByteArray>{"BRIDE", "12"} << QList<int>{} << 0 << 0;
        QTest::newRow("known code") << QList<QByteArray>{} << QList<int>{} << 3 << 3;
        QTest::newRow("known code of another machine")
            << QList<QByteArray>{} << QList<int>{} << 1 << 0;
    }

    void identifyUpload()
    {
        QFETCH(QList<QByteArray>, fields);
        QFETCH(QList<int>, indexed);
        QFETCH(int, known);
        QFETCH(int, expected);
        StoreFixture::addProgram("M2", "P1", {{1, "BRIDE"}, {2, "12"}});
        StoreFixture::addProgram("M1", "P1", {{1, "BRIDE"}, {2, "12"}});
        StoreFixture::addProgram("M1", "P2", {{1, "L AXE"}, {2, "7"}});
        StoreFixture::addProgram("M1", "P3", {{1, "BRIDE"}, {2, "13"}});
        describeFields(2, indexed);
        ProgramDatabase db;
        QVERIFY(OpenProgramDatabase(ProgramDatabasePath(), db));
        QCOMPARE(IdentifyUpload(db, header("M1", fields), known), expected);
    }

    void replaceProgramByUpload_data()
    {
        QTest::addColumn<int>("program");
        QTest::addColumn<int>("upload");
        QTest::addColumn<bool>("uploadText");
        QTest::addColumn<bool>("replaced"); // recorded, EtatProg 3, true
        QTest::newRow("replaced twice") << 1 << 1 << true << true;
        QTest::newRow("no upload code") << 1 << 0 << true << false;
        QTest::newRow("upload text missing: recorded, text kept") << 1 << 1 << false << true;
    }

    void replaceProgramByUpload()
    {
        QFETCH(int, program);
        QFETCH(int, upload);
        QFETCH(bool, uploadText);
        QFETCH(bool, replaced);
        StoreFixture::addProgram("M1", "P1");
        const QString programText = ProgramFilePath(ProgramTextPath, 1);
        StoreFixture::writeFile(programText, "V0\r\n");
        ProgramDatabase db;
        QVERIFY(OpenProgramDatabase(ProgramDatabasePath(), db));
        InsertUploadRecord(header("M1", {}), db, 0);
        for (const QByteArray& version : {QByteArray("V1\r\n"), QByteArray("V2\r\n")}) {
            if (uploadText)
                StoreFixture::writeFile(ProgramFilePath(UploadTextPath, 1), version);
            QCOMPARE(ReplaceProgramByUpload(program, upload, db), replaced);
        }
        const QString first = m_store.path(QStringLiteral("data/ProgCN/ISO00001_1.txt"));
        const QString second = m_store.path(QStringLiteral("data/ProgCN/ISO00001_2.txt"));
        const bool copied = replaced && uploadText;
        QCOMPARE(StoreFixture::readFile(programText), copied ? "V2\r\n" : "V0\r\n");
        QCOMPARE(StoreFixture::readFile(first), copied ? "V0\r\n" : "<missing>");
        QCOMPARE(StoreFixture::readFile(second), copied ? "V1\r\n" : "<missing>");
        QCOMPARE(StoreFixture::value(QStringLiteral("SELECT EtatProg FROM PROGRAMME")).toInt(),
                 replaced ? 3 : 0);
        QCOMPARE(StoreFixture::value(QStringLiteral("SELECT Recorded FROM FROMCN")).toInt(),
                 replaced ? 1 : 0);
    }

    void journal_data()
    {
        QTest::addColumn<bool>("on");
        QTest::addColumn<int>("program");
        QTest::addColumn<QList<int>>("codes");
        QTest::addColumn<QList<QByteArray>>("entries"); // Champ4 and Champ5 of each record

        QTest::newRow("send and upload") << true << 1 << QList<int>{102, 903, 700}
                                         << QList<QByteArray>{"ENVOI/PROG-A", "REMONTEE/UPL-A"};
        QTest::newRow("a repeated call is written once")
            << true << 1 << QList<int>{903, 903, 102, 903}
            << QList<QByteArray>{"ENVOI/PROG-A", "ENVOI/PROG-A"};
        QTest::newRow("journal off") << false << 1 << QList<int>{903, 700} << QList<QByteArray>{};
        QTest::newRow("no current program")
            << true << 0 << QList<int>{903, 700} << QList<QByteArray>{};
        QTest::newRow("code 0") << true << 1 << QList<int>{0} << QList<QByteArray>{};
    }

    void journal()
    {
        QFETCH(bool, on);
        QFETCH(int, program);
        QFETCH(QList<int>, codes);
        QFETCH(QList<QByteArray>, entries);
        describeFields(1, {});
        StoreFixture::addProgram("M1", "P1", {{1, "PROG-A"}});
        ProgramDatabase db;
        QVERIFY(OpenProgramDatabase(ProgramDatabasePath(), db));
        const qint32 upload = InsertUploadRecord(header("M1", {"UPL-A"}), db, 0);
        Config().JournalEvenements = on;
        for (int code : codes)
            WriteJournalEntry(code, program, upload, false);

        ProgramDatabase journal;
        QVERIFY(OpenProgramDatabase(JournalDatabasePath(), journal));
        QSqlQuery q;
        QVERIFY(journal.exec(q, QStringLiteral("SELECT * FROM JOURNAL ORDER BY CodeJournal")));
        QList<QByteArray> found;
        while (q.next()) {
            QCOMPARE(q.value(QStringLiteral("CodeProg")).toString(), QString::number(program));
            QCOMPARE(q.value(QStringLiteral("Champ3")).toString(), QStringLiteral("M1"));
            QVERIFY(q.value(QStringLiteral("Champ1")).toString().contains(QLatin1Char('/')));
            found << TextOf(q.value(QStringLiteral("Champ4"))) + '/' +
                         TextOf(q.value(QStringLiteral("Champ5")));
        }
        QCOMPARE(found, entries);
    }

    void fillListFromQuery_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("table");
        QTest::addColumn<bool>("distinct");
        QTest::addColumn<bool>("ownMachine");
        QTest::addColumn<QList<QByteArray>>("expected");

        QTest::newRow("distinct machines")
            << u"RefMO"_s << u"PROGRAMME"_s << true << false << QList<QByteArray>{"M'2", "M1"};
        QTest::newRow("calls of one machine, bound condition")
            << u"ProgAppel"_s << u"PROGRAMME"_s << false << true << QList<QByteArray>{"P1", "P1"};
        QTest::newRow("field that is no name")
            << u"RefMO FROM PROGRAMME; DROP TABLE PROGRAMME; --"_s << u"PROGRAMME"_s << false
            << false << QList<QByteArray>{};
    }

    void fillListFromQuery()
    {
        QFETCH(QString, field);
        QFETCH(QString, table);
        QFETCH(bool, distinct);
        QFETCH(bool, ownMachine);
        QFETCH(QList<QByteArray>, expected);
        StoreFixture::addProgram("M1", "P1");
        StoreFixture::addProgram("M1", "P1");
        StoreFixture::addProgram("M'2", "P2");
        ProgramDatabase db;
        QVERIFY(OpenProgramDatabase(ProgramDatabasePath(), db));
        QList<QByteArray> list{"stale"};
        FillListFromQuery(db, field, table,
                          ownMachine ? MachineCondition("M1", {}) : SqlCondition(), list, distinct);
        std::sort(list.begin(), list.end());
        QCOMPARE(list, expected);
        QSqlQuery newest;
        QVERIFY(SelectMachinePrograms(db, "M1", newest) && newest.next());
        QCOMPARE(ProgramRecordOf(newest).CodeProg, 2);
        QCOMPARE(StoreFixture::value(QStringLiteral("SELECT COUNT(*) FROM PROGRAMME")).toInt(), 3);
    }
};

QTEST_GUILESS_MAIN(TestProgramStore)
#include "tst_programstore.moc"
