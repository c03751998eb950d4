// Throughput of the file-to-file program text filters on a large program,
// each compared with a plain copy of the same file in the same run.
//
//   bench_program_text [size in MB, default 100] [work folder] [filter name part]

#include "dnc/CharFilters.h"
#include "dnc/MachineSpecifics.h"
#include "dnc/ProgramHeader.h"
#include "dnc/ReceptionFilters.h"
#include "dnc/SendPreparation.h"
#include "dnc/SyntaxCheck.h"
#include "platform/Clock.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace nodalis;

namespace {

// A group-3 multi-program file: programs of a few hundred blocks with header
// lines, comments, empty lines, tabs and a few accented characters.
bool writeProgram(const QString& path, qint64 bytes)
{
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    QByteArray buffer;
    qint64 written = 0;
    for (int program = 1; written < bytes; ++program) {
        buffer = "%\r\n(*ORVA MACHINE: NLX2500*)\r\n(*ORVA PIECE: CARTER-" +
                 QByteArray::number(program) + "*)\r\nO" +
                 QByteArray::number(1000 + program % 8000) + " (PROGRAMME " +
                 QByteArray::number(program) + ")\r\n";
        for (int n = 1; n <= 400; ++n) {
            buffer += "N" + QByteArray::number(n * 10) + " G01 X" + QByteArray::number(n % 250) +
                      ".125 Y-" + QByteArray::number(n % 75) + ".5\tF" +
                      QByteArray::number(100 + n % 900);
            buffer += n % 25 == 0 ? " (PASSE FINITION \xe9PAULEMENT)\r\n" : "\r\n";
            if (n % 100 == 0)
                buffer += "\r\n   M01   \r\n";
        }
        buffer += "M30\r\n";
        if (out.write(buffer) != buffer.size())
            return false;
        written += buffer.size();
    }
    return out.write("%\r\n") == 3;
}

struct Result
{
    const char* name;
    double seconds;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    QTemporaryDir dir(argc > 2 ? QString::fromLocal8Bit(argv[2]) + QStringLiteral("/bench-XXXXXX")
                               : QString());
    if (!dir.isValid()) {
        std::fprintf(stderr, "no work folder\n");
        return 1;
    }
    Paths().setBaseFolder(dir.path());
    MakeFolders(Paths().tempFolder);
    Settings& s = Config();
    s.CarDebCom = "(";
    s.CarDebProg = "O";
    s.BlocDeb = "%";
    s.BlocFin = "%";
    s.NbMaxCarBloc = 60;
    s.CodeGroupCN = 3;
    s.FiltreCarSpec = true;
    s.Port.TCarFiltered = "9";
    s.Port.TCarFilteredBy = "32";
    s.Port.SendEmptyLines = false;
    s.Port.FiltreLigneRecep = "*M01*";

    const QString program = dir.filePath(QStringLiteral("program.nc"));
    const QString work = dir.filePath(QStringLiteral("work.nc"));
    if (!writeProgram(program, megabytes * 1024 * 1024)) {
        std::fprintf(stderr, "cannot write the program\n");
        return 1;
    }
    const double size = double(QFileInfo(program).size()) / (1024.0 * 1024.0);

    const QList<std::pair<const char*, std::function<void()>>> filters = {
        {"PrepareSendText", [&] { PrepareSendText(work); }},
        {"ReplaceChars", [&] { ReplaceChars(work, " ", ""); }},
        {"FilterSpecialChars", [&] { FilterSpecialChars(work, " "); }},
        {"TrimBlocks", [&] { TrimBlocks(work); }},
        {"FilterReceivedLines", [&] { FilterReceivedLines(work); }},
        {"CheckSyntax", [&] { ExamineSyntax(work); }},
        {"PadBoschFirstLine", [&] { PadBoschFirstLine(work); }},
        {"InsertBrotherProgramNumbers", [&] { InsertBrotherProgramNumbers(work); }},
        {"MoveFirstProgramLast", [&] { MoveFirstProgramLast(work); }},
        {"Dialog3Checksum (read only)", [&] { Dialog3Checksum(work); }},
        {"ReadProgramCode (read only)", [&] { ReadProgramCode(work); }},
    };

    // Each filter runs on a fresh copy of the program, several times; a plain
    // copy is timed before each run, so that both see the same machine load.
    // The best time of each is kept.
    const int runs = 3;
    const auto seconds = [](const std::function<void()>& run) {
        QElapsedTimer t;
        t.start();
        run();
        return double(t.nsecsElapsed()) / 1e9;
    };
    const QString copyPath = dir.filePath(QStringLiteral("copy.nc"));
    CopyFile(program, copyPath);
    double copySeconds = 1e9;
    QList<Result> results;
    const QByteArray only = argc > 3 ? QByteArray(argv[3]) : QByteArray();
    for (const auto& [name, run] : filters) {
        if (!QByteArray(name).contains(only))
            continue;
        double best = 1e9;
        for (int i = 0; i < runs; ++i) {
            // Like a filter, the copy replaces an existing file of that size.
            copySeconds = std::min(copySeconds, seconds([&] { CopyFile(program, copyPath); }));
            CopyFile(program, work);
            best = std::min(best, seconds(run));
        }
        results.append({name, best});
    }

    std::printf("program text filters on a %.1f MB program (%s build, best of %d runs)\n", size,
#ifdef NDEBUG
                "release"
#else
                "debug"
#endif
                ,
                runs);
    std::printf("%-30s %9s %9s %8s\n", "filter", "seconds", "MB/s", "x copy");
    std::printf("%-30s %9.3f %9.1f %8.2f\n", "plain copy (CopyFile)", copySeconds,
                size / copySeconds, 1.0);
    for (const Result& r : results)
        std::printf("%-30s %9.3f %9.1f %8.2f\n", r.name, r.seconds, size / r.seconds,
                    r.seconds / copySeconds);
    return 0;
}
