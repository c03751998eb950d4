#include "dnc/ProgramHeader.h"

#include "dnc/CharLists.h"
#include "dnc/LineFiles.h"
#include "platform/AnsiText.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"

#include <QFile>
#include <QXmlStreamReader>

#include <array>

namespace nodalis {

namespace {

constexpr int kHeaderLines = 20;

// Characters a header value may hold.
const std::array<bool, 256>& headerCharTable()
{
    static const std::array<bool, 256> table = [] {
        std::array<bool, 256> t{};
        const QByteArray set = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                               "/-_()&.\xB0';,\\+-!?\xA8[]$=:~{}|`\xE7@\xA4\xA3%\xB5\xA7<> #";
        for (char c : set)
            t[static_cast<unsigned char>(c)] = true;
        return t;
    }();
    return table;
}

struct HeaderKey
{
    QByteArray key; // in capitals
    QByteArray* value;
};

// The value after the key in the line, when the key is there and the value
// still empty.
void readKey(const QByteArray& line, const QByteArray& upperLine, HeaderKey& key)
{
    if (!key.value->isEmpty())
        return;
    const qsizetype at = upperLine.indexOf(key.key);
    if (at < 0)
        return;
    const auto& allowed = headerCharTable();
    qsizetype end = at + key.key.size();
    // Judged on the capital, but a character of the set counts as it is ("ç").
    const auto inSet = [&allowed](char c) { return allowed[static_cast<unsigned char>(c)]; };
    while (end < line.size() && (inSet(upperLine[end]) || inSet(line[end])))
        ++end;
    const qsizetype from = at + key.key.size();
    *key.value = TrimSpaces(line.mid(from, end - from));
}

QByteArray keyOf(const QByteArray& name, const char* fallback)
{
    const QByteArray trimmed = TrimSpaces(name);
    return UpperAnsi(" " + (trimmed.isEmpty() ? QByteArray(fallback) : trimmed));
}

// The header text of a program line: without the line prefix and, when
// CarCartouche marks it, up to the marker's last occurrence. Empty for a
// line that is not part of the header.
QByteArray headerPart(QByteArray line)
{
    const Settings& s = Config();
    const QByteArray prefix = s.CarDebCom + s.CarCartouche;
    if (!prefix.isEmpty())
        line.replace(prefix, "");
    line = TrimSpaces(line);
    if (s.CarCartouche.isEmpty())
        return line;
    const qsizetype last = line.lastIndexOf(s.CarCartouche);
    return last < 0 ? QByteArray() : line.left(last);
}

// Whether the open elements are those of a comment block of the document.
bool isCommentBlock(const QStringList& path)
{
    return path.size() == 3 && path[0] == QLatin1String("Hurco_Document") &&
           path[1] == QLatin1String("DataBlocks") && path[2] == QLatin1String("HCommentDBlock");
}

void finishValues(HeaderValues& values)
{
    const auto clean = [](QByteArray& value, bool colons) {
        value.replace("...", "");
        if (colons)
            value.replace(':', ' ');
    };
    for (QByteArray& field : values.Fields)
        clean(field, true);
    clean(values.Machine, true);
    values.Machine = TrimSpaces(values.Machine);
    clean(values.Call, false);
}

} // namespace

bool ReadHurcoHeaderLines(const QString& file, QList<QByteArray>& lines)
{
    lines.clear();
    QFile device(file);
    if (!device.open(QIODevice::ReadOnly))
        return false;
    QXmlStreamReader xml(&device);
    QStringList path;
    QList<QByteArray> block;
    bool blockHasOrva = false;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            const QString name = xml.name().toString();
            if (isCommentBlock(path) && name == QLatin1String("HCommentDBlock.TextLine")) {
                // readElementText consumes the end tag: the path is left as it is.
                const QByteArray text =
                    toAnsi(xml.readElementText(QXmlStreamReader::IncludeChildElements));
                blockHasOrva = blockHasOrva || text == "ORVA";
                block.append(text);
                continue;
            }
            path.append(name);
            if (isCommentBlock(path)) {
                block.clear();
                blockHasOrva = false;
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (isCommentBlock(path) && blockHasOrva)
                lines = block;
            if (!path.isEmpty())
                path.removeLast();
        }
    }
    if (xml.hasError()) {
        lines.clear();
        return false;
    }
    return true;
}

HeaderValues ReadHeader(const QString& file)
{
    const Settings& s = Config();
    HeaderValues values;
    values.Fields.resize(s.RecordFields.size());
    QByteArray codeText;
    QList<HeaderKey> keys;
    for (qsizetype i = 1; i < s.RecordFields.size(); ++i) {
        const RecordField& field = s.RecordFields[i];
        if (!field.IsNumProg && !TrimSpaces(field.RefCartouche).isEmpty())
            keys.append({UpperAnsi(" " + field.RefCartouche), &values.Fields[i]});
    }
    keys.append({keyOf(s.RefCartoucheMO, "MACHINE"), &values.Machine});
    keys.append({keyOf(s.RefCartoucheAppel, "ORVA"), &values.Call});

    if (s.CML) {
        QList<QByteArray> lines;
        if (!ReadHurcoHeaderLines(file, lines))
            return values;
        for (const QByteArray& line : lines) {
            const QByteArray upper = UpperAnsi(line);
            for (HeaderKey& key : keys)
                readKey(line, upper, key);
        }
    } else {
        if (s.UseCodeProgOrva && !s.RefCartoucheCodeProg.isEmpty())
            keys.append({UpperAnsi(" " + s.RefCartoucheCodeProg), &codeText});
        FileLines lines;
        if (!lines.open(file))
            return values;
        QByteArray line;
        for (int n = 0; n < kHeaderLines && lines.readLine(line); ++n) {
            const QByteArray part = headerPart(line);
            if (part.isEmpty())
                continue;
            const QByteArray upper = UpperAnsi(part);
            for (HeaderKey& key : keys)
                readKey(part, upper, key);
        }
        values.CodeProg = LeadingNumber(codeText);
    }
    values.read = true;
    finishValues(values);
    return values;
}

} // namespace nodalis
