#include "platform/FileSync.h"

#include <QFileDevice>

#include <io.h>
#include <windows.h>

namespace nodalis {

bool SyncToDisk(QFileDevice& file)
{
    if (!file.isOpen() || !file.flush())
        return false;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle) != 0;
}

QByteArray FileIdentity(const QString&)
{
    // An open file cannot be deleted or replaced here: nothing to tell apart.
    return {};
}

SystemCopy CopyInSystem(QFileDevice&, QFileDevice&)
{
    return SystemCopy::Unsupported;
}

} // namespace nodalis
