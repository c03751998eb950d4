#include "dnc/SendPreparation.h"

#include "dnc/CharFilters.h"
#include "dnc/CharLists.h"
#include "dnc/EventMessages.h"
#include "dnc/LineFiles.h"
#include "platform/Clock.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"

#include <cmath>
#include <optional>

namespace nodalis {

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
    if (!out.open(copy))
        return false;
    QByteArray line;
    while (reader.readLine(line)) {
        if (!PrepareSendLine(line))
            continue;
        if (s.FiltreCarSpec)
            FilterSpecialLine(line, QByteArrayLiteral(" "));
        out.writeLine(line);
    }
    in.close();
    if (!out.close() || reader.failed() || !ReplaceByResult(file, copy))
        return false;
    if (filtered)
        SetStatus(950);
    if (s.Port.TempoBeforeSend > 0)
        Pause(qint64(std::llround(s.Port.TempoBeforeSend * 1000)));
    return true;
}

} // namespace nodalis
