#include "dnc/SyntaxCheck.h"

#include "dnc/CharLists.h"
#include "dnc/EventMessages.h"
#include "dnc/LineFiles.h"
#include "startup/Settings.h"

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
    qint64 number = 0;
    report.written = FilterFileLines(
        file, TempFilePath(QStringLiteral("TT_CheckSyntaxeInProg.txt")),
        [&](QByteArray& line, LineWriter& out) {
            ++number;
            const qsizetype comment = CommentStart(line);
            const QByteArrayView block =
                comment < 0 ? QByteArrayView(line) : QByteArrayView(line).first(comment);
            if (s.NbMaxCarBloc > 0 && block.size() > s.NbMaxCarBloc)
                report.blockTooLong = true;
            if (number == 1 && !s.BlocDeb.isEmpty())
                startFound = block.startsWith(s.BlocDeb);
            if ((number == 1 && s.BlocDeb.isEmpty()) || (number == 2 && !s.BlocDeb.isEmpty()))
                programCharFound = beginsWithProgramChar(block);
            if (!s.BlocFin.isEmpty() && !TrimmedView(block).isEmpty())
                endFound = FindText(block, s.BlocFin) >= 0;
            if (!line.contains('\n')) {
                out.writeLine(line);
                return;
            }
            // Each LF becomes CR LF, and an LF that ends the line gives no
            // second line end. Written piece by piece: the line may be the
            // whole program.
            report.lineEndError = true;
            QByteArrayView rest(line);
            if (rest.endsWith('\n'))
                rest.chop(1);
            for (qsizetype lf = rest.indexOf('\n'); lf >= 0; lf = rest.indexOf('\n')) {
                out.writeLine(rest.first(lf));
                rest = rest.sliced(lf + 1);
            }
            out.writeLine(rest);
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
