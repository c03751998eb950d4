// Stand-in for the program-management application in the concurrency test:
// writes PROGRAMME and FROMCN of a store in a loop, each round one
// transaction, until the stop file appears. Prints its rounds and failures.
//   store_peer STORE STOPFILE

#include "platform/Clock.h"

#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3)
        return 64;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peer"));
    db.setDatabaseName(args[1]);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open())
        return 2;
    int rounds = 0;
    int failures = 0;
    QString lastError;
    while (!QFile::exists(args[2])) {
        QSqlQuery q(db);
        bool ok = q.exec(QStringLiteral("BEGIN IMMEDIATE"));
        for (int i = 0; ok && i < 20; ++i)
            ok = q.exec(QStringLiteral("INSERT INTO PROGRAMME (RefMO, ProgAppel, Champ1, Champ2) "
                                       "VALUES ('PEER', 'PX', 'AUTRE', 'P')"));
        ok = ok && q.exec(QStringLiteral("INSERT INTO FROMCN (RefMO, Recorded, CodeProg) "
                                         "VALUES ('PEER', 0, 0)"));
        ok = ok && q.exec(QStringLiteral(
                       "UPDATE FROMCN SET Recorded=1 WHERE RefMO='PEER' AND Recorded=0"));
        ok = ok && q.exec(QStringLiteral("UPDATE PROGRAMME SET EtatProg=EtatProg+1 WHERE CodeProg "
                                         "IN (SELECT CodeProg FROM PROGRAMME WHERE RefMO='PEER' "
                                         "ORDER BY CodeProg DESC LIMIT 10)"));
        // A long batch now and then, longer than the engine makes a writer wait.
        if (ok && rounds % 16 == 15)
            nodalis::Pause(150);
        if (ok)
            ok = q.exec(QStringLiteral("COMMIT"));
        if (!ok) {
            lastError = q.lastError().text();
            q.exec(QStringLiteral("ROLLBACK"));
        }
        ok ? ++rounds : ++failures;
        nodalis::Pause(8);
    }
    std::printf("%d %d %s\n", rounds, failures, qPrintable(lastError));
    return 0;
}
