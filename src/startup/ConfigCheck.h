#pragma once

#include "startup/Settings.h"

#include <QList>
#include <QString>

namespace nodalis {

// One thing the check has to say about the file, ready to print:
// Nodalis.ini:45: [COMM] Bauds: "fast" is not a number
struct ConfigFinding
{
    bool error = false; // else a warning: the file still serves
    int line = 0;       // 1-based; 0 for the file as a whole
    QString text;
};

// Judges the file by what each key of the key list accepts, beside the
// load (which it leaves alone): values that are not numbers or lie outside
// their key's range or set, folders and files that do not exist, keys and
// sections nothing reads, a file without any section. In file order.
// `loaded` is what ReadConfiguration made of the same file.
QList<ConfigFinding> CheckConfiguration(const QString& path, const Settings& loaded);

} // namespace nodalis
