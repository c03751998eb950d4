#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace nodalis {

// The lines of a program file as a control takes them one by one: CR LF,
// LF or CR alone end a line, and a final line end gives a last, empty
// line. An unreadable file reads as one empty line.
QList<QByteArray> ProgramLines(const QString& path);

} // namespace nodalis
