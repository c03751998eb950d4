#include "startup/IniValue.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace nodalis {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Length of the number that starts at text[pos], 0 when none does.
qsizetype numberLength(const QByteArray& text, qsizetype pos)
{
    qsizetype i = pos;
    const qsizetype n = text.size();
    if (i < n && (text[i] == '+' || text[i] == '-'))
        ++i;
    qsizetype digits = 0;
    while (i < n && isDigit(text[i])) {
        ++i;
        ++digits;
    }
    if (i < n && text[i] == '.') {
        qsizetype j = i + 1;
        qsizetype fraction = 0;
        while (j < n && isDigit(text[j])) {
            ++j;
            ++fraction;
        }
        if (digits + fraction > 0) {
            i = j;
            digits += fraction;
        }
    }
    if (digits == 0)
        return 0;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        qsizetype j = i + 1;
        if (j < n && (text[j] == '+' || text[j] == '-'))
            ++j;
        if (j < n && isDigit(text[j])) {
            while (j < n && isDigit(text[j]))
                ++j;
            i = j;
        }
    }
    return i - pos;
}

double parse(const QByteArray& text, qsizetype pos, qsizetype len)
{
    // from_chars ignores the process locale: a period is always the decimal point.
    const char* first = text.constData() + pos;
    if (*first == '+')
        ++first;
    double v = 0.0;
    const auto res = std::from_chars(first, text.constData() + pos + len, v);
    return res.ec == std::errc() && std::isfinite(v) ? v : 0.0;
}

template <typename T> std::optional<T> toIntegral(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double r = std::nearbyint(value); // default rounding: halves to even
    if (r < double(std::numeric_limits<T>::min()) || r > double(std::numeric_limits<T>::max()))
        return std::nullopt;
    return T(r);
}

} // namespace

QByteArray TrimSpaces(const QByteArray& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == ' ')
        ++first;
    while (last > first && text[last - 1] == ' ')
        --last;
    return text.mid(first, last - first);
}

double LeadingNumber(const QByteArray& text)
{
    qsizetype pos = 0;
    while (pos < text.size() && isBlank(text[pos]))
        ++pos;
    const qsizetype len = numberLength(text, pos);
    return len ? parse(text, pos, len) : 0.0;
}

std::optional<double> StrictNumber(const QByteArray& text)
{
    const QByteArray t = TrimSpaces(text);
    const qsizetype len = numberLength(t, 0);
    if (len == 0 || len != t.size())
        return std::nullopt;
    return parse(t, 0, len);
}

std::optional<qint16> ToInt16(double value)
{
    return toIntegral<qint16>(value);
}

std::optional<qint32> ToInt32(double value)
{
    return toIntegral<qint32>(value);
}

} // namespace nodalis
