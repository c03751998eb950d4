#pragma once

#include <QByteArray>
#include <QString>

namespace nodalis {

// Adjustments of program texts that some controller families need, chosen
// by the Specificite setting.

// Adjusts the file about to be sent: DIALOG3 computes the channel checksum,
// BOSCH pads the first line. Always true; every sender calls it last thing
// before sending.
bool ApplySendSpecifics(const QString& path, const QByteArray& specificite);

// Adjusts a received program: BROTHER_%S inserts the program numbers.
// Always true.
bool ApplyReceiveSpecifics(const QString& path, const QByteArray& specificite);

// The channel's checksum text, set by the DIALOG3 adjustment and sent by the
// serial sender after the program.
QByteArray& ChannelChecksum();

// What a DIALOG3 sender transmits after the program: "?", EOB, the checksum
// and EOB again.
QByteArray Dialog3Trailer(const QByteArray& eob);

// The DIALOG3 checksum: the sum of the character codes of every line that
// begins with "N", blanks and line ends aside, as four upper-case hexadecimal
// digits (the last four of a longer sum). "0000" for an unreadable file.
QByteArray Dialog3Checksum(const QString& path);

// BOSCH controls want the first line as two blanks, its trimmed text and
// fifteen blanks; every occurrence of that first line's text in the program
// is padded so, and the rewritten text ends with one more line end. A file
// whose first line is empty is left alone. True when the file was rewritten.
bool PadBoschFirstLine(const QString& path);

// Received BROTHER programs: after each line holding "%S", when the next
// line lacks the program number (the five characters from the first "O" of
// the "%S" line), a line holding that number is inserted. Through
// "brother.txt". True when the file was rewritten.
bool InsertBrotherProgramNumbers(const QString& path);

// Group-3 multi-program files (CodeGroupCN 3): the first program (from the
// first line beginning with "O" or ":" to its M30, M99, M02 or M2) moves to
// the end of the file, followed by a "%" line; the "%" lines after it are
// dropped. A file whose first program has no end, or no first program, is
// left alone, as is any file on another machine group. True when the file
// was rewritten.
bool MoveFirstProgramLast(const QString& path);

} // namespace nodalis
