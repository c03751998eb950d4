#include "dnc/ReceptionFilters.h"

#include "dnc/CharFilters.h"
#include "dnc/CharLists.h"
#include "dnc/LineFiles.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"

#include <vector>

namespace nodalis {

namespace {

struct LinePattern
{
    explicit LinePattern(const QByteArray& pattern)
        : core(QByteArray(pattern).replace("*", "")), starStart(pattern.startsWith('*')),
          starEnd(pattern.endsWith('*'))
    {
    }

    bool matches(QByteArrayView line) const
    {
        if (core.isEmpty())
            return false;
        if (!starStart && !starEnd)
            return line == core;
        const qsizetype at = FindText(line, core);
        if (at < 0)
            return false;
        if (starStart && starEnd)
            return true;
        if (starEnd)
            return at == 0;
        return at + core.size() == line.size();
    }

    QByteArray core;
    bool starStart;
    bool starEnd;
};

// Which lines of a run of whole lines the patterns drop. It keeps where the
// core of each pattern next occurs in the run: a line that ends before that
// cannot match, and is not searched.
struct LineDropper
{
    // Starts a run; false when no line of it can match.
    bool startRun(QByteArrayView run)
    {
        lines = run;
        next.resize(patterns.size());
        bool any = false;
        for (size_t i = 0; i < patterns.size(); ++i) {
            next[i] = find(i, 0);
            any = any || (!patterns[i].core.isEmpty() && next[i] < lines.size());
        }
        return any;
    }

    // For the lines of the run, in order.
    bool drops(QByteArrayView line)
    {
        const qsizetype at = line.data() - lines.data();
        for (size_t i = 0; i < patterns.size(); ++i) {
            if (next[i] < at)
                next[i] = find(i, at);
            if (next[i] <= at + line.size() && patterns[i].matches(line))
                return true;
        }
        return false;
    }

    qsizetype find(size_t i, qsizetype from) const
    {
        const qsizetype at = FindText(lines, patterns[i].core, from);
        return at < 0 ? lines.size() : at;
    }

    std::vector<LinePattern> patterns;
    std::vector<qsizetype> next;
    QByteArrayView lines;
};

} // namespace

bool LineMatchesPattern(const QByteArray& line, const QByteArray& pattern)
{
    return LinePattern(pattern).matches(line);
}

QList<QByteArray> ReceptionLinePatterns()
{
    const QByteArray& value = Config().Port.FiltreLigneRecep;
    if (value.isEmpty())
        return {};
    const QString path = SettingPath(value);
    if (!FileExists(path))
        return {value};
    QByteArray text;
    ReadOrWriteFile(ReadDirection, path, text);
    QList<QByteArray> patterns;
    qsizetype from = 0;
    while (from <= text.size()) {
        qsizetype end = text.indexOf("\r\n", from);
        if (end < 0)
            end = text.size();
        if (end > from)
            patterns.append(text.mid(from, end - from));
        from = end + 2;
    }
    return patterns;
}

bool FilterReceivedLines(const QString& file)
{
    LineDropper dropper;
    for (const QByteArray& pattern : ReceptionLinePatterns())
        dropper.patterns.emplace_back(pattern);
    if (dropper.patterns.empty())
        return false;
    return FilterFileRuns(
        file, TempFilePath(QStringLiteral("FiltreLigne.txt")),
        [&dropper](QByteArrayView lines, LineWriter& out) {
            if (!dropper.startRun(lines) && !MayHoldEdgeBlanks(lines)) {
                out.keep(lines);
                return;
            }
            const auto trimmed = [](QByteArrayView line) {
                return line.isEmpty() || (line.front() != ' ' && line.back() != ' ');
            };
            WriteLines(
                lines, out,
                [&](QByteArrayView line) { return !dropper.drops(line) && trimmed(line); },
                [&](QByteArrayView line, LineWriter& o) {
                    if (!dropper.drops(line))
                        o.writeLine(TrimmedView(line));
                });
        });
}

} // namespace nodalis
