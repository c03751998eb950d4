// Runs one program text filter on one file, as the server runs it before a
// send or after an upload, and exits: bench/fig_filters.py times it from
// outside against a plain copy of the same file.
//
//   bench_program_text FILTER FILE
//
// FILTER is one of replace-chars, special-chars, trim-blocks, line-filter,
// syntax-check, send-prep, line-ends. The file's folder is the base folder
// (its Temp/ holds the filter's working file, its LogFiles/ the events).
// Exit status 0 when the filter did its work, 1 otherwise.

#include "dnc/CharFilters.h"
#include "dnc/CharLists.h"
#include "dnc/ReceptionFilters.h"
#include "dnc/SendPreparation.h"
#include "dnc/SyntaxCheck.h"
#include "platform/ProcessLimits.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"

#include <QFileInfo>

#include <cstdio>
#include <cstring>
#include <functional>
#include <utility>

using namespace nodalis;

namespace {

// The settings of a milling machine whose uploads and sends go through
// every filter: comments and header lines kept off the line, tabs sent as
// blanks, comment lines dropped from uploads.
void configure()
{
    Settings& s = Config();
    s.CarDebCom = "(";
    s.CarDebProg = "O";
    s.BlocDeb = "%";
    s.BlocFin = "%";
    s.NbMaxCarBloc = 60;
    s.CodeGroupCN = 3;
    s.FiltreCarSpec = true;
    s.Port.SendComment = false;
    s.Port.SendCartouche = false;
    s.Port.SendEmptyLines = false;
    s.Port.TCarFiltered = "9";
    s.Port.TCarFilteredBy = "32";
    s.Port.FiltreLigneRecep = "*(*";
}

} // namespace

int main(int argc, char** argv)
{
    // No application object: the server has one already, a filter does
    // not need one, and making it would be timed as the filter's own work.
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_program_text FILTER FILE\n");
        return 1;
    }
    KeepFreedMemory(); // as the server does
    const QString file = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
    Paths().setBaseFolder(QFileInfo(file).absolutePath());
    MakeFolders(Paths().tempFolder);
    configure();

    const std::pair<const char*, std::function<bool()>> filters[] = {
        // Blanks removed, as a reception with RCarFiltered=32 does.
        {"replace-chars", [&] { return ReplaceChars(file, DecodeCharList("32", {}), {}); }},
        {"special-chars", [&] { return FilterSpecialChars(file, " "); }},
        {"trim-blocks", [&] { return TrimBlocks(file); }},
        {"line-filter", [&] { return FilterReceivedLines(file); }},
        {"syntax-check", [&] { return CheckSyntax(file); }},
        {"send-prep", [&] { return PrepareSendText(file); }},
        {"line-ends", [&] { return NormaliseLineEnds(file); }},
    };
    for (const auto& [name, run] : filters) {
        if (std::strcmp(name, argv[1]) == 0)
            return run() ? 0 : 1;
    }
    std::fprintf(stderr, "unknown filter %s\n", argv[1]);
    return 1;
}
