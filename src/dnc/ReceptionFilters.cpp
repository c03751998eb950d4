#include "dnc/ReceptionFilters.h"

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

    bool matches(const QByteArray& line) const
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
    std::vector<LinePattern> patterns;
    for (const QByteArray& pattern : ReceptionLinePatterns())
        patterns.emplace_back(pattern);
    if (patterns.empty())
        return false;
    return FilterFileLines(file, TempFilePath(QStringLiteral("FiltreLigne.txt")),
                           [&patterns](const QByteArray& line, LineWriter& out) {
                               for (const LinePattern& pattern : patterns) {
                                   if (pattern.matches(line))
                                       return;
                               }
                               out.writeLine(TrimmedView(line));
                           });
}

} // namespace nodalis
