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

bool ReplaceChars(const QString& file, const QByteArray& search, const QByteArray& replacement)
{
    QFile in;
    if (!OpenForRead(file, FileMode::TextInput, in))
        return false;
    FileSource source(in);
    CharReplacement chain(source, search, replacement);
    const QString temp = TempFilePath(QStringLiteral("TT_FiltreCarBy.txt"));
    LineWriter out;
    if (!out.open(temp))
        return false;
    QByteArray chunk;
    while (chain.output().readChunk(chunk)) {
        out.write(chunk);
        chunk.resize(0);
    }
    in.close();
    if (!out.close() || chain.output().failed())
        return false;
    return ReplaceByResult(file, temp);
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

bool FilterSpecialChars(const QString& file, const QByteArray& replacement)
{
    return FilterFileLines(file, TempFilePath(QStringLiteral("TT_FiltreCarSpec.txt")),
                           [&replacement](QByteArray& line, LineWriter& out) {
                               FilterSpecialLine(line, replacement);
                               out.writeLine(line);
                           });
}

bool TrimBlocks(const QString& file)
{
    return FilterFileLines(
        file, TempFilePath(QStringLiteral("TT_TrimBlocs.txt")),
        [](const QByteArray& line, LineWriter& out) { out.writeLine(TrimmedView(line)); });
}

} // namespace nodalis
