#include "store/TextUtils.h"

#include "platform/AnsiText.h"
#include "startup/IniValue.h"

#include <QDir>
#include <QLocale>

#include <algorithm>
#include <array>

namespace nodalis {

namespace {

bool isSeparator(QChar c)
{
    return c == u'\\' || c == u'/';
}

qsizetype lastSeparator(const QString& path)
{
    for (qsizetype i = path.size() - 1; i >= 0; --i) {
        if (isSeparator(path[i]))
            return i;
    }
    return -1;
}

// Capital of each byte in the ANSI code page, so that "é" finds "É" as the
// program-management application's own searches do. A capital that has no
// place in the code page leaves the byte as it is.
const std::array<char, 256>& upperTable()
{
    static const std::array<char, 256> table = [] {
        std::array<char, 256> t{};
        for (int i = 0; i < 256; ++i) {
            const char c = char(i);
            const QString upper = fromAnsi(QByteArray(1, c)).toUpper();
            const QByteArray back = toAnsi(upper);
            t[std::size_t(i)] = back.size() == 1 && (back[0] != '?' || c == '?') ? back[0] : c;
        }
        return t;
    }();
    return table;
}

QByteArray upperAnsi(const QByteArray& text)
{
    const auto& table = upperTable();
    QByteArray out(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        out[i] = table[static_cast<unsigned char>(text[i])];
    return out;
}

// The characters after the marker that belong to the set, with "," written
// as "."; blanks are dropped when skipBlanks is set. Empty when the marker
// is absent.
QByteArray runAfterMarker(const QByteArray& text, const QByteArray& marker, const char* set,
                          bool skipBlanks)
{
    QByteArray taken;
    if (marker.isEmpty())
        return taken;
    const qsizetype at = text.indexOf(marker);
    if (at < 0)
        return taken;
    const QByteArray allowed(set);
    for (qsizetype i = at + marker.size(); i < text.size(); ++i) {
        const char c = text[i];
        if (!allowed.contains(c))
            break;
        if (c == ' ' && skipBlanks)
            continue;
        taken.append(c == ',' ? '.' : c);
    }
    return taken;
}

} // namespace

QString WithTrailingBackslash(const QString& path)
{
    const QString trimmed = path.trimmed();
    if (trimmed.isEmpty() || isSeparator(trimmed.back()))
        return trimmed;
    return trimmed + QDir::separator();
}

QString FolderOf(const QString& path)
{
    const qsizetype at = lastSeparator(path);
    return at < 0 ? path : path.left(at);
}

QString FileNameOf(const QString& path)
{
    const qsizetype at = lastSeparator(path);
    return at < 0 ? path : path.mid(at + 1);
}

QString BaseNameOf(const QString& path, bool withExtension)
{
    const qsizetype at = std::max(lastSeparator(path), path.lastIndexOf(u':'));
    QString name = path.mid(at + 1).trimmed();
    if (!withExtension) {
        const qsizetype dot = name.lastIndexOf(u'.');
        if (dot >= 0)
            name.truncate(dot);
    }
    return name;
}

QString ExtensionOf(const QString& name)
{
    const qsizetype dot = name.indexOf(u'.');
    if (dot < 0)
        return {};
    return name.mid(dot + 1).trimmed();
}

QByteArray FormatValue(double value)
{
    if (value == 0.0)
        return QByteArrayLiteral("0"); // no "-0"
    return QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
}

QByteArray Pad(const QByteArray& text, int width, int alignment, const QByteArray& fill)
{
    const qsizetype missing = qsizetype(width) - text.size();
    if (missing <= 0)
        return text;
    const char c = fill.isEmpty() ? ' ' : fill[0];
    qsizetype left = missing / 2;
    if (alignment == PadRight)
        left = missing;
    else if (alignment == PadLeft)
        left = 0;
    return QByteArray(left, c) + text + QByteArray(missing - left, c);
}

QByteArray TextBetween(const QByteArray& text, const QByteArray& startMarker,
                       const QByteArray& endMarker)
{
    if (text.isEmpty() || startMarker.isEmpty())
        return {};
    const qsizetype start = upperAnsi(text).indexOf(upperAnsi(startMarker));
    if (start < 0)
        return {};
    const qsizetype from = start + startMarker.size();
    const qsizetype end = endMarker.isEmpty() ? -1 : text.indexOf(endMarker, start);
    if (end < 0)
        return text.mid(from);
    // An end marker that overlaps the start marker leaves nothing between them.
    return end < from ? QByteArray() : text.mid(from, end - from);
}

bool ValueAfterMarker(const QByteArray& text, const QByteArray& marker, QByteArray& value)
{
    value = runAfterMarker(text, marker, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.,+-_ ", false);
    if (value.isEmpty()) {
        value = QByteArrayLiteral("0");
        return false;
    }
    return true;
}

bool NumberAfterMarker(const QByteArray& text, const QByteArray& marker, double& number)
{
    const QByteArray taken = runAfterMarker(text, marker, "0123456789.,+-_ ", true);
    number = LeadingNumber(taken);
    return !taken.isEmpty();
}

} // namespace nodalis
