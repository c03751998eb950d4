#pragma once

#include <QByteArray>
#include <QString>

namespace nodalis {

// Prepares a program file for the machine, in place: the send character
// filter (TCarFiltered replaced by TCarFilteredBy, event 950), then line by
// line the rules for comments, header lines and empty lines (SendComment,
// SendCartouche, SendEmptyLines), then the special-character filter with a
// blank when FiltreCarSpec is on, and the TempoBeforeSend pause. Works
// through "TT_CheckCarInProg.txt" in one pass over the program. False, with
// the file untouched, when it is missing, empty or could not be rewritten.
bool PrepareSendText(const QString& file);

// What the send preparation makes of one program line: false when the line
// is not sent, otherwise true with line holding what is sent.
bool PrepareSendLine(QByteArray& line);

// Text from outside (a called name, an event message naming one) as it may
// stand inside a line of a program for the machine: it can neither close the
// comment it is put in nor start a block of its own. Parentheses, "%", block
// ends (CR, LF, ";", the port's EOB) and control characters become blanks.
QByteArray ProgramSafeText(const QByteArray& text);

} // namespace nodalis
