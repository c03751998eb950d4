#pragma once

#include <QtGlobal>

namespace nodalis {

// Events that make a journal record.
inline constexpr int JournalUpload = 700; // "REMONTEE"
inline constexpr int JournalSend = 903;   // "ENVOI"

// Appends one JOURNAL record for the program codeProg: its code,
// the date (yyyy/mm/dd), the time, the machine, "ENVOI" or "REMONTEE", and
// the sixteen field values of the program (send) or of the upload's FROMCN
// record codeFromCN (upload; without one, the last upload by count). Only
// with JournalEvenements on and a program code; any other event code makes
// no record. Without force, an entry that repeats the previous call (same
// code, program and upload) is not written again. True when a record was
// written.
bool WriteJournalEntry(int code, qint32 codeProg, qint32 codeFromCN, bool force);

} // namespace nodalis
