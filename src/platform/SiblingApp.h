#pragma once

#include <QString>

namespace nodalis {

// Install folder of the program-management application that shares the
// store with this server, with a trailing separator; empty when it is not
// installed. Windows keeps it in the registry; elsewhere the environment
// variable NODALIS_SIBLING_PATH stands in for it.
QString SiblingInstallFolder();

} // namespace nodalis
