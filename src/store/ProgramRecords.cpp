#include "store/ProgramRecords.h"

#include "startup/IniValue.h"
#include "startup/Settings.h"
#include "store/ProgramDatabase.h"
#include "store/TextUtils.h"

#include <QDir>
#include <QRegularExpression>
#include <QSqlRecord>

namespace nodalis {

namespace {

qint32 intOf(const QSqlRecord& r, const char* name)
{
    return r.value(QLatin1String(name)).toInt();
}

QByteArray textOf(const QSqlRecord& r, const char* name)
{
    return TextOf(r.value(QLatin1String(name)));
}

bool isName(const QString& text)
{
    static const QRegularExpression name(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    return name.match(text).hasMatch();
}

} // namespace

ProgramRecord ProgramRecordOf(const QSqlQuery& query)
{
    const QSqlRecord r = query.record();
    ProgramRecord p;
    p.CodeProg = intOf(r, "CodeProg");
    p.RefMO = textOf(r, "RefMO");
    p.ProgAppel = textOf(r, "ProgAppel");
    for (int i = 1; i <= StoreFieldCount; ++i)
        p.Champ[i] = TextOf(r.value(QStringLiteral("Champ%1").arg(i)));
    p.EtatProg = intOf(r, "EtatProg");
    p.Localisation = intOf(r, "Localisation");
    p.Downloadable = intOf(r, "Downloadable");
    p.Ddu = textOf(r, "Ddu");
    p.Par = textOf(r, "Par");
    return p;
}

ProgramRecord ReadProgramRecord(qint32 codeProg)
{
    if (codeProg < 1)
        return {};
    ProgramDatabase db;
    if (!OpenProgramDatabase(ProgramDatabasePath(), db))
        return {};
    QSqlQuery q;
    if (!db.exec(q, QStringLiteral("SELECT * FROM PROGRAMME WHERE CodeProg=?"), {codeProg}) ||
        !q.next())
        return {};
    return ProgramRecordOf(q);
}

int CountRecords(QSqlQuery& query)
{
    if (!query.isActive() || !query.isSelect())
        return 0;
    if (query.isForwardOnly()) {
        int n = query.at() >= 0 ? query.at() + 1 : 0;
        while (query.next())
            ++n;
        return n;
    }
    return query.last() ? query.at() + 1 : 0;
}

SqlCondition MachineCondition(const QByteArray& refMO, const QList<QByteArray>& shared)
{
    if (Config().Port.CheckAllDataBase)
        return {QStringLiteral("RefMO<>?"), {SqlText({})}};
    SqlCondition c;
    QStringList terms;
    for (const QByteArray& machine : shared) {
        const QByteArray name = TrimSpaces(machine);
        if (name.isEmpty())
            continue;
        terms << QStringLiteral("RefMO=?");
        c.values << SqlText(name);
    }
    if (terms.isEmpty())
        return {QStringLiteral("RefMO=?"), {SqlText(refMO)}};
    c.text = QLatin1Char('(') + terms.join(QStringLiteral(" OR ")) + QLatin1Char(')');
    return c;
}

bool SelectCalledPrograms(ProgramDatabase& db, const QByteArray& name, const SqlCondition& machines,
                          QSqlQuery& query)
{
    QVariantList values{SqlText(TrimSpaces(name))};
    values << machines.values;
    return db.exec(query,
                   QStringLiteral("SELECT * FROM PROGRAMME WHERE ProgAppel=? AND ") + machines.text,
                   values);
}

bool SelectMachinePrograms(ProgramDatabase& db, const QByteArray& machine, QSqlQuery& query)
{
    if (machine.isEmpty())
        return db.exec(query, QStringLiteral("SELECT * FROM PROGRAMME ORDER BY CodeProg DESC"));
    return db.exec(query,
                   QStringLiteral("SELECT * FROM PROGRAMME WHERE RefMO=? ORDER BY CodeProg DESC"),
                   {SqlText(machine)});
}

bool SelectMachinePrograms(ProgramDatabase& db, const QByteArray& machine,
                           const QByteArray& callName, QSqlQuery& query)
{
    if (callName.isEmpty())
        return SelectMachinePrograms(db, machine, query);
    const QVariant pattern = SqlText("%" + callName + "%");
    if (machine.isEmpty())
        return db.exec(query,
                       QStringLiteral("SELECT * FROM PROGRAMME WHERE ProgAppel LIKE ? "
                                      "ORDER BY CodeProg DESC"),
                       {pattern});
    return db.exec(query,
                   QStringLiteral("SELECT * FROM PROGRAMME WHERE RefMO=? AND ProgAppel LIKE ? "
                                  "ORDER BY CodeProg DESC"),
                   {SqlText(machine), pattern});
}

std::optional<bool> HasPendingUpload(ProgramDatabase& db, qint32 codeProg)
{
    QSqlQuery q;
    if (!db.exec(q, QStringLiteral("SELECT CodeProg FROM FROMCN WHERE CodeProg=? AND Recorded=0"),
                 {codeProg}))
        return std::nullopt;
    return q.next();
}

bool FillListFromQuery(ProgramDatabase& db, const QString& field, const QString& table,
                       const SqlCondition& condition, QList<QByteArray>& list, bool distinct)
{
    list.clear();
    if (!isName(field) || !isName(table))
        return false;
    QString sql = QStringLiteral("SELECT ") + (distinct ? QStringLiteral("DISTINCT ") : QString()) +
                  field + QStringLiteral(" FROM ") + table;
    if (!condition.text.trimmed().isEmpty())
        sql += QStringLiteral(" WHERE ") + condition.text;
    QSqlQuery q;
    if (!db.exec(q, sql, condition.values))
        return false;
    while (q.next())
        list.append(TextOf(q.value(0)));
    return true;
}

QString ProgramFilePath(int kind, qint32 code)
{
    const QString name = QStringLiteral("ISO") +
                         QString::fromLatin1(Pad(QByteArray::number(code), 5, PadRight, "0")) +
                         QStringLiteral(".txt");
    // The relative path is stored for the program-management application,
    // which reads it on Windows: backslashes whatever our system.
    if (kind == UploadTextRelativePath)
        return QStringLiteral(".\\FROMCN\\") + name;
    const QString sep = QDir::separator();
    const QString& data = Config().PathData;
    // Without a store folder the texts would land wherever we were started.
    if (data.trimmed().isEmpty())
        return {};
    if (kind == ProgramTextPath)
        return data + QStringLiteral("ProgCN") + sep + name;
    if (kind == UploadTextPath)
        return data + QStringLiteral("FROMCN") + sep + name;
    return {};
}

QList<int> IdentificationFields()
{
    const Settings& s = Config();
    QList<int> fields;
    for (int i = 1; i < s.RecordFields.size() && i <= StoreFieldCount; ++i) {
        const RecordField& f = s.RecordFields[i];
        if (f.IsIndexe && !TrimSpaces(f.RefCartouche).isEmpty())
            fields << i;
    }
    return fields;
}

} // namespace nodalis
