#pragma once

#include "dnc/EventMessages.h"

#include <QDateTime>
#include <QString>

namespace nodalis {

// Production tracking: a machine reports the start and end of each piece
// with lines holding "SUIVI"; one INI file per day (section GENERAL) counts
// the pieces (NbPiece) and keeps each piece's record under its number:
// entries "DEBUT:" + time, "FIN:" + time or an information text, each
// ending with "|".

// Records the tracking lines of a received text (blanks removed): each
// "-"-separated item but the last is a start ("INFO1": a new piece), an end
// ("INFO0") or an information (appended with ":" for "!"). Notifies {a}
// with 6 for a start, 3 for an end. at gives the day and time (default: now,
// read for each line). Lines end at CR LF, LF or CR. The day's file is read
// once and written once per text. True when the text held a tracking line.
// The caller keeps texts above the frame maximum away: those are programs.
bool RecordTracking(const QString& file, const QDateTime& at = QDateTime());

// The dated copy of an upload (RemonteDossier): the reception file,
// filtered, copied to PathRemonte as "yyyy-mm-dd-hh-mm-ss.txt" after its
// modification time. 712 with P0 the copy's name, or 713 (the reception
// file then stays, with a copy beside it).
EventReport StoreDatedCopy();

} // namespace nodalis
