// The filters a received program goes through (character replacement,
// line patterns, special characters, trimming), against a small model of
// what each must do, for arbitrary program bytes read in chunks of every
// size. The file functions run on the first input and on every 256th after
// it: each pauses around the file it replaces, too slow for every run, and
// an input replayed alone still goes through them.

#include "FuzzSupport.h"

#include "dnc/CharFilters.h"
#include "dnc/CharLists.h"
#include "dnc/LineFiles.h"
#include "dnc/ReceptionFilters.h"
#include "startup/Settings.h"
#include "store/ByteRuns.h"
#include "store/FileUtils.h"

#include <QList>

#include <optional>
#include <string_view>

using namespace nodalis;
using namespace nodalis::fuzz;

namespace {

// The bytes of a text, handed over in chunks of sizes drawn from the input,
// so that occurrences and line ends fall across chunk ends.
class MemorySource : public ChunkSource
{
public:
    MemorySource(const QByteArray& bytes, quint32 seed) : m_bytes(bytes), m_state(seed | 1) {}

    bool readChunk(QByteArray& out) override
    {
        if (m_pos >= m_bytes.size())
            return false;
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        const qsizetype size = (m_state & 0x30) == 0x30 ? 1 + m_state % 512 : 1 + m_state % 8;
        const qsizetype n = std::min(size, m_bytes.size() - m_pos);
        out.append(m_bytes.constData() + m_pos, n);
        m_pos += n;
        return true;
    }
    bool failed() const override { return false; }

private:
    QByteArray m_bytes;
    quint32 m_state;
    qsizetype m_pos = 0;
};

std::string_view view(const QByteArray& b)
{
    return {b.constData(), size_t(b.size())};
}

// Left to right, what was put in never looked at again.
QByteArray replaceAll(const QByteArray& text, const QByteArray& search, const QByteArray& by,
                      int* count = nullptr)
{
    if (count)
        *count = 0;
    if (search.isEmpty())
        return text;
    QByteArray out;
    size_t from = 0;
    for (size_t at; (at = view(text).find(view(search), from)) != std::string_view::npos;) {
        out.append(text.constData() + from, qsizetype(at - from));
        out += by;
        from = at + size_t(search.size());
        if (count)
            ++*count;
    }
    out.append(text.constData() + from, text.size() - qsizetype(from));
    return out;
}

// A DURER_OVARE program loses its DOPR and dashes lines and, when it had a
// DOPR line, gets the closing "%1".
QByteArray replacedModel(const QByteArray& text, const QByteArray& search, const QByteArray& by,
                         bool durer)
{
    QByteArray out = replaceAll(text, search, by);
    if (durer) {
        int dopr = 0;
        out = replaceAll(out, "\r\nDOPR", {}, &dopr);
        if (dopr > 0)
            out += "\r\n%1";
        out = replaceAll(out, "\r\n----", {});
    }
    return out;
}

// Lines end at CR LF only; the last one may lack it.
QList<QByteArray> linesOf(const QByteArray& text)
{
    QList<QByteArray> lines;
    size_t from = 0;
    while (from < size_t(text.size())) {
        const size_t at = view(text).find("\r\n", from);
        if (at == std::string_view::npos) {
            lines.append(text.mid(qsizetype(from)));
            break;
        }
        lines.append(text.mid(qsizetype(from), qsizetype(at - from)));
        from = at + 2;
    }
    return lines;
}

QByteArray trimSpaces(const QByteArray& text)
{
    qsizetype a = 0;
    qsizetype b = text.size();
    while (a < b && text[a] == ' ')
        ++a;
    while (b > a && text[b - 1] == ' ')
        --b;
    return text.mid(a, b - a);
}

bool isSpecial(char c)
{
    const auto u = static_cast<unsigned char>(c);
    if (u < 32)
        return u != '\r' && u != '\n';
    return u >= 127 && u != 174 && u != 175 && u != 240 && u != 242 && u != 246 && u != 248;
}

QByteArray specialModel(const QByteArray& line, const QByteArray& by, bool group3)
{
    QByteArray out;
    for (const char c : replaceAll(line, "&HE:", {})) {
        if (isSpecial(c))
            out += by;
        else
            out += c;
    }
    // A lone ":" is not a program number.
    if (group3 && out.size() > 1 && out[0] == ':')
        out[0] = 'O';
    return out;
}

bool patternModel(const QByteArray& line, const QByteArray& pattern)
{
    const QByteArray core = QByteArray(pattern).replace('*', QByteArray());
    if (core.isEmpty())
        return false;
    const bool starStart = pattern.startsWith('*');
    const bool starEnd = pattern.endsWith('*');
    if (!starStart && !starEnd)
        return line == core;
    const size_t at = view(line).find(view(core));
    if (at == std::string_view::npos)
        return false;
    if (starStart && starEnd)
        return true;
    return starEnd ? at == 0 : qsizetype(at) + core.size() == line.size();
}

template <class PerLine> QByteArray eachLine(const QByteArray& text, PerLine perLine)
{
    QByteArray out;
    for (const QByteArray& line : linesOf(text)) {
        if (const std::optional<QByteArray> kept = perLine(line))
            out += *kept + "\r\n";
    }
    return out;
}

struct Case
{
    QByteArray search;
    QByteArray by;
    QByteArray specialBy;
    QList<QByteArray> patterns;
    bool durer = false;
    bool group3 = false;
    quint32 seed = 0;
    QByteArray program;

    QByteArray text() const
    {
        return "search " + Escaped(search) + " by " + Escaped(by) + " special " +
               Escaped(specialBy) + " durer " + QByteArray::number(durer) + " group3 " +
               QByteArray::number(group3) + "\nprogram " + Escaped(program);
    }
};

bool droppedLine(const Case& c, const QByteArray& line)
{
    for (const QByteArray& p : c.patterns) {
        if (patternModel(line, p))
            return true;
    }
    return false;
}

void checkStreams(const Case& c)
{
    const auto detail = [&] { return c.text(); };

    MemorySource replaceSource(c.program, c.seed);
    CharReplacement chain(replaceSource, c.search, c.by);
    QByteArray replaced;
    for (QByteArray chunk; chain.output().readChunk(chunk); chunk.resize(0))
        replaced += chunk;
    FUZZ_CHECK(replaced == replacedModel(c.program, c.search, c.by, c.durer),
               detail() + "\ngot " + Escaped(replaced));

    MemorySource lineSource(c.program, c.seed * 31);
    LineReader reader(lineSource);
    QList<QByteArray> lines;
    for (QByteArray line; reader.readLine(line);)
        lines.append(line);
    FUZZ_CHECK(lines == linesOf(c.program), detail());

    for (const QByteArray& line : std::as_const(lines)) {
        QByteArray special = line;
        FilterSpecialLine(special, c.specialBy);
        FUZZ_CHECK(special == specialModel(line, c.specialBy, c.group3),
                   detail() + "\nline " + Escaped(line) + "\ngot " + Escaped(special));
        FUZZ_CHECK(TrimmedView(line) == trimSpaces(line), detail());
        for (const QByteArray& p : c.patterns)
            FUZZ_CHECK(LineMatchesPattern(line, p) == patternModel(line, p),
                       detail() + "\nline " + Escaped(line) + "\npattern " + Escaped(p));
    }
}

// The byte passes under the filters, by every step this processor can take.
void checkByteSteps(const Case& c)
{
    const QByteArray& text = c.program;
    QByteArray trimmed = eachLine(
        text, [](const QByteArray& line) { return std::optional<QByteArray>(trimSpaces(line)); });
    if (!text.isEmpty() && !text.endsWith("\r\n"))
        trimmed.chop(2); // a last line without its line end keeps none
    const QByteArray removed = replaceAll(text, " ", {});
    const QByteArray expanded = replaceAll(text, "\n", "\r\n");
    QByteArray out(2 * text.size() + 64, Qt::Uninitialized);
    const auto result = [&out](const char* end) { return out.left(end - out.constData()); };
    for (const ByteStep step : {ByteStep::Word, ByteStep::Shuffle, ByteStep::Compress}) {
        if (!CanStep(step))
            continue;
        const QByteArray detail = c.text() + "\nstep " + QByteArray::number(int(step));
        FUZZ_CHECK(result(TrimLineEdges(text.cbegin(), text.cend(), out.data(), step)) == trimmed,
                   detail);
        FUZZ_CHECK(result(ExpandLineFeeds(text.cbegin(), text.cend(), out.data(), step)) ==
                       expanded,
                   detail);
        char* const begin = std::copy(text.cbegin(), text.cend(), out.data()) - text.size();
        FUZZ_CHECK(result(RemoveByte(begin, begin + text.size(), ' ', step)) == removed, detail);
    }
}

// The patterns into FiltreLigneRecep: one as the value itself (unless it
// happens to name a file), several through a pattern file.
void setPatterns(const QList<QByteArray>& patterns)
{
    QByteArray& value = Config().Port.FiltreLigneRecep;
    value = patterns.size() == 1 ? patterns.first() : QByteArray();
    if (patterns.size() > 1 || (!value.isEmpty() && FileExists(SettingPath(value)))) {
        const QString file = ScratchFolder() + QStringLiteral("/patterns.txt");
        WriteBytes(file, patterns.join("\r\n") + "\r\n");
        value = file.toLocal8Bit();
    }
}

void checkFiles(const Case& c)
{
    const auto detail = [&] { return c.text(); };
    const QString file = ScratchFolder() + QStringLiteral("/Receiv/fuzz.txt");
    MakeFolders(ScratchFolder() + QStringLiteral("/Receiv"));
    FUZZ_CHECK(WriteBytes(file, c.program), QByteArray("cannot write the scratch file"));

    QByteArray expected = c.program;
    FUZZ_CHECK(ReplaceChars(file, c.search, c.by) == !expected.isEmpty(), detail());
    if (!expected.isEmpty())
        expected = replacedModel(expected, c.search, c.by, c.durer);
    FUZZ_CHECK(ReadBytes(file) == expected, detail() + "\ngot " + Escaped(ReadBytes(file)));

    setPatterns(c.patterns);
    QList<QByteArray> patterns;
    for (const QByteArray& p : c.patterns) {
        if (!p.isEmpty())
            patterns.append(p);
    }
    FUZZ_CHECK(ReceptionLinePatterns() == patterns, detail());
    FUZZ_CHECK(FilterReceivedLines(file) == (!patterns.isEmpty() && !expected.isEmpty()), detail());
    if (!patterns.isEmpty()) {
        expected = eachLine(expected, [&c](const QByteArray& line) -> std::optional<QByteArray> {
            if (droppedLine(c, line))
                return std::nullopt;
            return trimSpaces(line);
        });
    }
    FUZZ_CHECK(ReadBytes(file) == expected, detail() + "\ngot " + Escaped(ReadBytes(file)));

    FUZZ_CHECK(FilterSpecialChars(file, c.specialBy) == !expected.isEmpty(), detail());
    expected = eachLine(expected, [&c](const QByteArray& line) -> std::optional<QByteArray> {
        return specialModel(line, c.specialBy, c.group3);
    });
    FUZZ_CHECK(ReadBytes(file) == expected, detail() + "\ngot " + Escaped(ReadBytes(file)));

    FUZZ_CHECK(TrimBlocks(file) == !expected.isEmpty(), detail());
    expected = eachLine(expected, [](const QByteArray& line) -> std::optional<QByteArray> {
        return trimSpaces(line);
    });
    FUZZ_CHECK(ReadBytes(file) == expected, detail() + "\ngot " + Escaped(ReadBytes(file)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static quint64 runs = 0;
    FuzzInput in(data, size);
    const quint8 flags = in.byte();
    Case c;
    c.durer = flags & 1;
    c.group3 = flags & 2;
    static const QByteArray specialBy[] = {" ", "", "__"};
    c.specialBy = specialBy[(flags >> 2) % 3];
    c.seed = in.byte() | quint32(in.byte()) << 8;
    c.search = in.piece(4);
    c.by = in.piece(4);
    for (int n = in.byte() % 4; n > 0; --n) {
        QByteArray p = in.piece(8);
        // A CR LF would cut the pattern in two in a pattern file.
        if (p.contains("\r\n"))
            p.replace('\r', QByteArray());
        c.patterns.append(p);
    }
    c.program = in.rest();

    // The machine family is compared trimmed and in capitals.
    static const QByteArray families[] = {"", "FANUC", "DURER_OVARE", " durer_ovare "};
    Config().Port.Specificite = families[(flags >> 4) % 2 + (c.durer ? 2 : 0)];
    Config().CodeGroupCN = c.group3 ? 3 : 1;

    checkStreams(c);
    checkByteSteps(c);
    if (runs++ % 256 == 0)
        checkFiles(c);
    return 0;
}
