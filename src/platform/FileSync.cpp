#include "platform/FileSync.h"

#include <QSaveFile>

namespace nodalis {

bool CommitWhole(QSaveFile& file)
{
    if (!file.flush() || file.error() != QFileDevice::NoError) {
        file.cancelWriting();
        file.commit(); // takes the temporary file away
        return false;
    }
    return file.commit();
}

} // namespace nodalis
