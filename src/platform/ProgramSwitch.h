#pragma once

#include <QByteArray>

namespace nodalis {

// Runs the program `name` of this program's own folder in place of this one,
// with the same arguments, and ends with it. Returns only when it could not,
// with the reason.
QByteArray RunInstead(const char* name, int argc, char** argv);

} // namespace nodalis
