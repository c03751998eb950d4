#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

namespace nodalis {

// Cuts what arrived from the machine into lines: every complete line (ended
// by CR or LF; runs of them count as one end, so empty lines never reach
// the file) is written to the file, when one is open, followed by CR LF, and
// shown in the block display when show is true. Returns the unfinished rest.
QByteArray SplitReceivedChunk(const QByteArray& pending, QIODevice* file, bool show);

// Rewrites a file received by the serial library: CR and LF removed inside
// every line, empty lines dropped. False when the file could not be read.
bool NormaliseLibraryReception(const QString& path);

} // namespace nodalis
