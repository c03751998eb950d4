#include "dnc/CharLists.h"

#include "dnc/LineFiles.h"

#include "platform/AnsiText.h"
#include "platform/SystemPaths.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"

#include <QDir>

#include <array>
#include <optional>

namespace nodalis {

namespace {

// A leader of a few thousand NULs is a real need; a count of billions is a
// typing error that must not exhaust memory.
constexpr qint64 kMaxRepeat = 1 << 20;

// The character of a code item, or -1 when the code is not a byte.
int codeOf(const QByteArray& item)
{
    const std::optional<qint32> code = ToInt32(LeadingNumber(item));
    return code && *code >= 0 && *code <= 255 ? *code : -1;
}

const std::array<char, 256>& upperTable()
{
    static const std::array<char, 256> table = [] {
        std::array<char, 256> t{};
        for (int i = 0; i < 256; ++i) {
            const char c = char(i);
            const QByteArray back = toAnsi(fromAnsi(QByteArray(1, c)).toUpper());
            // A capital outside the code page (such as that of "µ") keeps the byte.
            t[size_t(i)] = back.size() == 1 && (back[0] != '?' || c == '?') ? back[0] : c;
        }
        return t;
    }();
    return table;
}

} // namespace

QByteArray DecodeCharList(const QByteArray& list, const QByteArray& suffix)
{
    const QByteArray trimmed = TrimSpaces(list);
    if (trimmed.isEmpty())
        return {};
    const QString path = SettingPath(trimmed);
    if (FileExists(path)) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QByteArray text;
    for (const QByteArray& item : trimmed.split(',')) {
        if (item.isEmpty())
            continue;
        const qsizetype x = item.indexOf('x');
        if (x < 0) {
            const int code = codeOf(item);
            if (code >= 0)
                text.append(char(code));
            continue;
        }
        const std::optional<qint32> count = ToInt32(LeadingNumber(item.left(x)));
        const int code = codeOf(item.mid(x + 1));
        if (count && *count > 0 && *count <= kMaxRepeat && code >= 0)
            text.append(QByteArray(*count, char(code)));
    }
    return text + suffix;
}

QByteArray CharCodeList(const QByteArray& text)
{
    QByteArray codes;
    codes.reserve(text.size() * 4);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (i > 0)
            codes.append(',');
        codes.append(QByteArray::number(static_cast<unsigned char>(text[i])));
    }
    return codes;
}

CommentSplit SplitComment(const QByteArray& line)
{
    const qsizetype at = CommentStart(line);
    if (at < 0)
        return {line, {}};
    return {line.left(at), line.mid(at)};
}

qsizetype CommentStart(QByteArrayView line)
{
    const QByteArray& mark = Config().CarDebCom;
    return mark.isEmpty() ? -1 : FindText(line, mark);
}

QByteArrayView TrimmedView(QByteArrayView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == ' ')
        ++begin;
    while (end > begin && text[end - 1] == ' ')
        --end;
    return text.sliced(begin, end - begin);
}

QByteArray UpperAnsi(QByteArrayView text)
{
    const auto& table = upperTable();
    QByteArray out(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        out[i] = table[static_cast<unsigned char>(text[i])];
    return out;
}

QByteArray SpecificiteName(const QByteArray& specificite)
{
    return UpperAnsi(TrimSpaces(specificite));
}

QString SettingPath(const QByteArray& text)
{
    return QDir::toNativeSeparators(SettingPathText(fromAnsi(text)));
}

} // namespace nodalis
