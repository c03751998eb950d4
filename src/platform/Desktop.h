#pragma once

#include <QString>

namespace nodalis {

// Whether a window can be opened at all (a display, or a Qt platform named).
bool DisplayAvailable();

// Opens a text file in the system's text editor, without waiting for it.
void OpenInEditor(const QString& path);

} // namespace nodalis
