// The program store, on SQLite and on PostgreSQL: lookups by call name and
// machine, upload records, replacements and the journal; and
// nodalisctl store, with which a shop fills and reads its store without the
// program-management application. Waiting out a locked store is tested
// beside a second process (tst_storeconcurrency).

#include "StoreFixture.h"
#include "ctl/CtlOptions.h"
#include "ctl/StoreAdmin.h"

#include "store/ProgramJournal.h"
#include "store/ProgramRecords.h"

using namespace nodalis;
using namespace nodalis::test;
using namespace Qt::StringLiterals;

using Texts = QList<QByteArray>;

class TestProgramStore : public QObject
{
    Q_OBJECT

private:
    StoreFixture m_store;
    QTemporaryDir m_admin; // nodalisctl's base folder, kept from one command to the next

    // Runs "nodalisctl LINE"; its exit status and what it printed.
    static int runCtl(const QString& line, QString& out)
    {
        const ctl::CtlOptions o = ctl::CtlOptions::Parse(u"nodalisctl "_s.append(line).split(u' '));
        if (!o.error.isEmpty())
            return ctl::StoreUsage;
        QString err;
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        return ctl::RunStoreCommand(o.baseFolder, o.arguments, outStream, errStream);
    }

    static HeaderValues header(const QByteArray& machine, const Texts& fields)
    {
        HeaderValues h;
        h.Machine = machine;
        h.Fields = Texts{QByteArray()} + fields;
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
    void initTestCase_data() { addStoreEngines(); }
    void initTestCase()
    {
        writeFile(m_admin.filePath(u"Nodalis.ini"_s),
                  "[DNC]\r\nPathData=" + m_admin.filePath(u"data"_s).toLocal8Bit() +
                      "\r\n[RECORDFIELDS]\r\nNbBDFields=1\r\nRefChamp1=PIECE\r\n");
        writeFile(m_admin.filePath(u"p.nc"_s), "%\r\nO12\r\nM30\r\n%\r\n");
    }
    void init() { NODALIS_STORE_RESET(m_store); }
    void cleanup() { Clock::setScale(1.0); }
    void cleanupTestCase() { PgServer::instance().stop(); }

    void calledPrograms_data()
    {
        QTest::addColumn<bool>("allMachines");
        QTest::addColumn<Texts>("shared");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<Texts>("machines");
        const Texts none;
        QTest::newRow("own machine") << false << none << QByteArray(" P1 ") << Texts{"M1"};
        QTest::newRow("quote in the name") << false << none << QByteArray("P'1") << Texts{"M1"};
        QTest::newRow("shared list replaces the own machine")
            << false << Texts{"M2", " ", "M3"} << QByteArray("P1") << Texts{"M2"};
        QTest::newRow("blank shared list") << false << Texts{""} << QByteArray("P1") << Texts{"M1"};
        QTest::newRow("whole store") << true << none << QByteArray("P1") << Texts{"M1", "M2"};
    }

    void calledPrograms()
    {
        QFETCH(bool, allMachines);
        QFETCH(Texts, shared);
        QFETCH(QByteArray, name);
        QFETCH(Texts, machines);
        addProgram("M1", "P1");
        addProgram("M1", "P'1");
        addProgram("M2", "P1");
        addProgram("M3", "P2");
        addProgram("", "P1");
        Config().Port.CheckAllDataBase = allMachines;

        ProgramDatabase db;
        QVERIFY(OpenProgramDatabase(ProgramDatabasePath(), db));
        QSqlQuery q;
        QVERIFY(SelectCalledPrograms(db, name, MachineCondition("M1", shared), q));
        QCOMPARE(CountRecords(q), machines.size());
        Texts found;
        for (bool row = q.first(); row; row = q.next())
            found << ProgramRecordOf(q).RefMO;
        std::sort(found.begin(), found.end());
        QCOMPARE(found, machines);
        QCOMPARE(value(u"SELECT COUNT(*) FROM PROGRAMME"_s).toInt(), 5);
    }

    void insertUploadRecord_data()
    {
        QTest::addColumn<QByteArray>("machine");
        QTest::addColumn<Texts>("fields");
        QTest::addColumn<int>("program");
        QTest::addColumn<Texts>("stored"); // RefMO, Champ1 to Champ5
        QTest::newRow("unidentified, no machine, empty fields")
            << QByteArray() << Texts{"A", "", "C", ""} << 0
            << Texts{"<Non identifi\xe9\x65>", "A", "<Non identifi\xe9>", "C",
                     "<Non identifi\xe9>",     ""};
        QTest::newRow("identified, apostrophes become blanks")
            << QByteArray("M'1") << Texts{"L'AXE", "B", "C", "D", "E"} << 5
            << Texts{"M'1", "L AXE", "B", "C", "D", ""};
    }

    void insertUploadRecord()
    {
        QFETCH(QByteArray, machine);
        QFETCH(Texts, fields);
        QFETCH(int, program);
        QFETCH(Texts, stored);
        describeFields(4, {});
        ProgramDatabase db;
        QVERIFY(OpenProgramDatabase(ProgramDatabasePath(), db));
        for (int i = 1; i <= 7; ++i)
            QCOMPARE(InsertUploadRecord(header(machine, fields), db, program), i);

        QSqlQuery q;
        QVERIFY(db.exec(q, u"SELECT * FROM FROMCN WHERE CodeFromCN=7"_s) && q.next());
        Texts row{TextOf(q.value(u"RefMO"_s))};
        for (int i = 1; i <= 5; ++i)
            row << TextOf(q.value(u"Champ%1"_s.arg(i)));
        QCOMPARE(row, stored);
        QCOMPARE(TextOf(q.value(u"Champ16"_s)), QByteArray());
        QCOMPARE(q.value(u"Recorded"_s).toInt(), 0);
        QCOMPARE(q.value(u"CodeProg"_s).toInt(), program);
        // Read on Windows by the program-management application.
        QCOMPARE(q.value(u"FilePathProg"_s).toString(), u".\\FROMCN\\ISO00007.txt"_s);
        QCOMPARE(value(u"SELECT COUNT(*) FROM FROMCN WHERE Champ16=''"_s).toInt(), 7);
    }

    void identifyUpload_data()
    {
        QTest::addColumn<Texts>("fields");
        QTest::addColumn<QList<int>>("indexed");
        QTest::addColumn<int>("known");
        QTest::addColumn<int>("expected");
        QTest::newRow("both indexed fields match")
            << Texts{"BRIDE", "12"} << QList<int>{1, 2} << 0 << 2;
        QTest::newRow("apostrophe searched as a blank")
            << Texts{"L'AXE", "7"} << QList<int>{1, 2} << 0 << 3;
        QTest::newRow("not indexed field ignored")
            << Texts{"BRIDE", "99"} << QList<int>{1} << 0 << 2;
        QTest::newRow("no match") << Texts{"BRIDE", "99"} << QList<int>{1, 2} << 0 << 0;
        QTest::newRow("nothing identifies") << Texts{"BRIDE", "12"} << QList<int>{} << 0 << 0;
        QTest::newRow("known code") << Texts{} << QList<int>{} << 3 << 3;
        QTest::newRow("known code of another machine") << Texts{} << QList<int>{} << 1 << 0;
    }

    void identifyUpload()
    {
        QFETCH(Texts, fields);
        QFETCH(QList<int>, indexed);
        QFETCH(int, known);
        QFETCH(int, expected);
        addProgram("M2", "P1", {{1, "BRIDE"}, {2, "12"}});
        addProgram("M1", "P1", {{1, "BRIDE"}, {2, "12"}});
        addProgram("M1", "P2", {{1, "L AXE"}, {2, "7"}});
        addProgram("M1", "P3", {{1, "BRIDE"}, {2, "13"}});
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
        addProgram("M1", "P1");
        const QString programText = ProgramFilePath(ProgramTextPath, 1);
        writeFile(programText, "V0\r\n");
        ProgramDatabase db;
        QVERIFY(OpenProgramDatabase(ProgramDatabasePath(), db));
        InsertUploadRecord(header("M1", {}), db, 0);
        for (const QByteArray& version : {QByteArray("V1\r\n"), QByteArray("V2\r\n")}) {
            if (uploadText)
                writeFile(ProgramFilePath(UploadTextPath, 1), version);
            QCOMPARE(ReplaceProgramByUpload(program, upload, db), replaced);
        }
        const QString first = m_store.path(u"data/ProgCN/ISO00001_1.txt"_s);
        const QString second = m_store.path(u"data/ProgCN/ISO00001_2.txt"_s);
        const bool copied = replaced && uploadText;
        QCOMPARE(readFile(programText), copied ? "V2\r\n" : "V0\r\n");
        QCOMPARE(readFile(first), copied ? "V0\r\n" : "<missing>");
        QCOMPARE(readFile(second), copied ? "V1\r\n" : "<missing>");
        QCOMPARE(value(u"SELECT EtatProg FROM PROGRAMME"_s).toInt(), replaced ? 3 : 0);
        QCOMPARE(value(u"SELECT Recorded FROM FROMCN"_s).toInt(), replaced ? 1 : 0);
    }

    void journal_data()
    {
        QTest::addColumn<bool>("on");
        QTest::addColumn<int>("program");
        QTest::addColumn<QList<int>>("codes");
        QTest::addColumn<Texts>("entries"); // Champ4 and Champ5 of each record
        QTest::newRow("send and upload")
            << true << 1 << QList<int>{102, 903, 700} << Texts{"ENVOI/PROG-A", "REMONTEE/UPL-A"};
        QTest::newRow("a repeated call is written once")
            << true << 1 << QList<int>{903, 903, 102, 903} << Texts{"ENVOI/PROG-A", "ENVOI/PROG-A"};
        QTest::newRow("journal off") << false << 1 << QList<int>{903, 700} << Texts{};
        QTest::newRow("no current program") << true << 0 << QList<int>{903, 700} << Texts{};
    }

    void journal()
    {
        QFETCH(bool, on);
        QFETCH(int, program);
        QFETCH(QList<int>, codes);
        QFETCH(Texts, entries);
        describeFields(1, {});
        addProgram("M1", "P1", {{1, "PROG-A"}});
        ProgramDatabase db;
        QVERIFY(OpenProgramDatabase(ProgramDatabasePath(), db));
        const qint32 upload = InsertUploadRecord(header("M1", {"UPL-A"}), db, 0);
        Config().JournalEvenements = on;
        for (int code : codes)
            WriteJournalEntry(code, program, upload, false);

        ProgramDatabase journal;
        QVERIFY(OpenProgramDatabase(JournalDatabasePath(), journal));
        QSqlQuery q;
        QVERIFY(journal.exec(q, u"SELECT * FROM JOURNAL ORDER BY CodeJournal"_s));
        Texts found;
        while (q.next()) {
            QCOMPARE(q.value(u"CodeProg"_s).toString(), QString::number(program));
            QCOMPARE(q.value(u"Champ3"_s).toString(), u"M1"_s);
            QVERIFY(q.value(u"Champ1"_s).toString().contains(QLatin1Char('/')));
            found << TextOf(q.value(u"Champ4"_s)) + '/' + TextOf(q.value(u"Champ5"_s));
        }
        QCOMPARE(found, entries);
    }

    // A database server restarted between two uploads: the connection kept
    // from the first is dead, and the second upload gets its record anyway.
    void serverRestartIsRiddenOut()
    {
        if (!m_store.postgres())
            QSKIP("SQLite has no server");
        ProgramDatabase db;
        QVERIFY(OpenProgramDatabase(ProgramDatabasePath(), db));
        QCOMPARE(InsertUploadRecord(header("M1", {}), db, 0), 1);
        db.close(); // kept for the next operation
        QVERIFY(PgServer::instance().restart());
        QVERIFY(OpenProgramDatabase(ProgramDatabasePath(), db));
        QCOMPARE(InsertUploadRecord(header("M1", {}), db, 0), 2);
        QCOMPARE(value(u"SELECT COUNT(*) FROM FROMCN"_s).toInt(), 2);
    }

    // The rows run in order on one store.
    void storeCommands_data()
    {
        QTest::addColumn<QString>("line"); // after "nodalisctl --base DIR"
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output");
        QTest::newRow("init") << u"store init"_s << 0 << u"store ready: "_s;
        QTest::newRow("init again changes nothing") << u"store init"_s << 0 << u"store ready: "_s;
        QTest::newRow("add") << u"store add --machine M1 --call P'1 --file FILE --field 1=BRIDE "
                                "--downloadable 1"_s
                             << 0 << u"1\n"_s;
        QTest::newRow("add, options after --base") << u"store add --call P2 --base DIR --machine "
                                                      "M2 --file FILE"_s
                                                   << 0 << u"2\n"_s;
        QTest::newRow("add a missing file")
            << u"store add --machine M1 --call P3 --file FILE.none"_s << 1 << QString();
        QTest::newRow("list one machine")
            << u"store list --machine M1"_s << 0
            << u"CodeProg\tRefMO\tProgAppel\tDownloadable\tEtatProg\n1\tM1\tP'1\t1\t0\n"_s;
        QTest::newRow("show") << u"store show 2"_s << 0 << u"ProgAppel: P2\n"_s;
        QTest::newRow("show a field by its name")
            << u"store show 1"_s << 0 << u"Champ1 (PIECE): BRIDE\n"_s;
        QTest::newRow("show an unknown code") << u"store show 9"_s << 1 << QString();
        QTest::newRow("unknown sub-command") << u"store drop"_s << 64 << QString();
    }

    void storeCommands()
    {
        QFETCH(QString, line);
        QFETCH(int, status);
        QFETCH(QString, output);
        if (m_store.postgres())
            QSKIP("nodalisctl on PostgreSQL runs in the whole-process test");
        QString out;
        line.replace(u"FILE"_s, m_admin.filePath(u"p.nc"_s)).replace(u"DIR"_s, m_admin.path());
        QCOMPARE(runCtl(u"--base "_s + m_admin.path() + u' ' + line, out), status);
        QVERIFY2(out.contains(output), qPrintable(out));
        if (qstrcmp(QTest::currentDataTag(), "add") == 0)
            QCOMPARE(readFile(ProgramFilePath(ProgramTextPath, 1)), "%\r\nO12\r\nM30\r\n%\r\n");
    }
};

QTEST_GUILESS_MAIN(TestProgramStore)
#include "tst_programstore.moc"
