#include "platform/AnsiText.h"

#include <array>

namespace nodalis {

namespace {

// Windows-1252 differs from Latin-1 only in 0x80-0x9F. Undefined positions
// map to the same code point, as Windows itself does.
constexpr std::array<char16_t, 32> kHighC1 = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char toAnsiChar(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return char(c);
    for (std::size_t i = 0; i < kHighC1.size(); ++i) {
        if (kHighC1[i] == c)
            return char(0x80 + i);
    }
    return '?';
}

} // namespace

QByteArray toAnsi(const QString& text)
{
    QByteArray out;
    out.reserve(text.size());
    for (QChar c : text)
        out.append(toAnsiChar(c.unicode()));
    return out;
}

QString fromAnsi(const QByteArray& bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        out.append(QChar(u >= 0x80 && u < 0xA0 ? kHighC1[u - 0x80] : char16_t(u)));
    }
    return out;
}

} // namespace nodalis
