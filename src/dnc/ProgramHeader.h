#pragma once

#include "store/HeaderValues.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace nodalis {

// Readers of the identification a program text carries: the program code
// line, the header block (cartouche) and the program number. They only read
// the file.

// The program code of a received program: the name after ";CODE PROGRAMME"
// on the first line that holds it (letters, digits, blanks and ".,+-_"),
// trimmed; empty when no line holds the marker.
QByteArray ReadProgramCode(const QString& file);

// Reads the header block. From the first 20 lines of an ordinary program:
// each line loses every CarDebCom + CarCartouche and its surrounding blanks,
// and a line that still holds CarCartouche is read up to its last one (the
// whole line when CarCartouche is empty); a value is the text that follows
// its key (a blank and the header field name, found without regard to case)
// in the header character set, trimmed, and the first line that gives it
// wins. With CML on, the file is a Hurco XML document: the lines are those
// of the last comment block holding an "ORVA" line, with no prefix, marker or
// line limit, and no program code. Fields whose RefCartouche is blank, and the
// program-number field, are not read. Finally "..." is removed from every
// value, and ":" becomes a blank in the field and machine values (the
// machine value is trimmed again). A missing, empty or malformed file gives
// empty values with read false.
HeaderValues ReadHeader(const QString& file);

// The header lines of a Hurco document: the TextLine values of the last
// HCommentDBlock (under Hurco_Document/DataBlocks) that has an "ORVA" line.
// False when the document is not well-formed or cannot be read.
bool ReadHurcoHeaderLines(const QString& file, QList<QByteArray>& lines);

// The program number of a program text, read after one of the program-start
// characters of CarDebProg ("O|%" accepts either, tried in that order) in
// the blocks of the first five lines (a line that is all comment counts as
// one of them). Text mode: the letters, digits, blanks and ".,+-_" after the
// character (found without regard to case), trimmed. Numeric mode: the
// number after it in its plain form ("O0042" gives 42). When no line gives
// one, the base name of defaultName without its extension. Then left-padded
// with "0" to width (when above 0), and with withPrefix the program-start
// character that matched goes in front (none for the default name).
QByteArray ReadProgramNumber(const QString& file, const QString& defaultName, bool withPrefix,
                             int width, bool textMode);

} // namespace nodalis
