#include "dnc/CharLists.h"
#include "dnc/LineFiles.h"
#include "dnc/ProgramHeader.h"
#include "platform/AnsiText.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"
#include "store/TextUtils.h"

namespace nodalis {

namespace {

constexpr int kNumberLines = 5;

// Letters, digits, blanks and ".,+-_": the characters of program names.
bool isNameChar(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == ' ' ||
           c == '.' || c == ',' || c == '+' || c == '-' || c == '_';
}

QByteArray nameAt(const QByteArray& text, qsizetype from)
{
    qsizetype end = from;
    while (end < text.size() && isNameChar(text[end]))
        ++end;
    return TrimSpaces(text.mid(from, end - from));
}

struct NumberMatch
{
    QByteArray number;
    QByteArray alternative;
};

NumberMatch numberInBlock(const QByteArray& block, const QList<QByteArray>& alternatives,
                          bool textMode)
{
    const QByteArray upper = textMode ? UpperAnsi(block) : QByteArray();
    for (const QByteArray& alternative : alternatives) {
        if (textMode) {
            const qsizetype at = upper.indexOf(UpperAnsi(alternative));
            const QByteArray number =
                at < 0 ? QByteArray() : nameAt(block, at + alternative.size());
            if (!number.isEmpty())
                return {number, alternative};
        } else {
            double value = 0;
            if (NumberAfterMarker(block, alternative, value))
                return {FormatValue(value), alternative};
        }
    }
    return {};
}

} // namespace

QByteArray ReadProgramCode(const QString& file)
{
    static const QByteArray marker = QByteArrayLiteral(";CODE PROGRAMME");
    FileLines lines;
    if (!lines.open(file))
        return {};
    QByteArray line;
    while (lines.readLine(line)) {
        const qsizetype at = line.indexOf(marker);
        if (at >= 0)
            return nameAt(line, at + marker.size());
    }
    return {};
}

QByteArray ReadProgramNumber(const QString& file, const QString& defaultName, bool withPrefix,
                             int width, bool textMode)
{
    QList<QByteArray> alternatives = Config().CarDebProg.split('|');
    alternatives.removeAll(QByteArray());
    NumberMatch match;
    FileLines lines;
    if (!alternatives.isEmpty() && lines.open(file)) {
        QByteArray line;
        for (int examined = 0; examined < kNumberLines && lines.readLine(line); ++examined) {
            const QByteArray block = SplitComment(line).block;
            if (block.isEmpty())
                continue;
            match = numberInBlock(block, alternatives, textMode);
            if (!match.number.isEmpty())
                break;
        }
    }
    if (match.number.isEmpty() && !defaultName.isEmpty())
        match.number = toAnsi(BaseNameOf(defaultName, false));
    if (match.number.isEmpty())
        return {};
    const QByteArray number = width > 0 ? Pad(match.number, width, PadRight, "0") : match.number;
    return withPrefix ? match.alternative + number : number;
}

} // namespace nodalis
