#pragma once

#include <QByteArray>
#include <QList>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <array>
#include <optional>

namespace nodalis {

class ProgramDatabase;

// Programs of the store (table PROGRAMME) and the paths of the text files
// that go with the records.

// Number of configurable fields of PROGRAMME and FROMCN (Champ1 to Champ16).
inline constexpr int StoreFieldCount = 16;

// Kinds of ProgramFilePath.
inline constexpr int ProgramTextPath = 100;       // ProgCN text of a CodeProg
inline constexpr int UploadTextPath = 6;          // FROMCN text of a CodeFromCN
inline constexpr int UploadTextRelativePath = 13; // the same, relative to the store

// One PROGRAMME record. An empty record has CodeProg 0 and empty texts.
struct ProgramRecord
{
    qint32 CodeProg = 0;
    QByteArray RefMO;
    QByteArray ProgAppel;
    std::array<QByteArray, StoreFieldCount + 1> Champ; // Champ[1] to Champ[16]
    qint32 EtatProg = 0;
    qint32 Localisation = 0;
    qint32 Downloadable = 0;
    QByteArray Ddu;
    QByteArray Par;
};

// A condition of a WHERE clause: SQL text with "?" placeholders, and the
// values bound to them in order.
struct SqlCondition
{
    QString text;
    QVariantList values;
};

// The record of a program, empty when the code is below 1, the store cannot
// be opened or no record has that code. Opens and closes the store.
ProgramRecord ReadProgramRecord(qint32 codeProg);

// The record at the query's current row.
ProgramRecord ProgramRecordOf(const QSqlQuery& query);

// The number of rows of a selection, the query left on its last row (a
// forward-only query is read to its end); 0 for an empty or failed one.
int CountRecords(QSqlQuery& query);

// Which machines' programs a machine may use: with CheckAllDataBase every
// machine's (RefMO<>''), else those of ListRefMOShared when it names any,
// else its own.
SqlCondition MachineCondition(const QByteArray& refMO, const QList<QByteArray>& shared);

// The programs a machine calls by that name (trimmed), among those of the
// condition, into query.
bool SelectCalledPrograms(ProgramDatabase& db, const QByteArray& name, const SqlCondition& machines,
                          QSqlQuery& query);

// The programs the explorer windows list, newest first: those of one
// machine, or of every machine when machine is empty.
bool SelectMachinePrograms(ProgramDatabase& db, const QByteArray& machine, QSqlQuery& query);
// The same, among those whose call name holds callName (empty: all of
// them). "%" and "_" in it are the LIKE wildcards.
bool SelectMachinePrograms(ProgramDatabase& db, const QByteArray& machine,
                           const QByteArray& callName, QSqlQuery& query);

// Whether an upload of the program waits for validation (a FROMCN record
// with Recorded 0): such a program is not sent again. Nothing when the
// store could not be asked.
std::optional<bool> HasPendingUpload(ProgramDatabase& db, qint32 codeProg);

// The values of one field of a table, optionally distinct, under an optional
// condition, in place of list. The field and table are names (letters,
// digits and "_"); false, with an empty list, for any other text.
bool FillListFromQuery(ProgramDatabase& db, const QString& field, const QString& table,
                       const SqlCondition& condition, QList<QByteArray>& list, bool distinct);

// The text file of a program or an upload: PathData + ProgCN or FROMCN +
// "ISO" + the code on 5 digits + ".txt"; kind 13 is the upload's path from
// the store's folder as FROMCN records hold it (".\\FROMCN\\ISO00007.txt",
// backslashes on every system). Empty for another kind, or without PathData.
QString ProgramFilePath(int kind, qint32 code);

// The field numbers that identify an upload: RECORDFIELDS entries naming a
// header field (RefCartouche) and flagged IsIndexe, up to Champ16.
QList<int> IdentificationFields();

} // namespace nodalis
