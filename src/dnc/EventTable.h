#pragma once

#include <QString>

namespace nodalis {

// The French text of a fixed event code (below 1000) with its markers for
// the variable parts; empty for a code the table does not list.
QString EventTemplate(int code);

} // namespace nodalis
