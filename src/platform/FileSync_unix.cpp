#include "platform/FileSync.h"

#include <QFileDevice>

#include <unistd.h>

namespace nodalis {

bool SyncToDisk(QFileDevice& file)
{
    if (!file.isOpen() || !file.flush())
        return false;
    return ::fsync(file.handle()) == 0;
}

} // namespace nodalis
