#pragma once

class QFileDevice;

namespace nodalis {

// Flushes an open file's buffers and asks the system to put its bytes on
// the disk. False when either step fails (a full disk, a lost volume).
bool SyncToDisk(QFileDevice& file);

} // namespace nodalis
