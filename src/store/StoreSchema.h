#pragma once

#include <QString>

namespace nodalis {

class ProgramDatabase;

// The tables of the store as this server relies on them, for a shop whose
// store is not created by the program-management application (and for our
// tests). Existing tables are left as they are; the missing indexes of the
// looked-up columns are added, those of the identification fields flagged
// IsIndexe in RECORDFIELDS included.

// PROGRAMME and FROMCN, in the program database.
bool CreateProgramTables(ProgramDatabase& db);

// JOURNAL, in the journal database.
bool CreateJournalTable(ProgramDatabase& db);

// The whole store: the folders PathData, ProgCN and FROMCN, both databases
// and their tables. False with the reason in error.
bool CreateStore(QString* error = nullptr);

} // namespace nodalis
