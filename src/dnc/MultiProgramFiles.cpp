#include "dnc/LineFiles.h"
#include "dnc/MachineSpecifics.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"

#include <QScopeGuard>

namespace nodalis {

namespace {

// The part of a line where program starts and ends are looked for: up to
// and including its first "(", so that a comment does not end a program.
QByteArrayView examinedPart(const QByteArray& line)
{
    const qsizetype paren = line.indexOf('(');
    return paren < 0 ? QByteArrayView(line) : QByteArrayView(line).first(paren + 1);
}

// Whether the line ends a program: the first end code found (M30, M99, M02,
// M2, in that order) ends it unless a digit follows it with more after
// (M301 X10 is another code).
bool endsProgram(const QByteArray& line)
{
    const QByteArrayView examined = examinedPart(line);
    for (const char* code : {"M30", "M99", "M02", "M2"}) {
        const qsizetype at = examined.indexOf(QByteArrayView(code));
        if (at < 0)
            continue;
        const qsizetype after = at + qsizetype(qstrlen(code));
        return line.size() - after <= 1 || line[after] < '0' || line[after] > '9';
    }
    return false;
}

bool startsProgram(const QByteArray& line)
{
    const QByteArrayView examined = examinedPart(line);
    return examined.startsWith('O') || examined.startsWith(':');
}

bool appendFile(const QString& path, LineWriter& out)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    FileSource source(in);
    QByteArray chunk;
    while (source.readChunk(chunk)) {
        out.write(chunk);
        chunk.resize(0);
    }
    return !source.failed();
}

} // namespace

bool MoveFirstProgramLast(const QString& path)
{
    if (Config().CodeGroupCN != 3)
        return false;
    FileLines lines;
    if (!lines.open(path))
        return false;
    const QString outPath = NewTempFile();
    const QString firstPath = NewTempFile();
    const auto cleanUp = qScopeGuard([&] {
        DeleteFile(outPath);
        DeleteFile(firstPath);
    });
    LineWriter out;
    LineWriter first;
    if (outPath.isEmpty() || firstPath.isEmpty() || !out.open(outPath) || !first.open(firstPath))
        return false;

    enum class Stage
    {
        Before,
        First,
        After,
        Rest
    } stage = Stage::Before;
    QByteArray line;
    while (lines.readLine(line)) {
        if (stage == Stage::Before && startsProgram(line))
            stage = Stage::First;
        if (stage == Stage::After && (line.contains(':') || line.contains('O')))
            stage = Stage::Rest;
        switch (stage) {
        case Stage::Before:
            out.writeLine(line);
            break;
        case Stage::First:
            first.writeLine(line);
            if (endsProgram(line))
                stage = Stage::After;
            break;
        case Stage::After:
            break;
        case Stage::Rest:
            if (!line.contains('%'))
                out.writeLine(line);
            break;
        }
    }
    if (lines.failed() || stage == Stage::Before || stage == Stage::First || !first.close())
        return false;
    if (!appendFile(firstPath, out))
        return false;
    out.writeLine("%");
    return out.close() && ReplaceByResult(path, outPath);
}

} // namespace nodalis
