#include "store/UploadRecords.h"

#include "platform/AnsiText.h"
#include "platform/Clock.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"
#include "store/ProgramDatabase.h"
#include "store/ProgramRecords.h"
#include "store/TextUtils.h"

#include <QDateTime>
#include <QStringList>

namespace nodalis {

namespace {

QByteArray headerField(const HeaderValues& header, int i)
{
    return i < header.Fields.size() ? header.Fields[i] : QByteArray();
}

// Header values are searched and stored with a blank for each apostrophe,
// as the program-management application writes them.
QByteArray withoutQuotes(QByteArray value)
{
    return value.replace('\'', ' ');
}

} // namespace

qint32 IdentifyUpload(ProgramDatabase& db, const HeaderValues& header, qint32 knownCode)
{
    const Settings& s = Config();
    const SqlCondition machines = MachineCondition(s.RefMO, s.ListRefMOShared);
    QString sql = QStringLiteral("SELECT CodeProg FROM PROGRAMME WHERE ") + machines.text;
    QVariantList values = machines.values;
    if (knownCode >= 1) {
        sql += QStringLiteral(" AND CodeProg=?");
        values << knownCode;
    } else {
        const QList<int> fields = IdentificationFields();
        // Without any identification field every program of the machine
        // would match: such an upload is not identified.
        if (fields.isEmpty())
            return 0;
        for (int i : fields) {
            sql += QStringLiteral(" AND Champ%1=?").arg(i);
            values << SqlText(withoutQuotes(headerField(header, i)));
        }
    }
    sql += QStringLiteral(" ORDER BY CodeProg");
    QSqlQuery q;
    if (!db.exec(q, sql, values) || !q.next())
        return 0;
    return q.value(0).toInt();
}

qint32 InsertUploadRecord(const HeaderValues& header, ProgramDatabase& db, qint32 codeProg)
{
    const Settings& s = Config();

    QStringList columns{QStringLiteral("RefMO")};
    QVariantList values{
        SqlText(header.Machine.isEmpty() ? ansi(u"<Non identifiée>") : header.Machine)};
    const int described = qMin(s.NbBDFields, StoreFieldCount);
    for (int i = 1; i <= StoreFieldCount; ++i) {
        QByteArray value;
        if (i <= described) {
            value = headerField(header, i);
            value = value.isEmpty() ? ansi(u"<Non identifié>") : withoutQuotes(value);
        }
        columns << QStringLiteral("Champ%1").arg(i);
        values << SqlText(value);
    }
    const QDateTime now = QDateTime::currentDateTime();
    columns << QStringLiteral("ddT") << QStringLiteral("hdT") << QStringLiteral("Recorded")
            << QStringLiteral("CodeProg") << QStringLiteral("FilePathProg");
    values << SqlText(now.toString(QStringLiteral("dd/MM/yyyy")).toLatin1())
           << SqlText(now.toString(QStringLiteral("hh:mm:ss")).toLatin1()) << 0 << codeProg
           << SqlText({});
    const QString insert =
        QStringLiteral("INSERT INTO FROMCN (%1) VALUES (%2)")
            .arg(columns.join(QLatin1Char(',')),
                 QStringList(columns.size(), QStringLiteral("?")).join(QLatin1Char(',')));

    // The text's path names the key the database gives: both in one
    // transaction, so that no record is seen without its path.
    qint64 key = 0;
    const bool written = db.write([&] {
        QSqlQuery q;
        if (!db.exec(q, insert, values))
            return false;
        key = db.insertedKey(q);
        if (key < 1)
            return false;
        QSqlQuery u;
        return db.exec(
            u, QStringLiteral("UPDATE FROMCN SET FilePathProg=? WHERE CodeFromCN=?"),
            {SqlText(toAnsi(ProgramFilePath(UploadTextRelativePath, qint32(key)))), key});
    });
    return written ? qint32(key) : 0;
}

bool MarkUploadRecorded(qint32 codeFromCN, ProgramDatabase& db)
{
    QSqlQuery q;
    return db.exec(q, QStringLiteral("UPDATE FROMCN SET Recorded=1 WHERE CodeFromCN=?"),
                   {codeFromCN}) &&
           q.numRowsAffected() > 0;
}

bool DeleteUploadRecord(qint32 codeFromCN, ProgramDatabase& db)
{
    QSqlQuery q;
    return db.exec(q, QStringLiteral("DELETE FROM FROMCN WHERE CodeFromCN=?"), {codeFromCN});
}

bool ReplaceFileKeepingVersion(const QString& target, const QString& source)
{
    if (target.isEmpty() || !FileExists(source))
        return false;
    if (FileExists(target) && CopyToNewVersion(target).isEmpty())
        return false;
    MakeFolders(FolderOf(target));
    return CopyFile(source, target);
}

bool ReplaceProgramByUpload(qint32 codeProg, qint32 codeFromCN, ProgramDatabase& db)
{
    if (codeProg < 1 || codeFromCN < 1)
        return false;
    Pause(1000);
    // A missing upload text still ends the wait: left unrecorded, the upload
    // would block the program's sending for good. A text that is there but
    // cannot be copied keeps the upload pending, to be taken over again.
    const QString uploadText = ProgramFilePath(UploadTextPath, codeFromCN);
    if (FileExists(uploadText) &&
        !ReplaceFileKeepingVersion(ProgramFilePath(ProgramTextPath, codeProg), uploadText))
        return false;
    MarkUploadRecorded(codeFromCN, db);
    db.write([&] {
        QSqlQuery count;
        if (!db.exec(count, QStringLiteral("SELECT COUNT(*) FROM PROGRAMME WHERE CodeProg=?"),
                     {codeProg}) ||
            !count.next())
            return false;
        if (count.value(0).toInt() != 1)
            return true;
        count.finish();
        QSqlQuery q;
        return db.exec(q, QStringLiteral("UPDATE PROGRAMME SET EtatProg=3 WHERE CodeProg=?"),
                       {codeProg});
    });
    return true;
}

} // namespace nodalis
