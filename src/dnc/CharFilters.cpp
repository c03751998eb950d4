#include "dnc/CharFilters.h"

#include "dnc/CharLists.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"
#include "store/ByteRuns.h"
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

// What replaceSpecials met.
struct SpecialsMet
{
    bool changed = false;   // out differs from the lines
    bool ampersand = false; // an "&": out is not the filter's result
    bool upperHalf = false; // a byte of 127 or more, not tested as special
    bool colon = false;     // a ":", which may open a group-3 program number
};

// replaceSpecials' pass over the bytes. The upper half of the code page is
// rare in programs and its test is most of the work: without kUpperHalf
// those bytes are only noted (bit 7 of c or of c + 1), and the run is to be
// done again with it.
template <bool kUpperHalf>
NODALIS_WIDE_BYTE_LOOP SpecialsMet replaceSpecialBytes(const unsigned char* in, qsizetype n,
                                                       char by, char* o)
{
    unsigned char changed = 0;
    unsigned char ampersand = 0;
    unsigned char upper = 0;
    unsigned char colon = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char c = in[i];
        bool special = (c < 32) & (c != 10) & (c != 13);
        if constexpr (kUpperHalf) {
            special |= (c >= 127) & (c != 174) & (c != 175) & (c != 240) & (c != 242) & (c != 246) &
                       (c != 248);
        } else {
            upper |= static_cast<unsigned char>(c | static_cast<unsigned char>(c + 1));
        }
        o[i] = special ? by : char(c);
        changed |= special & (c != static_cast<unsigned char>(by));
        ampersand |= c == '&';
        colon |= c == ':';
    }
    return {changed != 0, ampersand != 0, (upper & 0x80) != 0, colon != 0};
}

// The special-character filter over a run of whole lines, with a one-byte
// replacement: byte for byte, so that the compiler handles many bytes at
// once; then the ":" opening a line of more than one character on group-3
// machines. A run with an "&" (of "&HE:") is the line-by-line filter's.
SpecialsMet replaceSpecials(QByteArrayView lines, char by, bool group3, QByteArray& out)
{
    const auto* const in = reinterpret_cast<const unsigned char*>(lines.data());
    const qsizetype n = lines.size();
    out.resize(n);
    char* const o = out.data();
    SpecialsMet met = replaceSpecialBytes<false>(in, n, by, o);
    if (met.upperHalf)
        met = replaceSpecialBytes<true>(in, n, by, o);
    if (!group3 || met.ampersand || !met.colon)
        return met;
    const char* const end = lines.data() + n;
    for (const char* at = lines.data();
         (at = static_cast<const char*>(std::memchr(at, ':', size_t(end - at)))); ++at) {
        const qsizetype q = at - lines.data();
        const bool opens = q == 0 || (q >= 2 && in[q - 2] == '\r' && in[q - 1] == '\n');
        if (opens && !(in[q + 1] == '\r' && in[q + 2] == '\n')) {
            o[q] = 'O';
            met.changed = true;
        }
    }
    return met;
}

// Tests [0, size) block by block with hitIn(from, to): each block is tested
// without a branch, many bytes at once, and the test ends with the first
// block that hits.
template <class HitIn> bool AnyBlockHits(qsizetype size, HitIn&& hitIn)
{
    constexpr qsizetype kBlock = 4096;
    for (qsizetype from = 0; from < size; from += kBlock) {
        if (hitIn(from, std::min(size, from + kBlock)))
            return true;
    }
    return false;
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
    if (colon && b[0] == ':')
        return true;
    return AnyBlockHits(text.size(), [&](qsizetype from, qsizetype to) {
        unsigned char hit = 0;
        for (qsizetype i = from; i < to; ++i) {
            const unsigned char c = b[i];
            const unsigned char outside = static_cast<unsigned char>(c - 32) > 94;
            const unsigned char lineEnd = (c == '\r') | (c == '\n');
            hit |= (outside & !lineEnd) | (c == '&');
        }
        if (colon) {
            for (qsizetype i = std::max<qsizetype>(from, 1); i < to; ++i)
                hit |= (b[i] == ':') & (b[i - 1] == '\n');
        }
        return hit != 0;
    });
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
        if (replacement.size() == 1) {
            const SpecialsMet met = replaceSpecials(lines, replacement[0], group3, changed);
            if (!met.ampersand) {
                if (met.changed)
                    out.write(changed);
                else
                    out.keep(lines);
                return;
            }
        }
        // "&HE:" and a removed character change the length of a line: those
        // go line by line.
        WriteLines(lines, out, SpecialLineKept, [&](QByteArrayView line, LineWriter& o) {
            setBytes(changed, line);
            FilterSpecialLine(changed, replacement);
            o.writeLine(changed);
        });
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
    if (b[0] == ' ')
        return true;
    return AnyBlockHits(lines.size(), [b](qsizetype from, qsizetype to) {
        unsigned char hit = 0;
        for (qsizetype i = std::max<qsizetype>(from, 1); i < to; ++i)
            hit |= static_cast<unsigned char>(((b[i] == ' ') & (b[i - 1] == '\n')) |
                                              ((b[i - 1] == ' ') & (b[i] == '\r')));
        return hit != 0;
    });
}

bool TrimBlocks(const QString& file)
{
    // Uploads that pad one block usually pad them all: after a run with
    // trimmed lines, the next is not tested as a whole first.
    bool trimming = false;
    QByteArray trimmed;
    const auto trimRun = [&](QByteArrayView lines, LineWriter& out) {
        if (!trimming && !MayHoldEdgeBlanks(lines)) {
            out.keep(lines);
            return;
        }
        trimmed.resize(lines.size() + 64);
        const qsizetype n =
            TrimLineEdges(lines.cbegin(), lines.cend(), trimmed.data()) - trimmed.constData();
        trimming = n < lines.size();
        if (!trimming) {
            out.keep(lines);
            return;
        }
        out.differ();
        out.write(QByteArrayView(trimmed.constData(), n));
    };
    return FilterFileRuns(file, TempFilePath(QStringLiteral("TT_TrimBlocs.txt")), trimRun);
}

} // namespace nodalis
