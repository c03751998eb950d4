#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace nodalis {

// Takes complete lines, each followed by CR LF.
using LineOutput = std::function<void(const QByteArray& line)>;

// Cuts what arrived from the machine into lines: every complete line (ended
// by CR or LF; runs of them count as one end, so empty lines never reach
// the file) goes to out, when there is one, followed by CR LF, in one call
// for the chunk, and is shown in the block display when show is true.
// Returns the unfinished rest.
QByteArray SplitReceivedChunk(const QByteArray& pending, const LineOutput& out, bool show);

// The lines of one reception as its chunks arrive (SplitReceivedChunk).
// An unfinished line longer than LongLine goes out as it stands and the
// next line end finishes it, so that a machine that sends without line
// ends costs neither memory nor a scan of everything held at each chunk.
class ReceivedLines
{
public:
    static constexpr qsizetype LongLine = 64 * 1024;

    ReceivedLines(LineOutput out, bool show) : m_out(std::move(out)), m_show(show) {}

    void append(const QByteArray& bytes) { m_pending += bytes; }
    // The text received and not yet written.
    const QByteArray& pending() const { return m_pending; }
    // The complete lines go out.
    void cut();
    // The end of the reception: the unfinished line goes out too, ended by
    // CR LF. Returns its last part, for the display.
    QByteArray finish();

private:
    LineOutput m_out;
    bool m_show = false;
    QByteArray m_pending;
    bool m_midLine = false; // the start of an unfinished line is out
};

// Rewrites a file received by the serial library: CR and LF removed inside
// every line, empty lines dropped. False when the file could not be read.
bool NormaliseLibraryReception(const QString& path);

} // namespace nodalis
