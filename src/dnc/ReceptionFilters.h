#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace nodalis {

// Whether a line matches a reception line pattern. The pattern without its
// "*" is the core, and the core's first occurrence in the line decides:
// "*core*" matches when the line holds the core, "core*" when that first
// occurrence starts the line, "*core" when it ends the line, and "core"
// when the line is the core. A pattern without a core matches nothing.
bool LineMatchesPattern(const QByteArray& line, const QByteArray& pattern);

// The patterns of FiltreLigneRecep: the lines of the file it names, or the
// value itself. Empty lines of a pattern file are not patterns.
QList<QByteArray> ReceptionLinePatterns();

// Drops every line that matches one of the FiltreLigneRecep patterns and
// trims the others, through "FiltreLigne.txt". Does nothing when
// FiltreLigneRecep is empty. True when the file was replaced by the result.
bool FilterReceivedLines(const QString& file);

} // namespace nodalis
