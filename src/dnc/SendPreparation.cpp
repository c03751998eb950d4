#include "dnc/SendPreparation.h"

#include "dnc/CharFilters.h"
#include "dnc/CharLists.h"
#include "dnc/EventMessages.h"
#include "dnc/LineFiles.h"
#include "platform/Clock.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"
#include "store/ByteRuns.h"
#include "store/FileUtils.h"

#include <cmath>
#include <cstring>
#include <optional>

namespace nodalis {

namespace {

// What in a run of whole lines the preparation may change, found in one
// pass: special characters (the superset of MayHoldSpecialChars), empty
// lines (an LF before a CR LF, or a run opening with CR LF) and the first
// byte of the comment mark. Tested without a branch, many bytes at once.
struct RunTraits
{
    bool special = false;
    bool emptyLine = false;
    bool mark = false;
};

NODALIS_WIDE_BYTE_LOOP RunTraits traitsOf(QByteArrayView lines, bool group3, QByteArrayView mark)
{
    const auto* const b = reinterpret_cast<const unsigned char*>(lines.data());
    const qsizetype n = lines.size();
    const unsigned char colon = group3;
    const unsigned char first = mark.isEmpty() ? 0 : static_cast<unsigned char>(mark[0]);
    unsigned char special = 0;
    unsigned char empty = 0;
    unsigned char marked = 0;
    // before2 and before: the two bytes before c; the run follows a line end.
    const auto look = [&](unsigned char before2, unsigned char before, unsigned char c) {
        const unsigned char outside = static_cast<unsigned char>(c - 32) > 94;
        const unsigned char lineEnd = (c == '\r') | (c == '\n');
        special |= (outside & !lineEnd) | (c == '&') | (colon & (c == ':') & (before == '\n'));
        empty |= (before2 == '\n') & (before == '\r') & (c == '\n');
        marked |= c == first;
    };
    if (n > 0)
        look(0, '\n', b[0]);
    if (n > 1)
        look('\n', b[0], b[1]);
    for (qsizetype i = 2; i < n; ++i)
        look(b[i - 2], b[i - 1], b[i]);
    return {special != 0, empty != 0, !mark.isEmpty() && marked != 0};
}

// Puts the bytes of view in bytes, in the room bytes has already.
void setBytes(QByteArray& bytes, QByteArrayView view)
{
    bytes.resize(view.size());
    if (!view.isEmpty())
        std::memcpy(bytes.data(), view.data(), size_t(view.size()));
}

} // namespace

bool PrepareSendLine(QByteArray& line)
{
    const PortSettings& port = Config().Port;
    const qsizetype comment = CommentStart(line);
    if (comment < 0)
        return !line.isEmpty() || port.SendEmptyLines;
    // A line that is only a comment is a header or comment line.
    if (TrimmedView(QByteArrayView(line).first(comment)).isEmpty() && !port.SendCartouche)
        return false;
    if (!port.SendComment)
        line.truncate(comment);
    return true;
}

QByteArray ProgramSafeText(const QByteArray& text)
{
    const QByteArray& eob = Config().Port.EOB;
    QByteArray safe = text;
    for (char& c : safe) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 32 || code == 127 || c == '(' || c == ')' || c == '%' || c == ';' ||
            eob.contains(c))
            c = ' ';
    }
    return safe;
}

bool PrepareSendText(const QString& file)
{
    const Settings& s = Config();
    QFile in;
    if (!OpenForRead(file, FileMode::TextInput, in))
        return false;
    // The character filter and the line rules run in the same pass: the
    // replacement feeds the line splitting, as if the filtered file had been
    // written and read again.
    const bool filtered = !TrimSpaces(s.Port.TCarFiltered).isEmpty();
    FileSource source(in);
    std::optional<CharReplacement> chain;
    if (filtered)
        chain.emplace(source, DecodeCharList(s.Port.TCarFiltered, {}),
                      DecodeCharList(s.Port.TCarFilteredBy, {}));
    LineReader reader(chain ? chain->output() : static_cast<ChunkSource&>(source));
    const QString copy = TempFilePath(QStringLiteral("TT_CheckCarInProg.txt"));
    LineWriter out;
    out.open(copy, in);
    const QByteArray& mark = s.CarDebCom;
    const bool emptySent = s.Port.SendEmptyLines;
    QByteArray changed; // the room of every changed line
    const auto rewrite = [&](QByteArrayView line, LineWriter& o) {
        setBytes(changed, line);
        if (!PrepareSendLine(changed))
            return;
        if (s.FiltreCarSpec)
            FilterSpecialLine(changed, QByteArrayLiteral(" "));
        o.writeLine(changed);
    };
    QByteArrayView lines;
    while (reader.readLines(lines)) {
        // Once the character filter replaced something, the text differs
        // from the file's own.
        if (chain && chain->changed())
            out.differ();
        const RunTraits traits = traitsOf(lines, s.CodeGroupCN == 3, mark);
        const bool special = s.FiltreCarSpec && traits.special;
        if (!special && (emptySent || !traits.emptyLine)) {
            // Only the lines with a comment may change.
            if (traits.mark)
                WriteLinesHolding(lines, mark, out, rewrite);
            else
                out.keep(lines);
            continue;
        }
        // A line is sent as it is when it has no comment, is not an empty
        // line left out, and holds no special character to filter.
        qsizetype comment = -1; // where the comment mark next occurs in the run
        const auto kept = [&](QByteArrayView line) {
            const qsizetype at = line.data() - lines.data();
            if (comment < at) {
                comment = mark.isEmpty() ? -1 : FindText(lines, mark, at);
                if (comment < 0)
                    comment = lines.size();
            }
            return comment >= at + line.size() && (emptySent || !line.isEmpty()) &&
                   (!special || SpecialLineKept(line));
        };
        WriteLines(lines, out, kept, rewrite);
    }
    const bool written = out.close() && !reader.failed();
    in.close();
    if (!written || (!out.unchanged() && !ReplaceByResult(file, copy)))
        return false;
    if (filtered)
        SetStatus(950);
    if (s.Port.TempoBeforeSend > 0)
        Pause(qint64(std::llround(s.Port.TempoBeforeSend * 1000)));
    return true;
}

} // namespace nodalis
