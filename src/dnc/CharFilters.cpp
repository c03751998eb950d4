#include "dnc/CharFilters.h"

#include "dnc/CharLists.h"
#include "startup/AppPaths.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"

#include <array>

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
    if (line.contains("&HE:"))
        line.replace("&HE:", "");
    const auto& special = specialTable();
    const qsizetype n = line.size();
    qsizetype first = 0;
    while (first < n && !special[static_cast<unsigned char>(line[first])])
        ++first;
    if (first < n) {
        QByteArray out;
        out.reserve(n);
        out.append(line.constData(), first);
        for (qsizetype i = first; i < n; ++i) {
            const char c = line[i];
            if (special[static_cast<unsigned char>(c)])
                out.append(replacement);
            else
                out.append(c);
        }
        line = out;
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
        [](const QByteArray& line, LineWriter& out) { out.writeLine(TrimSpaces(line)); });
}

} // namespace nodalis
