#pragma once

#include <QByteArray>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <functional>

namespace nodalis {

// The program store is shared with the program-management application: two
// databases (programs and uploads, and the journal), each taken for the time
// of one operation. The connection behind it stays open between operations
// (dropped after an error, or when the store's file was replaced). SQLite
// files in PathData by default; DbDriver chooses an ODBC data source or a
// PostgreSQL server instead.

// Qt Sql driver of the store: "QSQLITE", "QODBC" or "QPSQL".
QString StoreDriverName();

// Where the store is, for people: its files, or the database server's user,
// host, port and database (never the password).
QString StoreLocation();

// The two databases. SQLite: PathData + Talmiron.db and JournalProg.db.
// ODBC without DbName: the Access files Talmiron.mdb and JournalProg.mdb.
// A data source (DbName) or a PostgreSQL database holds all the tables and
// is the same for both.
QString ProgramDatabasePath();
QString JournalDatabasePath();

// How long a store locked by another writer is waited for (server time),
// and the engine's own wait before it hands a lock back to us.
inline constexpr qint64 StoreBusyTimeOutMs = 15000;
inline constexpr int StoreEngineBusyMs = 50;

// One open connection to a database of the store; closed when it goes.
// Values never reach the SQL text unquoted: statements are prepared and their
// values bound, or on PostgreSQL quoted by its driver.
class ProgramDatabase
{
public:
    ProgramDatabase() = default;
    ~ProgramDatabase();
    ProgramDatabase(const ProgramDatabase&) = delete;
    ProgramDatabase& operator=(const ProgramDatabase&) = delete;

    bool isOpen() const;
    QSqlDatabase connection() const;
    const QString& driver() const { return m_driver; }
    // The engine's text of the last failure.
    const QString& errorText() const { return m_error; }

    // Runs one statement with its values bound in order into query. While
    // another writer holds the store, or its database server is restarting,
    // the statement is run again (outside a write(), up to
    // StoreBusyTimeOutMs). False with errorText() set.
    bool exec(QSqlQuery& query, const QString& sql, const QVariantList& values = {});

    // Runs work inside one transaction; when the store was locked under it,
    // or its server went away, rolls back (the server did) and runs it again
    // from the start, up to StoreBusyTimeOutMs.
    // True when work succeeded and was committed.
    bool write(const std::function<bool()>& work);

    // The key the database gave the row that query has just inserted; 0
    // when it cannot tell.
    qint64 insertedKey(const QSqlQuery& query);

    void close();

private:
    friend bool OpenProgramDatabase(const QString& path, ProgramDatabase& db, bool create);
    // One try of exec().
    bool run(QSqlQuery& query, const QString& sql, const QVariantList& values);
    // sql with each "?" outside quotes replaced by its value, quoted by the
    // driver (escaping included).
    QString withValues(const QString& sql, const QVariantList& values) const;
    bool busy(const QSqlError& error) const;
    // The database server went away under the connection.
    bool lost(const QSqlError& error) const;
    // Opens the same database anew, waiting for its server up to
    // StoreBusyTimeOutMs from start.
    bool reconnect(qint64 start);
    bool fail(const QSqlError& error);

    QString m_name;
    QString m_path;
    QString m_key;     // what the connection connects to
    QByteArray m_file; // the SQLite file it opened (FileIdentity)
    bool m_broken = false;
    QString m_driver;
    QString m_error;
    bool m_lastBusy = false;
    bool m_lastLost = false;
    int m_transactionDepth = 0;
};

// Opens the database at path (ProgramDatabasePath() or JournalDatabasePath())
// into db. A missing SQLite file is an error unless create is set. False on
// any failure, without a message: the caller decides what it means.
bool OpenProgramDatabase(const QString& path, ProgramDatabase& db, bool create = false);

// As OpenProgramDatabase, but a database server that cannot be reached (it
// is restarting, the network is down) is waited for, up to
// StoreBusyTimeOutMs: for what must not be lost, an upload's record.
bool AwaitProgramDatabase(const QString& path, ProgramDatabase& db);

// Texts of the store are the single-byte code page in our memory and
// Unicode text in the database.
QVariant SqlText(const QByteArray& text);
QByteArray TextOf(const QVariant& value);

} // namespace nodalis
