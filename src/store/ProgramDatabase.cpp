#include "store/ProgramDatabase.h"

#include "platform/AnsiText.h"
#include "platform/Clock.h"
#include "platform/FileSync.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"
#include "store/TextUtils.h"

#include <QDir>
#include <QSqlDriver>
#include <QSqlField>

#include <deque>

namespace nodalis {

namespace {

const QString kSqlite = QStringLiteral("QSQLITE");
const QString kOdbc = QStringLiteral("QODBC");
const QString kPostgres = QStringLiteral("QPSQL");

// Step of our own wait for a locked store. The engine's wait is kept short
// and we ask again often: a writer that sleeps long between its tries loses
// every short gap that a busy program-management application leaves, and
// between steps a stop request or a socket is served.
constexpr qint64 kBusyStepMs = 5;
// Step of the wait for a database server that went away.
constexpr qint64 kReconnectStepMs = 200;
constexpr int kConnectTimeOutS = 5;

// Open connections no operation holds, newest first, a few at most.
struct KeptConnection
{
    QString key;
    QString name;
    QByteArray file;
};
constexpr std::size_t kKeptConnections = 4;

std::deque<KeptConnection>& keptConnections()
{
    static std::deque<KeptConnection> kept;
    return kept;
}

void dropConnection(const QString& name)
{
    {
        QSqlDatabase c = QSqlDatabase::database(name, false);
        if (c.isOpen())
            c.close();
    }
    QSqlDatabase::removeDatabase(name);
}

// Every kept connection to what key names: after one of them lost its
// server, the others have lost it too.
void dropKept(const QString& key)
{
    std::deque<KeptConnection>& kept = keptConnections();
    for (auto it = kept.begin(); it != kept.end();) {
        if (it->key == key) {
            dropConnection(it->name);
            it = kept.erase(it);
        } else {
            ++it;
        }
    }
}

// A server that refuses who we are, or knows no such database, will not
// change its mind while we wait.
bool refusedForGood(const QString& error)
{
    return error.contains(QLatin1String("authentication"), Qt::CaseInsensitive) ||
           error.contains(QLatin1String("does not exist")) ||
           error.contains(QLatin1String("pg_hba.conf")) ||
           error.contains(QLatin1String("no Qt Sql driver"));
}

// Opens path into db; a server that cannot be reached is waited for, up to
// StoreBusyTimeOutMs from start.
bool openWaiting(const QString& path, ProgramDatabase& db, qint64 start)
{
    for (;;) {
        if (OpenProgramDatabase(path, db))
            return true;
        if (db.driver() != kPostgres || refusedForGood(db.errorText()) ||
            Clock::nowMs() - start >= StoreBusyTimeOutMs)
            return false;
        Pause(kReconnectStepMs);
    }
}

QString accessConnection(const QString& path)
{
    return QStringLiteral("DRIVER={Microsoft Access Driver (*.mdb, *.accdb)};DBQ=") +
           QDir::toNativeSeparators(path);
}

} // namespace

QString StoreDriverName()
{
    const QByteArray name = TrimSpaces(Config().DbDriver).toUpper();
    if (name.isEmpty() || name == "SQLITE" || name == "QSQLITE")
        return kSqlite;
    if (name == "ODBC" || name == "QODBC")
        return kOdbc;
    if (name == "PSQL" || name == "QPSQL" || name == "POSTGRESQL" || name == "PGSQL")
        return kPostgres;
    return QString::fromLatin1(name);
}

QString StoreLocation()
{
    const QString driver = StoreDriverName();
    const Settings& s = Config();
    if (driver == kSqlite || (driver == kOdbc && s.DbName.isEmpty()))
        return QDir::toNativeSeparators(ProgramDatabasePath()) + QStringLiteral(", ") +
               QDir::toNativeSeparators(JournalDatabasePath());
    if (driver == kOdbc)
        return QStringLiteral("ODBC %1 (%2)").arg(fromAnsi(s.DbName), fromAnsi(s.DbUser));
    return QStringLiteral("%1 %2@%3:%4 %5")
        .arg(driver, fromAnsi(s.DbUser),
             s.DbHost.isEmpty() ? QStringLiteral("localhost") : fromAnsi(s.DbHost),
             s.DbPort > 0 ? QString::number(s.DbPort) : QStringLiteral("default"),
             fromAnsi(s.DbName));
}

QString ProgramDatabasePath()
{
    if (StoreDriverName() == kSqlite)
        return Config().PathData + QStringLiteral("Talmiron.db");
    return Config().PathDataBase;
}

QString JournalDatabasePath()
{
    if (StoreDriverName() == kSqlite)
        return Config().PathData + QStringLiteral("JournalProg.db");
    return Config().PathDataJournal;
}

ProgramDatabase::~ProgramDatabase()
{
    close();
}

bool ProgramDatabase::isOpen() const
{
    return !m_name.isEmpty() && connection().isOpen();
}

QSqlDatabase ProgramDatabase::connection() const
{
    return m_name.isEmpty() ? QSqlDatabase() : QSqlDatabase::database(m_name, false);
}

void ProgramDatabase::close()
{
    if (m_name.isEmpty())
        return;
    // A sound connection is kept for the next operation.
    if (!m_broken && m_transactionDepth == 0 && connection().isOpen()) {
        std::deque<KeptConnection>& kept = keptConnections();
        kept.push_front({m_key, m_name, m_file});
        while (kept.size() > kKeptConnections) {
            dropConnection(kept.back().name);
            kept.pop_back();
        }
    } else {
        dropConnection(m_name);
    }
    m_name.clear();
    m_broken = false;
    m_transactionDepth = 0;
}

bool ProgramDatabase::busy(const QSqlError& error) const
{
    if (error.type() == QSqlError::NoError)
        return false;
    const QString code = error.nativeErrorCode();
    if (m_driver == kSqlite) {
        bool ok = false;
        const int primary = code.toInt(&ok) & 0xff; // extended codes keep the primary one below
        if (ok)
            return primary == 5 || primary == 6; // SQLITE_BUSY, SQLITE_LOCKED
        return error.text().contains(QLatin1String("locked"), Qt::CaseInsensitive);
    }
    if (m_driver == kPostgres) // lock not available, serialization failure, deadlock
        return code == QLatin1String("55P03") || code == QLatin1String("40001") ||
               code == QLatin1String("40P01");
    return false;
}

bool ProgramDatabase::lost(const QSqlError& error) const
{
    if (m_driver != kPostgres)
        return false;
    // The driver closes a connection whose server it found gone, at times
    // without telling us (while freeing a statement, or reading a new key).
    if (!connection().isOpen())
        return true;
    // A server that went away (restarted, network cut) answers with no state
    // at all, or a connection (08) or shutdown (57P) state.
    if (error.type() == QSqlError::NoError)
        return false;
    const QString code = error.nativeErrorCode();
    return code.isEmpty() || code.startsWith(QLatin1String("08")) ||
           code.startsWith(QLatin1String("57P"));
}

bool ProgramDatabase::reconnect(qint64 start)
{
    const QString path = m_path;
    const QString key = m_key;
    m_broken = true;
    close();
    dropKept(key);
    return openWaiting(path, *this, start);
}

bool ProgramDatabase::fail(const QSqlError& error)
{
    m_lastBusy = busy(error);
    m_lastLost = lost(error);
    // Anything but a lock may have left the connection unusable.
    m_broken = m_broken || !m_lastBusy;
    m_error = error.text().trimmed();
    if (m_error.isEmpty() && m_lastLost)
        m_error = QStringLiteral("the connection to the database server was lost");
    return false;
}

bool ProgramDatabase::run(QSqlQuery& query, const QString& sql, const QVariantList& values)
{
    query = QSqlQuery(connection());
    // Statements without values run as they are: PostgreSQL prepares only
    // queries and row changes, never a CREATE or a DROP.
    if (values.isEmpty())
        return query.exec(sql);
    // A statement prepared by the PostgreSQL driver costs three exchanges
    // with the server (prepare, execute, release): its values are written
    // into it by the driver's own quoting instead, one exchange.
    if (m_driver == kPostgres)
        return query.exec(withValues(sql, values));
    if (!query.prepare(sql))
        return false;
    for (const QVariant& value : values)
        query.addBindValue(value);
    return query.exec();
}

QString ProgramDatabase::withValues(const QString& sql, const QVariantList& values) const
{
    const QSqlDriver* driver = connection().driver();
    QString out;
    out.reserve(sql.size() + 16 * values.size());
    qsizetype next = 0;
    bool quoted = false;
    for (const QChar c : sql) {
        if (c == u'\'')
            quoted = !quoted;
        if (c != u'?' || quoted || next >= values.size()) {
            out += c;
            continue;
        }
        const QVariant& value = values[next++];
        QSqlField field(QString(), value.metaType());
        field.setValue(value);
        out += driver->formatValue(field);
    }
    return out;
}

bool ProgramDatabase::exec(QSqlQuery& query, const QString& sql, const QVariantList& values)
{
    m_lastBusy = false;
    m_lastLost = false;
    const qint64 start = Clock::nowMs();
    if (!isOpen()) {
        // A connection its driver closed under us: the server went away.
        m_lastLost = !m_name.isEmpty() && lost(QSqlError());
        if (!m_lastLost || m_transactionDepth > 0 || !reconnect(start)) {
            m_error = QStringLiteral("store not open");
            return false;
        }
        m_lastLost = false;
    }
    for (;;) {
        if (run(query, sql, values))
            return true;
        const QSqlError error = query.lastError();
        // Inside a transaction only the whole of it may be run again.
        if ((!busy(error) && !lost(error)) || m_transactionDepth > 0 ||
            Clock::nowMs() - start >= StoreBusyTimeOutMs)
            return fail(error);
        query.finish(); // a locked SQLite statement lets go of the file
        query = QSqlQuery();
        if (lost(error)) {
            // The server is back when the statement can run: it waits until then.
            if (!reconnect(start))
                return fail(error);
            continue;
        }
        Pause(kBusyStepMs);
    }
}

bool ProgramDatabase::write(const std::function<bool()>& work)
{
    if (!isOpen()) {
        m_error = QStringLiteral("store not open");
        return false;
    }
    QSqlDatabase c = connection();
    // Without transactions each statement waits out a lock by itself: work
    // run again from the start would write its first rows twice.
    if (!c.driver()->hasFeature(QSqlDriver::Transactions))
        return work();
    const qint64 start = Clock::nowMs();
    for (;;) {
        m_lastBusy = false;
        m_lastLost = false;
        c = connection();
        if (c.transaction()) {
            ++m_transactionDepth;
            bool done = work();
            --m_transactionDepth;
            if (done && !c.commit())
                done = fail(c.lastError());
            if (done)
                return true;
            // Work that gave up may have found the server gone.
            m_lastLost = m_lastLost || lost(QSqlError());
            c.rollback();
        } else {
            fail(c.lastError());
        }
        if ((!m_lastBusy && !m_lastLost) || Clock::nowMs() - start >= StoreBusyTimeOutMs)
            return false;
        // A lost server rolled the work back: it runs again whole once the
        // server is back.
        if (m_lastLost && !reconnect(start))
            return false;
        if (m_lastBusy)
            Pause(kBusyStepMs);
    }
}

qint64 ProgramDatabase::insertedKey(const QSqlQuery& query)
{
    const QVariant id = query.lastInsertId();
    if (id.isValid() && id.toLongLong() > 0)
        return id.toLongLong();
    // Drivers that do not report it are asked with their engine's own words.
    QString ask;
    if (m_driver == kOdbc)
        ask = QStringLiteral("SELECT @@IDENTITY");
    else if (m_driver == kPostgres)
        ask = QStringLiteral("SELECT lastval()");
    QSqlQuery q(connection());
    if (!ask.isEmpty() && q.exec(ask) && q.next())
        return q.value(0).toLongLong();
    return 0;
}

bool OpenProgramDatabase(const QString& path, ProgramDatabase& db, bool create)
{
    static int serial = 0;
    db.close();
    db.m_error.clear();
    db.m_driver = StoreDriverName();
    if (!QSqlDatabase::isDriverAvailable(db.m_driver)) {
        db.m_error = QStringLiteral("no Qt Sql driver %1").arg(db.m_driver);
        return false;
    }
    const Settings& s = Config();
    const bool sqlite = db.m_driver == kSqlite;
    if (sqlite && path.trimmed().isEmpty()) {
        db.m_error = QStringLiteral("no store path");
        return false;
    }
    // SQLite would create an empty store in a mistyped folder.
    if (sqlite && !create && !FileExists(path)) {
        db.m_error = QStringLiteral("%1 does not exist").arg(path);
        return false;
    }
    if (sqlite && create)
        MakeFolders(FolderOf(path));

    db.m_path = path;
    db.m_key = db.m_driver + QLatin1Char('\n') + path + QLatin1Char('\n') + fromAnsi(s.DbName) +
               QLatin1Char('\n') + fromAnsi(s.DbHost) + QLatin1Char(':') +
               QString::number(s.DbPort) + QLatin1Char('\n') + fromAnsi(s.DbUser) +
               QLatin1Char('\n') + fromAnsi(s.DbPassword);
    const QByteArray file = sqlite ? FileIdentity(path) : QByteArray();
    std::deque<KeptConnection>& kept = keptConnections();
    for (auto it = kept.begin(); it != kept.end(); ++it) {
        if (it->key != db.m_key)
            continue;
        const KeptConnection found = *it;
        kept.erase(it);
        // A store file replaced under the kept connection is opened anew.
        if (found.file == file && QSqlDatabase::database(found.name, false).isOpen()) {
            db.m_name = found.name;
            db.m_file = found.file;
            return true;
        }
        dropConnection(found.name);
        break;
    }

    db.m_name = QStringLiteral("nodalis-store-%1").arg(++serial);
    QSqlDatabase c = QSqlDatabase::addDatabase(db.m_driver, db.m_name);
    if (sqlite) {
        c.setDatabaseName(path);
        c.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(StoreEngineBusyMs));
    } else if (db.m_driver == kOdbc) {
        c.setDatabaseName(s.DbName.isEmpty() ? accessConnection(path) : fromAnsi(s.DbName));
    } else {
        c.setDatabaseName(fromAnsi(s.DbName));
        if (!s.DbHost.isEmpty())
            c.setHostName(fromAnsi(s.DbHost));
        if (s.DbPort > 0)
            c.setPort(s.DbPort);
        // An unreachable host must not hold the server for minutes.
        if (db.m_driver == kPostgres)
            c.setConnectOptions(QStringLiteral("connect_timeout=%1").arg(kConnectTimeOutS));
    }
    if (!s.DbUser.isEmpty())
        c.setUserName(fromAnsi(s.DbUser));
    if (!s.DbPassword.isEmpty())
        c.setPassword(fromAnsi(s.DbPassword));
    if (!c.open()) {
        // Who tried to connect where, never with what password.
        db.m_error =
            sqlite ? c.lastError().text()
                   : StoreLocation() + QStringLiteral(": ") + c.lastError().text().simplified();
        c = QSqlDatabase();
        db.close();
        return false;
    }
    // The file the connection holds, as SQLite found or created it.
    db.m_file = sqlite ? FileIdentity(path) : QByteArray();
    if (sqlite) {
        // The program-management application reads while we write: WAL lets
        // readers go on. A store held in another mode at this moment keeps it.
        QSqlQuery q(c);
        q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    }
    return true;
}

bool AwaitProgramDatabase(const QString& path, ProgramDatabase& db)
{
    return openWaiting(path, db, Clock::nowMs());
}

QVariant SqlText(const QByteArray& text)
{
    // A null string would be bound as NULL: an empty field is an empty text.
    return QVariant(text.isEmpty() ? QStringLiteral("") : fromAnsi(text));
}

QByteArray TextOf(const QVariant& value)
{
    return toAnsi(value.toString());
}

} // namespace nodalis
