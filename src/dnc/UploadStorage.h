#pragma once

#include "dnc/EventMessages.h"

#include "dnc/ProgramHeader.h"

#include <QDateTime>
#include <QString>
#include <QtGlobal>

namespace nodalis {

// Storage of a program received from the machine, once call resolution has
// recognised the reception file as an upload. Each store gives back the
// event code of its outcome for the caller to log; a store that fails gives
// 713, keeps a copy of the reception file beside it (StorageName 200) and
// leaves the reception file itself in place.

// Kinds of StorageName besides those of ProgramFilePath (100, 6, 13).
inline constexpr int ReceptionCopyPath = 200; // Receiv/FromCN_(dd-mm-yy_hhhmmminsss).txt
inline constexpr int EventLogFilePath = 300;  // LogFiles/Journal (dd-mm-yy).txt
inline constexpr int TrackingFilePath = 400;  // Suivi/Suivi (dd-mm-yy).txt

// The storage name of a kind, for the time at (200, 300, 400) or the code
// (100, 6, 13). Empty for an unknown kind.
QString StorageName(int kind, qint32 code = 0, const QDateTime& at = QDateTime::currentDateTime());

// The identification of a received program: its header values, and its
// program number in the field flagged IsNumProg (the plain number, else the
// text after the program-start character).
HeaderValues ReadUploadIdentification(const QString& file);

// The reception filters every store applies: RCarFiltered replaced by
// RCarFilteredBy (event 951 when done), then the FiltreLigneRecep lines.
void FilterReceivedProgram(const QString& file);

// File store (DataAccess not 1, ProgIndice off): driven by the program-
// management application (DncAppMode 0) the upload gets its FROMCN record
// and is stored as its FROMCN text, else under StorageName 200. With
// ReceivProgCrushed it then replaces the program file (707, or 710).
// Notifies {r} with the upload code (0 once it replaced the program).
// 703, or 713 when the text could not be stored.
EventReport StoreUploadToFile();

// Database store (DataAccess 1): identifies the upload among the machine's
// programs (the current program code), writes its FROMCN record (the
// current upload code) and its text, channel files and companion folder
// included; then compares it with its program (ReceivProgCompareFiltered:
// 708 and taken over when equal, else 709) or replaces the program by it
// (ReceivProgCrushed: 706, or 710). 701 when identified, 702 when not, 713
// when the store could not be written (no record is left without its text).
// identification replaces what the reception file's header gives (uploads
// of conversational or remote transfers).
EventReport StoreUploadToDatabase(const HeaderValues* identification = nullptr);

// Indexed store (ProgIndice): PathFileProgSave + the program-start
// character + the number on 4 digits + "." + the next revision index on 3
// digits (O0012.008 after O0012.007). 712 with P0 the stored name, 713 when
// the text holds no program number or the copy failed.
EventReport StoreUploadWithIndex();

// A received program replaces its program file in PathFileProgSave: named
// by its program number (DUVOV_RIDODOZI: its program code; CodeGroupCN 2:
// in capitals without "MM", + ".H"; none: a time-stamped FromCN_( name),
// the former file kept as its next version. Then the upload is marked
// recorded. uploadFile is the stored upload (default: the FROMCN text of
// the code). False when the upload is missing or a copy failed.
bool ReplaceProgramFileByUpload(qint32 uploadCode, const QString& uploadFile = QString());

// Whether an upload repeats its program: every line of the program (block
// and comment, blanks removed, capitals; empty blocks skipped) is found in
// the upload within five lines of its own position. Texts of the upload
// that the program lacks do not count. False when either file is missing
// or the program has no line.
bool CompareProgramTexts(const QString& programFile, const QString& uploadFile);

// The receipt counter (uploads since the last call that required them).
void IncrementReceiptCount();
// True, and the counter back to 0, when it has reached NbReceivBeforeAppel.
bool IsReceiptCountReached();

// A copy of the reception file under StorageName 200 (next version of that
// name when taken): what is left of an upload whose store failed. The path,
// or empty when even that copy failed.
QString KeepReceptionCopy();

} // namespace nodalis
