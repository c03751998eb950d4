// INI access on arbitrary file bytes (single-byte, UTF-8 with its mark or
// UTF-16): a key written reads back as written, a write keeps the file's
// encoding and leaves every other line and every other key as it was,
// writing the same value twice changes nothing, and the file functions agree
// with the document they parse and refuse a line break.

#include "FuzzSupport.h"

#include "platform/OperatorPrompt.h"
#include "startup/IniDocument.h"
#include "startup/IniFile.h"
#include "startup/IniValue.h"
#include "startup/clsIniVar.h"

#include <QFile>
#include <QList>

using namespace nodalis;
using namespace nodalis::fuzz;

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArray trimBlanks(const QByteArray& text)
{
    qsizetype a = 0;
    qsizetype b = text.size();
    while (a < b && isBlank(text[a]))
        ++a;
    while (b > a && isBlank(text[b - 1]))
        --b;
    return text.mid(a, b - a);
}

// Names as a look-up compares them: ASCII capitals, white space around dropped.
QByteArray lookupName(const QByteArray& name)
{
    QByteArray folded = name;
    for (char& c : folded) {
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    }
    return folded.trimmed();
}

// Section and key names that lines of the text look like, a few of each.
void candidateNames(const QByteArray& text, QList<QByteArray>& sections, QList<QByteArray>& keys)
{
    qsizetype pos = 0;
    while (pos < text.size() && (sections.size() < 8 || keys.size() < 8)) {
        qsizetype end = pos;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
            ++end;
        const QByteArray line = trimBlanks(text.mid(pos, end - pos));
        const qsizetype close = line.lastIndexOf(']');
        if (line.startsWith('[') && close > 0) {
            if (sections.size() < 8)
                sections.append(line.mid(1, close - 1));
        } else if (line.contains('=') && keys.size() < 8) {
            keys.append(line.left(line.indexOf('=')));
        }
        pos = end + 1;
    }
}

QByteArray without(QByteArray text, const char* bytes)
{
    for (const char* b = bytes; *b; ++b)
        text.replace(*b, QByteArray());
    return text;
}

bool hasLineBreakOrNul(const QByteArray& text)
{
    return text.contains('\r') || text.contains('\n') || text.contains('\0');
}

// A key name that reads back as a key: no "=", and not a comment or a
// section header once trimmed.
QByteArray asKeyName(const QByteArray& raw)
{
    QByteArray key = without(raw, "\r\n=");
    key.replace('\0', QByteArray());
    const QByteArray t = key.trimmed();
    if (t.startsWith(';') || t.startsWith('['))
        key.prepend('K');
    return key;
}

QByteArray unquoted(const QByteArray& v)
{
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.mid(1, v.size() - 2);
    return v;
}

// The bytes the write removed from the original text, once the longest
// common head and tail are set aside; a write changes at most the inside of
// one line, so they never hold a line end.
QByteArray removedBytes(const QByteArray& before, const QByteArray& after)
{
    const qsizetype limit = std::min(before.size(), after.size());
    qsizetype head = 0;
    while (head < limit && before[head] == after[head])
        ++head;
    qsizetype tail = 0;
    while (tail < limit - head &&
           before[before.size() - 1 - tail] == after[after.size() - 1 - tail])
        ++tail;
    return before.mid(head, before.size() - tail - head);
}

QByteArray pairText(const QByteArray& s, const QByteArray& k, const QByteArray& content)
{
    return "section " + Escaped(s) + " key " + Escaped(k) + "\nfile " + Escaped(content);
}

void checkFileFunctions(const IniDocument& doc, const QByteArray& rawSection,
                        const QByteArray& rawKey, const QByteArray& rawValue,
                        const QByteArray& section, const QByteArray& key, const QByteArray& value,
                        const QByteArray& written)
{
    const QString path = ScratchFolder() + QStringLiteral("/fuzz.ini");
    const QByteArray& content = doc.content();
    FUZZ_CHECK(WriteBytes(path, content), QByteArray("cannot write the scratch file"));
    const auto detail = [&] { return pairText(section, key, content); };

    const QByteArray read = doc.value(section, key).value_or("-").left(IniValueMax);
    FUZZ_CHECK(FNReadIni(path, section, key, "-") == read, detail());
    FUZZ_CHECK(ReadIniSection(path, section) == doc.sectionText(section).left(IniSectionMax),
               detail());
    clsIniVar var;
    var.Init(path, section, key, {});
    FUZZ_CHECK(var.Read() ==
                   TrimSpaces(doc.value(section, key).value_or(QByteArray()).left(IniValueMax)),
               detail());

    // A line break or NUL would make a line of its own: refused, file kept.
    if (hasLineBreakOrNul(rawSection + rawKey + rawValue)) {
        FUZZ_CHECK(!WriteIni(path, rawSection, rawKey, rawValue), detail());
        FUZZ_CHECK(ReadBytes(path) == content, detail());
    }

    FUZZ_CHECK(WriteIni(path, section, key, value), detail());
    FUZZ_CHECK(ReadBytes(path) == written, detail() + "\nwritten " + Escaped(ReadBytes(path)));
    FUZZ_CHECK(FNReadIni(path, section, key) == unquoted(value).left(IniValueMax), detail());

    // The next run may write as many bytes within the same millisecond: the
    // cached document must go with the file.
    QFile::remove(path);
    FUZZ_CHECK(FNReadIni(path, section, key, "-") == "-", detail());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool init = [] {
        SetHeadless(false); // refused writes are expected here, not worth a line each
        return true;
    }();
    (void)init;

    FuzzInput in(data, size);
    const quint8 flags = in.byte();
    const quint8 sectionPick = in.byte();
    const quint8 keyPick = in.byte();
    QByteArray rawSection = in.piece(12);
    QByteArray rawKey = in.piece(12);
    const QByteArray rawValue = in.piece(24);
    const QByteArray content = in.rest();
    const IniDocument doc(content);

    // Names of the file itself most of the time, so that existing sections
    // and keys are updated, in another case at times.
    QList<QByteArray> sections;
    QList<QByteArray> keys;
    candidateNames(doc.text(), sections, keys);
    if ((flags & 1) && !sections.isEmpty())
        rawSection = sections[sectionPick % sections.size()];
    if ((flags & 2) && !keys.isEmpty())
        rawKey = keys[keyPick % keys.size()];
    if (flags & 4) {
        rawSection = rawSection.toLower();
        rawKey = rawKey.toLower();
    }
    const QByteArray section = without(rawSection, "\r\n").replace('\0', QByteArray());
    const QByteArray key = asKeyName(rawKey);
    const QByteArray value = without(rawValue, "\r\n").replace('\0', QByteArray());

    const QByteArray written = doc.withValue(section, key, value);
    const IniDocument after(written);
    const auto detail = [&] {
        return pairText(section, key, content) + "\nvalue " + Escaped(value) + "\nwritten " +
               Escaped(written);
    };

    FUZZ_CHECK(after.value(section, key) == unquoted(value), detail());
    // A UTF-16 file stays one, in whole units; the text it reads as keeps
    // every line but the one written.
    FUZZ_CHECK(after.encoding() == doc.encoding(), detail());
    if (doc.encoding() == IniDocument::Encoding::Utf16Le ||
        doc.encoding() == IniDocument::Encoding::Utf16Be)
        FUZZ_CHECK((written.size() - content.size()) % 2 == 0, detail());
    const QByteArray removed = removedBytes(doc.text(), after.text());
    FUZZ_CHECK(!removed.contains('\r') && !removed.contains('\n'), detail());
    FUZZ_CHECK(after.withValue(section, key, value) == written, detail());
    for (const QByteArray& s : std::as_const(sections)) {
        for (const QByteArray& k : std::as_const(keys)) {
            if (lookupName(s) == lookupName(section) && lookupName(k) == lookupName(key))
                continue;
            FUZZ_CHECK(after.value(s, k) == doc.value(s, k),
                       detail() + "\nother " + pairText(s, k, {}));
        }
    }

    // The file functions cost a file write or two: on the first input (so
    // that an input replayed alone goes through them) and every 16th.
    static quint64 runs = 0;
    if (runs++ % 16 == 0)
        checkFileFunctions(doc, rawSection, rawKey, rawValue, section, key, value, written);
    return 0;
}
