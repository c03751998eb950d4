#include "store/ProgramJournal.h"

#include "startup/Settings.h"
#include "store/ProgramDatabase.h"
#include "store/ProgramRecords.h"
#include "store/UploadRecords.h"

#include <QDateTime>
#include <QSqlRecord>
#include <QStringList>

#include <array>

namespace nodalis {

namespace {

struct JournalCall
{
    int code = 0;
    qint32 program = 0;
    qint32 upload = 0;
    bool operator==(const JournalCall&) const = default;
};

using FieldValues = std::array<QByteArray, StoreFieldCount + 1>;

// The sixteen values the entry copies, read by name (Champ1 to Champ16) from
// the program's record or the upload's. False when the program database
// cannot be opened: then no entry is written.
bool readFieldValues(int code, qint32 codeProg, qint32 upload, FieldValues& values)
{
    ProgramDatabase db;
    if (!OpenProgramDatabase(ProgramDatabasePath(), db))
        return false;
    QSqlQuery q;
    bool found = false;
    if (code == JournalUpload) {
        // Without the upload just stored, the last one by count, as the
        // journal has always found it.
        if (upload < 1) {
            QSqlQuery count;
            if (db.exec(count, QStringLiteral("SELECT COUNT(*) FROM FROMCN")) && count.next())
                upload = count.value(0).toInt();
        }
        found = db.exec(q, QStringLiteral("SELECT * FROM FROMCN WHERE CodeFromCN=?"), {upload});
    } else {
        found = db.exec(q, QStringLiteral("SELECT * FROM PROGRAMME WHERE CodeProg=?"), {codeProg});
    }
    if (found && q.next()) {
        const QSqlRecord r = q.record();
        for (int i = 1; i <= StoreFieldCount; ++i)
            values[i] = TextOf(r.value(QStringLiteral("Champ%1").arg(i)));
    }
    return true;
}

} // namespace

bool WriteJournalEntry(int code, qint32 codeProg, qint32 codeFromCN, bool force)
{
    const Settings& s = Config();
    if (!s.JournalEvenements || codeProg == 0)
        return false;
    static JournalCall last;
    const JournalCall call{code, codeProg, codeFromCN};
    const bool repeated = call == last;
    last = call;
    if (code == 0 || (!force && repeated))
        return false;
    QByteArray event;
    if (code == JournalUpload)
        event = "REMONTEE";
    else if (code == JournalSend)
        event = "ENVOI";
    else
        return false;

    ProgramDatabase journal;
    if (!OpenProgramDatabase(JournalDatabasePath(), journal))
        return false;
    FieldValues fields;
    if (!readFieldValues(code, codeProg, codeFromCN, fields))
        return false;

    const QDateTime now = QDateTime::currentDateTime();
    QStringList columns{QStringLiteral("CodeProg")};
    QVariantList values{SqlText(QByteArray::number(codeProg)),
                        SqlText(now.toString(QStringLiteral("yyyy/MM/dd")).toLatin1()),
                        SqlText(now.toString(QStringLiteral("hh:mm:ss")).toLatin1()),
                        SqlText(s.RefMO), SqlText(event)};
    for (int i = 1; i <= StoreFieldCount; ++i)
        values << SqlText(fields[i]);
    for (int i = 1; i <= 4 + StoreFieldCount; ++i)
        columns << QStringLiteral("Champ%1").arg(i);
    QSqlQuery q;
    return journal.exec(
        q,
        QStringLiteral("INSERT INTO JOURNAL (%1) VALUES (%2)")
            .arg(columns.join(QLatin1Char(',')),
                 QStringList(columns.size(), QStringLiteral("?")).join(QLatin1Char(','))),
        values);
}

} // namespace nodalis
