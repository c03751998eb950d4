#pragma once

#include <QByteArray>
#include <QString>

namespace nodalis {

// Conversion between human texts (UTF-16 QString, written as UTF-8 literals
// in the source) and the single-byte code page the machines and the
// program-management application use (Windows-1252). Program texts never go
// through this: they stay bytes from end to end.
QByteArray toAnsi(const QString& text);
QString fromAnsi(const QByteArray& bytes);

// Shorthand for literals: ansi(u"Problème") gives the Windows-1252 bytes.
inline QByteArray ansi(const char16_t* text)
{
    return toAnsi(QString::fromUtf16(text));
}
inline QByteArray ansi(const QString& text)
{
    return toAnsi(text);
}

} // namespace nodalis
