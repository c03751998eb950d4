#include "platform/FolderFingerprint.h"

#include <QDir>
#include <QHashFunctions>

#include <windows.h>

namespace nodalis {

quint64 FolderFingerprint(const QString& folder)
{
    const QString pattern = QDir::toNativeSeparators(folder + QStringLiteral("/*"));
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(reinterpret_cast<const wchar_t*>(pattern.utf16()), &data);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    // Summed, so the order the system lists them in does not count.
    quint64 sum = 1;
    do {
        const QString name = QString::fromWCharArray(data.cFileName);
        sum += (qHash(name, 0x9E3779B9u) ^ (quint64(data.nFileSizeLow) << 20) ^
                data.ftLastWriteTime.dwLowDateTime) |
               1u;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return sum;
}

} // namespace nodalis
