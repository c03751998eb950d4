#include "dnc/CharFilters.h"

#include "dnc/CharLists.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace nodalis {

namespace {

// Bytes the special-character filter replaces: control characters but the
// line ends, and the upper half of the code page but the few characters
// (®, ¯, ð, ò, ö, ø) that controllers use in their own syntax.
const std::array<bool, 256>& specialTable()
{
    static const std::array<bool, 256> table = [] {
        std::array<bool, 256> t{};
        for (int c = 0; c < 256; ++c)
            t[size_t(c)] = (c < 32 && c != 10 && c != 13) || c >= 127;
        for (int kept : {174, 175, 240, 242, 246, 248})
            t[size_t(kept)] = false;
        return t;
    }();
    return table;
}

// The special-character filter over a run of whole lines without "&", with
// a one-byte replacement: byte for byte, so that the compiler handles many
// bytes at once; then the ":" opening a line of more than one character on
// group-3 machines.
void replaceSpecials(QByteArrayView lines, char by, bool group3, QByteArray& out)
{
    const auto* const in = reinterpret_cast<const unsigned char*>(lines.data());
    const qsizetype n = lines.size();
    out.resize(n);
    char* const o = out.data();
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char c = in[i];
        const bool control = (c < 32) & (c != 10) & (c != 13);
        const bool upper = (c >= 127) & (c != 174) & (c != 175) & (c != 240) & (c != 242) &
                           (c != 246) & (c != 248);
        o[i] = (control | upper) ? by : char(c);
    }
    if (!group3)
        return;
    const char* const end = lines.data() + n;
    for (const char* at = lines.data();
         (at = static_cast<const char*>(std::memchr(at, ':', size_t(end - at)))); ++at) {
        const qsizetype q = at - lines.data();
        const bool opens = q == 0 || (q >= 2 && in[q - 2] == '\r' && in[q - 1] == '\n');
        if (opens && !(in[q + 1] == '\r' && in[q + 2] == '\n'))
            o[q] = 'O';
    }
}

// Puts the bytes of view in bytes, in the room bytes has already.
void setBytes(QByteArray& bytes, QByteArrayView view)
{
    bytes.resize(view.size());
    if (!view.isEmpty())
        std::memcpy(bytes.data(), view.data(), size_t(view.size()));
}

} // namespace

CharReplacement::CharReplacement(ChunkSource& input, const QByteArray& search,
                                 const QByteArray& replacement)
{
    m_replace = std::make_unique<ReplacingSource>(input, search, replacement);
    m_last = m_replace.get();
    if (SpecificiteName(Config().Port.Specificite) == "DURER_OVARE") {
        // The DOPR lines of these machines become the program's closing "%1".
        m_dopr =
            std::make_unique<ReplacingSource>(*m_last, CrLf + "DOPR", QByteArray(), CrLf + "%1");
        m_dashes = std::make_unique<ReplacingSource>(*m_dopr, CrLf + "----", QByteArray());
        m_last = m_dashes.get();
    }
}

bool CharReplacement::changed() const
{
    return m_replace->replacements() > 0 || (m_dopr && m_dopr->replacements() > 0) ||
           (m_dashes && m_dashes->replacements() > 0);
}

bool ReplaceChars(const QString& file, const QByteArray& search, const QByteArray& replacement)
{
    QFile in;
    if (!OpenForRead(file, FileMode::TextInput, in))
        return false;
    FileSource source(in);
    CharReplacement chain(source, search, replacement);
    const QString temp = TempFilePath(QStringLiteral("TT_FiltreCarBy.txt"));
    LineWriter out;
    out.open(temp, in);
    QByteArray chunk;
    while (chain.output().readChunk(chunk)) {
        // Until something is replaced the text is the file's own.
        if (chain.changed())
            out.write(chunk);
        else
            out.keep(chunk);
        chunk.resize(0);
    }
    const bool written = out.close() && !chain.output().failed();
    in.close();
    return written && (out.unchanged() || ReplaceByResult(file, temp));
}

void FilterSpecialLine(QByteArray& line, const QByteArray& replacement)
{
    // "&" is rare in programs: look for it before looking for the whole text.
    if (std::memchr(line.constData(), '&', size_t(line.size())) && line.contains("&HE:"))
        line.replace("&HE:", "");
    const auto& special = specialTable();
    const auto isSpecial = [&special](char c) { return special[static_cast<unsigned char>(c)]; };
    const char* begin = line.constData();
    const char* end = begin + line.size();
    const char* first = std::find_if(begin, end, isSpecial);
    if (first != end) {
        if (replacement.size() == 1) {
            // The usual blank: replaced in place.
            char* p = line.data();
            for (qsizetype i = first - begin; i < line.size(); ++i) {
                if (isSpecial(p[i]))
                    p[i] = replacement[0];
            }
        } else if (replacement.isEmpty()) {
            // Removed: the line closes up in place.
            char* const p = line.data();
            char* o = p + (first - begin);
            for (qsizetype i = first - begin; i < line.size(); ++i) {
                *o = p[i];
                o += !isSpecial(p[i]);
            }
            line.truncate(o - p);
        } else {
            QByteArray out;
            out.reserve(line.size());
            const char* from = begin;
            for (const char* at = first; at != end; at = std::find_if(from, end, isSpecial)) {
                out.append(from, at - from);
                out.append(replacement);
                from = at + 1;
            }
            out.append(from, end - from);
            line = out;
        }
    }
    if (Config().CodeGroupCN == 3 && line.size() > 1 && line[0] == ':')
        line[0] = 'O';
}

bool MayHoldSpecialChars(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    // Bytes outside the printable ASCII range but the line ends, "&" (of
    // "&HE:"), and on group-3 machines a ":" opening a line: a superset of
    // what the filter changes, tested without a branch so that the compiler
    // tests many bytes at once.
    const bool colon = Config().CodeGroupCN == 3;
    const auto* b = reinterpret_cast<const unsigned char*>(text.data());
    unsigned char hit = colon && b[0] == ':';
    for (qsizetype i = 0; i < text.size(); ++i) {
        const unsigned char c = b[i];
        const unsigned char outside = static_cast<unsigned char>(c - 32) > 94;
        const unsigned char lineEnd = (c == '\r') | (c == '\n');
        hit |= (outside & !lineEnd) | (c == '&');
    }
    if (colon) {
        for (qsizetype i = 1; i < text.size(); ++i)
            hit |= (b[i] == ':') & (b[i - 1] == '\n');
    }
    return hit != 0;
}

bool SpecialLineKept(QByteArrayView line)
{
    if (!MayHoldSpecialChars(line))
        return true;
    const auto& special = specialTable();
    for (char c : line) {
        if (special[static_cast<unsigned char>(c)])
            return false;
    }
    if (FindText(line, "&HE:") >= 0)
        return false;
    return !(Config().CodeGroupCN == 3 && line.size() > 1 && line[0] == ':');
}

bool FilterSpecialChars(const QString& file, const QByteArray& replacement)
{
    const bool group3 = Config().CodeGroupCN == 3;
    QByteArray changed; // the room of every changed line or run
    const auto filterRun = [&](QByteArrayView lines, LineWriter& out) {
        if (!MayHoldSpecialChars(lines)) {
            out.keep(lines);
            return;
        }
        // "&HE:" and a removed character change the length of a line: those
        // go line by line.
        if (replacement.size() != 1 || std::memchr(lines.data(), '&', size_t(lines.size()))) {
            WriteLines(lines, out, SpecialLineKept, [&](QByteArrayView line, LineWriter& o) {
                setBytes(changed, line);
                FilterSpecialLine(changed, replacement);
                o.writeLine(changed);
            });
            return;
        }
        replaceSpecials(lines, replacement[0], group3, changed);
        if (QByteArrayView(changed) == lines)
            out.keep(lines);
        else
            out.write(changed);
    };
    return FilterFileRuns(file, TempFilePath(QStringLiteral("TT_FiltreCarSpec.txt")), filterRun);
}

bool MayHoldEdgeBlanks(QByteArrayView lines)
{
    if (lines.isEmpty())
        return false;
    // A blank after an LF or before a CR: a superset of the blanks that
    // open or close a line, tested many bytes at once.
    const char* const b = lines.data();
    unsigned char hit = b[0] == ' ';
    for (qsizetype i = 1; i < lines.size(); ++i)
        hit |= static_cast<unsigned char>(((b[i] == ' ') & (b[i - 1] == '\n')) |
                                          ((b[i - 1] == ' ') & (b[i] == '\r')));
    return hit != 0;
}

bool TrimBlocks(const QString& file)
{
    // Uploads that pad one block usually pad them all: after a run with
    // trimmed lines, the next is not tested as a whole first.
    bool trimming = false;
    const auto trimRun = [&trimming](QByteArrayView lines, LineWriter& out) {
        if (!trimming && !MayHoldEdgeBlanks(lines)) {
            out.keep(lines);
            return;
        }
        trimming = false;
        WriteLines(
            lines, out,
            [](QByteArrayView line) {
                return line.isEmpty() || (line.front() != ' ' && line.back() != ' ');
            },
            [&trimming](QByteArrayView line, LineWriter& o) {
                trimming = true;
                while (!line.isEmpty() && line.front() == ' ')
                    line = line.sliced(1);
                while (!line.isEmpty() && line.back() == ' ')
                    line.chop(1);
                o.writeLine(line);
            });
    };
    return FilterFileRuns(file, TempFilePath(QStringLiteral("TT_TrimBlocs.txt")), trimRun);
}

} // namespace nodalis
