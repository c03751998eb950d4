#pragma once

// A temporary base folder holding an empty program store, for the tests of
// the store and of upload storage: SQLite files, or the tables of a private
// PostgreSQL cluster.

#include "dnc/EventMessages.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "platform/Clock.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"
#include "store/ProgramDatabase.h"
#include "store/StoreSchema.h"
#include "store/UploadRecords.h"
#include "support/PgServer.h"
#include "support/ProcessReset.h"

#include <QDir>
#include <QFile>
#include <QPair>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace nodalis::test {

// The engines every store test runs on, as the global data of a test.
inline void addStoreEngines()
{
    QTest::addColumn<QString>("engine");
    QTest::newRow("sqlite") << QStringLiteral("sqlite");
    QTest::newRow("postgresql") << QStringLiteral("postgresql");
}

class StoreFixture
{
public:
    QTemporaryDir dir;
    QString engine = QStringLiteral("sqlite");
    QString problem; // why the last reset failed

    QString path(const QString& relative) const
    {
        return QDir::toNativeSeparators(dir.path() + QLatin1Char('/') + relative);
    }

    bool postgres() const { return engine == QLatin1String("postgresql"); }

    // Fresh settings, paths and an empty store on the engine; waits 1000
    // times shorter.
    bool reset()
    {
        Clock::setScale(0.001);
        QDir(dir.path()).removeRecursively();
        QDir().mkpath(dir.path());
        ResetProcessState(dir.path());
        Config().PathData = path(QStringLiteral("data/"));
        Config().RefMO = "M1";
        Config().DncAppMode = 1;
        if (postgres() && !usePostgres(problem))
            return false;
        return CreateStore(&problem);
    }

    // Points the settings at the cluster's database, emptied.
    static bool usePostgres(QString& problem)
    {
        PgServer& server = PgServer::instance();
        if (!server.start()) {
            problem = server.why();
            return false;
        }
        Settings& s = Config();
        s.DbDriver = "PSQL";
        s.DbHost = "127.0.0.1";
        s.DbPort = server.port();
        s.DbName = "nodalis";
        s.DbUser = "nodalis";
        s.DbPassword = "nodalis-test";
        ProgramDatabase db;
        QSqlQuery q;
        if (OpenProgramDatabase(ProgramDatabasePath(), db) &&
            db.exec(q, QStringLiteral("DROP TABLE IF EXISTS PROGRAMME, FROMCN, JOURNAL")))
            return true;
        problem = db.errorText();
        return false;
    }
};

// Resets the fixture for the next case on the engine of the global data
// (addStoreEngines); skips it where PostgreSQL is not installed, and fails
// when the cluster does not start.
#define NODALIS_STORE_RESET(fixture)                                                               \
    do {                                                                                           \
        QFETCH_GLOBAL(QString, engine);                                                            \
        (fixture).engine = engine;                                                                 \
        if (!(fixture).reset()) {                                                                  \
            if ((fixture).postgres() && PgServer::instance().missing())                            \
                QSKIP(qPrintable(PgServer::instance().why()));                                     \
            QFAIL(qPrintable(QStringLiteral("no store: ") + (fixture).problem));                   \
        }                                                                                          \
    } while (false)

// Adds a program record; its CodeProg.
inline qint32 addProgram(const QByteArray& machine, const QByteArray& call,
                         const QList<QPair<int, QByteArray>>& fields = {}, int downloadable = 0)
{
    ProgramDatabase db;
    if (!OpenProgramDatabase(ProgramDatabasePath(), db))
        return 0;
    QString columns = QStringLiteral("RefMO, ProgAppel, Downloadable");
    QString marks = QStringLiteral("?, ?, ?");
    QVariantList values{SqlText(machine), SqlText(call), downloadable};
    for (const auto& [i, value] : fields) {
        columns += QStringLiteral(", Champ%1").arg(i);
        marks += QStringLiteral(", ?");
        values << SqlText(value);
    }
    QSqlQuery q;
    if (!db.exec(q, QStringLiteral("INSERT INTO PROGRAMME (%1) VALUES (%2)").arg(columns, marks),
                 values))
        return 0;
    return qint32(db.insertedKey(q));
}

// The first column of the first row of a query of the program database.
inline QVariant value(const QString& sql, const QVariantList& values = {})
{
    ProgramDatabase db;
    if (!OpenProgramDatabase(ProgramDatabasePath(), db))
        return QStringLiteral("<no store>");
    QSqlQuery q;
    if (!db.exec(q, sql, values) || !q.next())
        return QVariant();
    return q.value(0);
}

// The event codes of today's event log, in order.
inline QList<int> loggedEvents()
{
    QList<int> codes;
    QFile log(EventLogPath());
    if (!log.open(QIODevice::ReadOnly))
        return codes;
    static const QRegularExpression code(QStringLiteral("---Code(\\d+)---"));
    auto it = code.globalMatch(QString::fromLatin1(log.readAll()));
    while (it.hasNext())
        codes << it.next().captured(1).toInt();
    return codes;
}

// Header field 1 (PIECE) and the program number (field 2) identify uploads.
inline void identifyByPieceAndNumber()
{
    Settings& s = Config();
    s.CarDebProg = "O";
    s.CarDebCom = "(";
    s.CarCartouche = "*";
    s.NbBDFields = 2;
    s.RecordFields.resize(3);
    s.RecordFields[1] = {"PIECE", "PIECE", true};
    s.RecordFields[2] = {"PROG", "PROG", true, true};
}

inline void writeFile(const QString& file, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(file));
}

inline QByteArray readFile(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace nodalis::test
