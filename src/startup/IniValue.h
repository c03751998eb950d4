#pragma once

#include <QByteArray>

#include <optional>

namespace nodalis {

// Conversions of configuration texts to numbers, with the rules the
// configuration has always been read by.

// The text without its leading and trailing spaces (only spaces: a tab or
// a control character is part of the value).
QByteArray TrimSpaces(const QByteArray& text);

// The longest leading decimal number of the text (leading blanks skipped,
// optional sign, period as decimal point, optional exponent); 0 when the
// text does not begin with a number.
double LeadingNumber(const QByteArray& text);

// The whole text (blanks around it aside) as a decimal number, or nothing
// when any of it is not part of the number.
std::optional<double> StrictNumber(const QByteArray& text);

// Nearest integer, halves to the even neighbour; nothing when out of the
// 16-bit or 32-bit range.
std::optional<qint16> ToInt16(double value);
std::optional<qint32> ToInt32(double value);

} // namespace nodalis
