#include "platform/FolderFingerprint.h"

#include <QFile>
#include <QHashFunctions>

#include <dirent.h>

namespace nodalis {

quint64 FolderFingerprint(const QString& folder)
{
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return 0;
    // Summed, so the order the system lists them in does not count.
    quint64 sum = 1;
    while (const dirent* entry = ::readdir(dir))
        sum += qHash(QByteArrayView(entry->d_name), 0x9E3779B9u) | 1u;
    ::closedir(dir);
    return sum;
}

} // namespace nodalis
