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

// One client's bytes cut into command lines. TCP keeps no message
// boundaries: a line counts once its CR LF has arrived, and the piece after
// the last one waits for the next arrival (half a program name must never
// run). A line longer than the limit is dropped whole.
class LineAssembler
{
public:
    explicit LineAssembler(qsizetype maxLine) : m_max(maxLine) {}

    // Adds an arrival; returns the lines it completed, without their CR LF,
    // empty ones dropped.
    QList<QByteArray> add(const QByteArray& data);
    // Lines dropped for their length so far.
    int dropped() const { return m_dropped; }
    // Bytes of the line still waiting for its end.
    qsizetype waitingBytes() const { return m_partial.size(); }

private:
    QByteArray m_partial;
    qsizetype m_max;
    int m_dropped = 0;
    bool m_skipping = false; // inside a line already dropped, up to its CR LF
};

// The argument text split at "<>" (the trailing "<>" gives a final empty element).
QList<QByteArray> ArgumentList(const QByteArray& arguments);

// The number a message carries: its first argument when framed, else the
// text left once the placeholder is removed; 0 when that is not a number.
int MessageNumber(const QByteArray& message, const QByteArray& placeholder);

} // namespace nodalis
