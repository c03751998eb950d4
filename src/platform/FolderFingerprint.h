#pragma once

#include <QString>
#include <QtGlobal>

namespace nodalis {

// A fingerprint of what a folder holds: its entries' names, with their
// sizes and times where the system lists them along (Windows). It changes
// when an entry is added, removed or renamed, whether or not the system
// tells of it (a share written from another host), at the cost of one
// listing without a look at each file. 0 for a folder that cannot be read.
quint64 FolderFingerprint(const QString& folder);

} // namespace nodalis
