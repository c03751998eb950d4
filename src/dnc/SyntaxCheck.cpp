#include "dnc/SyntaxCheck.h"

#include "dnc/CharLists.h"
#include "dnc/EventMessages.h"
#include "dnc/LineFiles.h"
#include "startup/Settings.h"
#include "store/ByteRuns.h"

namespace nodalis {

namespace {

bool beginsWithProgramChar(QByteArrayView block)
{
    const QByteArray& alternatives = Config().CarDebProg;
    if (alternatives.isEmpty())
        return true;
    for (const QByteArray& alternative : alternatives.split('|')) {
        if (!alternative.isEmpty() && block.startsWith(alternative))
            return true;
    }
    return false;
}

// The line without its comment.
QByteArrayView blockOf(QByteArrayView line)
{
    const qsizetype comment = CommentStart(line);
    return comment < 0 ? line : line.first(comment);
}

// Whether a run of lines holds an LF that does not end a line (a line end
// other than CR LF). Tested without a branch, many bytes at once.
NODALIS_WIDE_BYTE_LOOP bool holdsBareLf(QByteArrayView lines)
{
    if (lines.isEmpty())
        return false;
    const char* const b = lines.data();
    unsigned char bare = b[0] == '\n';
    for (qsizetype i = 1; i < lines.size(); ++i)
        bare |= static_cast<unsigned char>((b[i] == '\n') & (b[i - 1] != '\r'));
    return bare != 0;
}

// The block of the last line of a run whose block is not blank; false when
// there is none. Looked for from the end: only the last one counts.
bool lastBlock(QByteArrayView lines, QByteArrayView& block)
{
    const char* const b = lines.data();
    const char* end = b + lines.size() - 2; // the CR LF of the line looked at
    for (;;) {
        const char* const before = FindLastCrLf(b, end);
        const char* const start = before ? before + 2 : b;
        block = blockOf(QByteArrayView(start, end - start));
        if (!TrimmedView(block).isEmpty())
            return true;
        if (!before)
            return false;
        end = before;
    }
}

// A line with a bare LF, written with each LF made CR LF; an LF that ends
// the line gives no second line end. Piece by piece: the line may be the
// whole program.
void writeSplitAtLf(QByteArrayView line, LineWriter& out)
{
    QByteArrayView rest(line);
    if (rest.endsWith('\n'))
        rest.chop(1);
    for (qsizetype lf = rest.indexOf('\n'); lf >= 0; lf = rest.indexOf('\n')) {
        out.writeLine(rest.first(lf));
        rest = rest.sliced(lf + 1);
    }
    out.writeLine(rest);
}

} // namespace

QList<int> SyntaxReport::events() const
{
    QList<int> codes;
    if (lineEndError)
        codes.append(920);
    if (blockTooLong)
        codes.append(921);
    if (startBlockMissing)
        codes.append(922);
    if (endBlockMissing)
        codes.append(923);
    if (programCharMissing)
        codes.append(924);
    return codes;
}

SyntaxReport ExamineSyntax(const QString& file)
{
    const Settings& s = Config();
    SyntaxReport report;
    bool startFound = s.BlocDeb.isEmpty();
    bool programCharFound = false;
    bool endFound = false; // in the last block that is not blank
    qint64 number = 0;     // lines examined for the start block
    report.written = FilterFileRuns(
        file, TempFilePath(QStringLiteral("TT_CheckSyntaxeInProg.txt")),
        [&](QByteArrayView lines, LineWriter& out) {
            // The start block and the program number open the program.
            for (const char *p = lines.data(), *end = p + lines.size(); number < 2 && p < end;) {
                const char* const lineEnd = FindCrLf(p, end);
                const QByteArrayView block = blockOf(QByteArrayView(p, lineEnd - p));
                p = lineEnd + 2;
                ++number;
                if (number == 1 && !s.BlocDeb.isEmpty())
                    startFound = block.startsWith(s.BlocDeb);
                if ((number == 1 && s.BlocDeb.isEmpty()) || (number == 2 && !s.BlocDeb.isEmpty()))
                    programCharFound = beginsWithProgramChar(block);
            }
            if (s.NbMaxCarBloc > 0 && !report.blockTooLong) {
                ForEachLine(lines, [&](QByteArrayView line) {
                    if (line.size() > s.NbMaxCarBloc && blockOf(line).size() > s.NbMaxCarBloc)
                        report.blockTooLong = true;
                });
            }
            QByteArrayView block;
            if (!s.BlocFin.isEmpty() && lastBlock(lines, block))
                endFound = FindText(block, s.BlocFin) >= 0;
            if (!holdsBareLf(lines)) {
                out.keep(lines);
                return;
            }
            report.lineEndError = true;
            WriteLines(
                lines, out, [](QByteArrayView line) { return !line.contains('\n'); },
                writeSplitAtLf);
        });
    if (report.written) {
        report.startBlockMissing = !startFound;
        report.endBlockMissing = !s.BlocFin.isEmpty() && !endFound;
        report.programCharMissing = !programCharFound;
    }
    return report;
}

bool CheckSyntax(const QString& file)
{
    SetStatus(910);
    const SyntaxReport report = ExamineSyntax(file);
    for (int code : report.events())
        SetStatus(code);
    return report.written;
}

} // namespace nodalis
