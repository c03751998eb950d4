#pragma once

#include <QByteArray>
#include <QList>

namespace nodalis {

// Framing of the control link's messages.

// "Info:" + keyword + "|", then with arguments "Arg:" + each argument
// trimmed of spaces + "<>" ... + "|".
QByteArray BuildInfoMessage(const QByteArray& keyword, const QList<QByteArray>& arguments = {});

// One received line, cut into its keyword and argument text.
struct ControlLine
{
    QByteArray keyword;
    QByteArray arguments;
};

// One line without its line end: a one-character line is its own keyword,
// else the keyword follows "Info:" and the arguments "Arg:" (markers in
// any case), each up to the next "|".
ControlLine ParseLine(const QByteArray& line);

// The lines of one arrival that end with CR LF, empty lines dropped.
QList<ControlLine> SplitArrival(const QByteArray& data);

// The argument text split at "<>" (the trailing "<>" gives a final empty element).
QList<QByteArray> ArgumentList(const QByteArray& arguments);

// The number a message carries: its first argument when framed, else the
// text left once the placeholder is removed; 0 when that is not a number.
int MessageNumber(const QByteArray& message, const QByteArray& placeholder);

} // namespace nodalis
