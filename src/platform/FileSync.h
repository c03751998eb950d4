#pragma once

#include <QByteArray>

class QFileDevice;
class QString;

namespace nodalis {

// Flushes an open file's buffers and asks the system to put its bytes on
// the disk. False when either step fails (a full disk, a lost volume).
bool SyncToDisk(QFileDevice& file);

// Which file a path names at this moment: the same text for as long as the
// same file stays under that name, another once it was replaced. Empty when
// it cannot be told (no such file, or a system that does not say).
QByteArray FileIdentity(const QString& path);

} // namespace nodalis
