#include "platform/FileSync.h"

#include <QFile>
#include <QFileDevice>

#include <cerrno>
#include <fcntl.h>
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

SystemCopy CopyInSystem(QFileDevice& in, QFileDevice& out)
{
#if defined(__linux__)
    if (!out.flush())
        return SystemCopy::Failed;
    // Explicit offsets, from the devices' own positions, which are then moved
    // past the copy.
    loff_t from = in.pos();
    loff_t to = out.pos();
    bool any = false;
    for (;;) {
        const ssize_t n =
            ::copy_file_range(in.handle(), &from, out.handle(), &to, size_t(1) << 30, 0);
        if (n == 0)
            return in.seek(from) && out.seek(to) ? SystemCopy::Done : SystemCopy::Failed;
        if (n > 0) {
            any = true;
            continue;
        }
        if (errno == EINTR)
            continue;
        // Across file systems, or on one that cannot: the caller copies.
        if (!any && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                     errno == EBADF))
            return SystemCopy::Unsupported;
        return SystemCopy::Failed;
    }
#else
    Q_UNUSED(in);
    Q_UNUSED(out);
    return SystemCopy::Unsupported;
#endif
}

} // namespace nodalis
