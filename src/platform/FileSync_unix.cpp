#include "platform/FileSync.h"

#include <QFile>
#include <QFileDevice>

#include <sys/stat.h>
#include <unistd.h>

namespace nodalis {

bool SyncToDisk(QFileDevice& file)
{
    if (!file.isOpen() || !file.flush())
        return false;
    return ::fsync(file.handle()) == 0;
}

QByteArray FileIdentity(const QString& path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return QByteArray::number(qulonglong(st.st_dev)) + ':' +
           QByteArray::number(qulonglong(st.st_ino));
}

} // namespace nodalis
