#include "dnc/MachineSpecifics.h"

#include "dnc/CharLists.h"
#include "dnc/LineFiles.h"
#include "startup/AppPaths.h"
#include "startup/IniValue.h"

#include <cstring>

namespace nodalis {

bool ApplySendSpecifics(const QString& path, const QByteArray& specificite)
{
    const QByteArray name = SpecificiteName(specificite);
    if (name == "DIALOG3")
        ChannelChecksum() = Dialog3Checksum(path);
    else if (name == "BOSCH")
        PadBoschFirstLine(path);
    return true;
}

bool ApplyReceiveSpecifics(const QString& path, const QByteArray& specificite)
{
    if (SpecificiteName(specificite) == "BROTHER_%S")
        InsertBrotherProgramNumbers(path);
    return true;
}

QByteArray Dialog3Trailer(const QByteArray& eob)
{
    return "?" + eob + ChannelChecksum() + eob;
}

QByteArray Dialog3Checksum(const QString& path)
{
    quint64 sum = 0;
    FileLines lines;
    if (lines.open(path)) {
        QByteArray line;
        while (lines.readLine(line)) {
            if (!line.startsWith('N'))
                continue;
            for (char c : std::as_const(line)) {
                if (c != '\r' && c != '\n' && c != ' ')
                    sum += static_cast<unsigned char>(c);
            }
        }
    }
    const QByteArray hex = QByteArray::number(sum, 16).toUpper();
    return hex.size() > 4 ? hex.right(4) : hex.rightJustified(4, '0');
}

bool PadBoschFirstLine(const QString& path)
{
    QByteArray first;
    {
        FileLines lines;
        if (!lines.open(path) || !lines.readLine(first) || first.isEmpty())
            return false;
    }
    const QByteArray padded = "  " + TrimSpaces(first) + QByteArray(15, ' ');
    QFile in;
    if (!OpenForRead(path, FileMode::TextInput, in))
        return false;
    FileSource source(in);
    ReplacingSource replaced(source, first, padded);
    const QString temp = TempFilePath(QStringLiteral("TT_PadBosch.txt"));
    LineWriter out;
    if (!out.open(temp))
        return false;
    QByteArray chunk;
    while (replaced.readChunk(chunk)) {
        out.write(chunk);
        chunk.resize(0);
    }
    out.write(CrLf);
    in.close();
    if (!out.close() || replaced.failed())
        return false;
    return ReplaceByResult(path, temp);
}

bool InsertBrotherProgramNumbers(const QString& path)
{
    QByteArray pending; // number of the "%S" line just before
    return FilterFileLines(path, TempFilePath(QStringLiteral("brother.txt")),
                           [&pending](const QByteArray& line, LineWriter& out) {
                               if (!pending.isEmpty() && !line.contains(pending))
                                   out.writeLine(pending);
                               pending.clear();
                               if (std::memchr(line.constData(), '%', size_t(line.size())) &&
                                   line.contains("%S")) {
                                   const qsizetype o = line.indexOf('O');
                                   if (o >= 0)
                                       pending = line.mid(o, 5);
                               }
                               out.writeLine(line);
                           });
}

} // namespace nodalis
