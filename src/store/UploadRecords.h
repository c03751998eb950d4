#pragma once

#include "store/HeaderValues.h"

#include <QString>
#include <QtGlobal>

namespace nodalis {

class ProgramDatabase;

// Programs received from the machine (table FROMCN) and their taking over
// by the program they replace.

// The program an upload comes from, among the machines of MachineCondition:
// with knownCode at least 1 the program of that code, else the one whose
// identification fields (IdentificationFields) hold the header's values,
// an apostrophe searched as a blank; the lowest code when several do. 0 when
// none matches, or when the configuration names no identification field.
qint32 IdentifyUpload(ProgramDatabase& db, const HeaderValues& header, qint32 knownCode = 0);

// Writes the FROMCN record of an upload: its machine ("<Non identifiée>"
// without one), its header values for the NbBDFields fields ("<Non
// identifié>" for an empty one, apostrophes as blanks; the other fields
// empty), the date and time, Recorded 0, the program it comes from (codeProg,
// 0: not identified) and the path of its text. Returns the record's key
// (CodeFromCN), 0 when it could not be written.
qint32 InsertUploadRecord(const HeaderValues& header, ProgramDatabase& db, qint32 codeProg);

// Sets Recorded to 1: the upload has been taken over. False when no record
// has that code.
bool MarkUploadRecorded(qint32 codeFromCN, ProgramDatabase& db);

// Drops the record of an upload whose text could not be stored.
bool DeleteUploadRecord(qint32 codeFromCN, ProgramDatabase& db);

// A validated upload replaces its program: the program's text is kept under
// its next version name (ISO00042_1.txt for the first), the upload's text
// takes its place, the upload is marked recorded and the program's EtatProg
// becomes 3. Without an upload text the program's text stays as it is, the
// rest is done all the same. False, with nothing changed, when a code is
// below 1 or a copy fails.
bool ReplaceProgramByUpload(qint32 codeProg, qint32 codeFromCN, ProgramDatabase& db);

// Puts source in place of target, the former target first copied to its next
// version name. The target is never missing on the way. False when a copy
// failed (the target is then as it was).
bool ReplaceFileKeepingVersion(const QString& target, const QString& source);

} // namespace nodalis
