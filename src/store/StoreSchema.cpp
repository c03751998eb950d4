#include "store/StoreSchema.h"

#include "startup/Settings.h"
#include "store/FileUtils.h"
#include "store/ProgramDatabase.h"
#include "store/ProgramRecords.h"
#include "store/TextUtils.h"

#include <QStringList>

namespace nodalis {

namespace {

// Column types in each engine's own words. Keys never come back after a
// delete, so an upload text file is never named twice.
struct ColumnTypes
{
    QString key;
    QString text;
    QString integer;
    bool ifNotExists = true;
};

ColumnTypes typesOf(const QString& driver)
{
    if (driver == QLatin1String("QPSQL"))
        return {QStringLiteral("SERIAL PRIMARY KEY"), QStringLiteral("TEXT"),
                QStringLiteral("INTEGER"), true};
    if (driver == QLatin1String("QODBC"))
        return {QStringLiteral("COUNTER PRIMARY KEY"), QStringLiteral("VARCHAR(255)"),
                QStringLiteral("INTEGER"), false};
    return {QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT"), QStringLiteral("TEXT"),
            QStringLiteral("INTEGER"), true};
}

QString champs(int from, int to, const QString& type)
{
    QStringList columns;
    for (int i = from; i <= to; ++i)
        columns << QStringLiteral("Champ%1 %2").arg(i).arg(type);
    return columns.join(QStringLiteral(", "));
}

bool hasTable(ProgramDatabase& db, const QString& table)
{
    return db.connection().tables().contains(table, Qt::CaseInsensitive);
}

bool createTable(ProgramDatabase& db, const QString& table, const QString& columns)
{
    if (hasTable(db, table))
        return true;
    QSqlQuery q;
    return db.exec(q, QStringLiteral("CREATE TABLE %1 (%2)").arg(table, columns));
}

// An engine without IF NOT EXISTS refuses an index it has: that is fine.
void createIndex(ProgramDatabase& db, const QString& name, const QString& table,
                 const QString& columns)
{
    const bool ifNotExists = typesOf(db.driver()).ifNotExists;
    QSqlQuery q;
    db.exec(q, QStringLiteral("CREATE INDEX %1%2 ON %3 (%4)")
                   .arg(ifNotExists ? QStringLiteral("IF NOT EXISTS ") : QString(), name, table,
                        columns));
}

} // namespace

bool CreateProgramTables(ProgramDatabase& db)
{
    const ColumnTypes t = typesOf(db.driver());
    // Champ1 to Champ16 at the ordinal positions 6 to 21, as the
    // program-management application lays the table out.
    const QString programme =
        QStringLiteral("CodeProg %1, RefMO %2, ProgAppel %2, Downloadable %3 DEFAULT 0, "
                       "EtatProg %3 DEFAULT 0, Localisation %3 DEFAULT 0, %4, Ddu %2, Par %2")
            .arg(t.key, t.text, t.integer, champs(1, StoreFieldCount, t.text));
    const QString fromcn =
        QStringLiteral("CodeFromCN %1, RefMO %2, %4, ddT %2, hdT %2, Recorded %3 DEFAULT 0, "
                       "CodeProg %3 DEFAULT 0, FilePathProg %2")
            .arg(t.key, t.text, t.integer, champs(1, StoreFieldCount, t.text));
    if (!createTable(db, QStringLiteral("PROGRAMME"), programme) ||
        !createTable(db, QStringLiteral("FROMCN"), fromcn))
        return false;

    const QString programmeTable = QStringLiteral("PROGRAMME");
    createIndex(db, QStringLiteral("IX_PROGRAMME_Appel"), programmeTable,
                QStringLiteral("ProgAppel, RefMO"));
    createIndex(db, QStringLiteral("IX_PROGRAMME_RefMO"), programmeTable,
                QStringLiteral("RefMO, CodeProg"));
    createIndex(db, QStringLiteral("IX_FROMCN_CodeProg"), QStringLiteral("FROMCN"),
                QStringLiteral("CodeProg, Recorded"));
    for (int i : IdentificationFields())
        createIndex(db, QStringLiteral("IX_PROGRAMME_Champ%1").arg(i), programmeTable,
                    QStringLiteral("Champ%1").arg(i));
    return true;
}

bool CreateJournalTable(ProgramDatabase& db)
{
    const ColumnTypes t = typesOf(db.driver());
    return createTable(db, QStringLiteral("JOURNAL"),
                       QStringLiteral("CodeJournal %1, CodeProg %2, %3")
                           .arg(t.key, t.text, champs(1, 20, t.text)));
}

bool CreateStore(QString* error)
{
    const Settings& s = Config();
    auto failed = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (s.PathData.isEmpty())
        return failed(QStringLiteral("PathData (section DNC) is empty"));
    const QStringList folders = {s.PathData, FolderOf(ProgramFilePath(ProgramTextPath, 1)),
                                 FolderOf(ProgramFilePath(UploadTextPath, 1))};
    for (const QString& folder : folders) {
        MakeFolders(folder);
        if (!FolderExists(folder))
            return failed(QStringLiteral("cannot create the folder %1").arg(folder));
    }
    ProgramDatabase programs;
    if (!OpenProgramDatabase(ProgramDatabasePath(), programs, true) ||
        !CreateProgramTables(programs))
        return failed(QStringLiteral("program database %1: %2")
                          .arg(ProgramDatabasePath(), programs.errorText()));
    ProgramDatabase journal;
    if (!OpenProgramDatabase(JournalDatabasePath(), journal, true) || !CreateJournalTable(journal))
        return failed(QStringLiteral("journal database %1: %2")
                          .arg(JournalDatabasePath(), journal.errorText()));
    return true;
}

} // namespace nodalis
