#pragma once

#include <QByteArray>
#include <QString>

namespace nodalis {

// A file's bytes as the explorer's previews show them: one byte one
// character (Latin-1), line ends of any kind as new lines, control bytes as
// their visible pictures (U+2400...), and no line over 2000 characters, so
// that showing a megabyte of binary stays quick.
QString PreviewText(const QByteArray& bytes);

} // namespace nodalis
