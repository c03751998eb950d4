#pragma once

#include <QTextStream>

namespace nodalis::ctl {

// `nodalisctl config keys [--markdown]`: every key of Nodalis.ini with its
// section, type, default, what it accepts and what it is for, from the one
// key list the server loads by. Markdown gives docs/configuration.md.
int PrintConfigKeys(QTextStream& out, bool markdown);

} // namespace nodalis::ctl
