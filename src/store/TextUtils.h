#pragma once

#include <QByteArray>
#include <QString>

#include <concepts>

namespace nodalis {

// Path splitting. Configurations are written on Windows and we also run on
// Linux, so both "\" and "/" count as a separator when a path is cut.

// The trimmed path followed by the native separator unless it already ends
// with one; a blank path gives an empty text.
QString WithTrailingBackslash(const QString& path);

// The text before the last separator (the whole text when there is none).
QString FolderOf(const QString& path);

// The text after the last separator (the whole text when there is none).
QString FileNameOf(const QString& path);

// The trimmed text after the last separator or ":"; without the extension,
// cut before its last ".".
QString BaseNameOf(const QString& path, bool withExtension);

// The trimmed text after the first "." of a name: "B.TXT" for "A.B.TXT";
// empty when there is no "." or it is the last character.
QString ExtensionOf(const QString& name);

// The default text form of a value: "42", "-7", "1.5" (shortest text that
// reads back to the same double, period as decimal point, whatever the locale).
template <std::integral T> QByteArray FormatValue(T value)
{
    return QByteArray::number(value);
}
QByteArray FormatValue(bool) = delete; // true is -1 here, "1" would mislead
QByteArray FormatValue(double value);

// Alignment of Pad.
inline constexpr int PadRight = 1; // fill on the left
inline constexpr int PadLeft = 3;  // fill on the right
// any other value centres the text

// The text brought to width with the first character of fill (a blank when
// fill is empty): Pad("42", 5, PadRight, "0") gives "00042". A text already
// that wide or wider comes back unchanged.
QByteArray Pad(const QByteArray& text, int width, int alignment, const QByteArray& fill);

// The text after the start marker (found without regard to case) up to the
// end marker (exact case, searched from where the start marker begins); the
// rest of the text when the end marker is empty or absent; empty when the text
// or the start marker is empty or the start marker is absent.
QByteArray TextBetween(const QByteArray& text, const QByteArray& startMarker,
                       const QByteArray& endMarker);

// Header values of conversational programs: the run of capitals, digits,
// ".,+-_" and blanks that follows the marker (exact case), with "," written
// as "."; false and "0" when the marker is absent or nothing follows it.
bool ValueAfterMarker(const QByteArray& text, const QByteArray& marker, QByteArray& value);

// Numeric header values: the run of digits, ".,+-_" and blanks after the
// marker (exact case); blanks are skipped and "," read as "."; the number is
// the leading number of what was taken. False and 0 when nothing was taken.
bool NumberAfterMarker(const QByteArray& text, const QByteArray& marker, double& number);

} // namespace nodalis
