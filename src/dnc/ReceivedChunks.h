#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace nodalis {

// Takes each complete line, followed by CR LF.
using LineOutput = std::function<void(const QByteArray& line)>;

// Cuts what arrived from the machine into lines: every complete line (ended
// by CR or LF; runs of them count as one end, so empty lines never reach
// the file) goes to out, when there is one, followed by CR LF, and is shown
// in the block display when show is true. Returns the unfinished rest.
QByteArray SplitReceivedChunk(const QByteArray& pending, const LineOutput& out, bool show);

// Rewrites a file received by the serial library: CR and LF removed inside
// every line, empty lines dropped. False when the file could not be read.
bool NormaliseLibraryReception(const QString& path);

} // namespace nodalis
