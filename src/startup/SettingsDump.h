#pragma once

#include "startup/Settings.h"

#include <QByteArray>

namespace nodalis {

// Every loaded setting, one per line, as SECTION.Key="value" with the value
// C-escaped (\r \n \t \\ \" and \xHH for other bytes outside 32..126).
QByteArray DumpSettings(Settings settings);

// The C-escaped form of a byte string, without the quotes.
QByteArray CEscape(const QByteArray& bytes);

} // namespace nodalis
