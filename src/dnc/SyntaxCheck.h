#pragma once

#include <QList>
#include <QString>

namespace nodalis {

// What the syntax check found in a program, against the SYNTAXE_MO settings.
struct SyntaxReport
{
    bool written = false;            // the program was read and rewritten
    bool lineEndError = false;       // a line held a bare LF (920)
    bool blockTooLong = false;       // a block beyond NbMaxCarBloc (921)
    bool startBlockMissing = false;  // line 1 does not begin with BlocDeb (922)
    bool endBlockMissing = false;    // the last block does not hold BlocFin (923)
    bool programCharMissing = false; // no CarDebProg where the number goes (924)

    // The events of the findings, in the order they are reported.
    QList<int> events() const;
};

// Checks the program and rewrites it through "TT_CheckSyntaxeInProg.txt"
// with bare LF line ends made CR LF. Without logging anything.
//
// The start block: when BlocDeb is set, line 1 begins with it and line 2
// with the program-number character; otherwise line 1 begins with the
// program-number character. CarDebProg may list alternatives ("O|%"), any of
// which will do; an empty CarDebProg asks for nothing. Blocks are the lines
// without their comment. A block is too long only when NbMaxCarBloc is
// above 0. The end block: when BlocFin is set, the last block that is not
// blank holds it ("N9999 M30", "15 END PGM 1234 MM", "%"), block numbers and
// comments being allowed around it.
SyntaxReport ExamineSyntax(const QString& file);

// ExamineSyntax after event 910, then the events of its findings (920, 921,
// 922, 923, 924). True when the program was rewritten; the senders go on
// sending whatever it is.
bool CheckSyntax(const QString& file);

} // namespace nodalis
