// bench_mazatrol: one program conversion, for bench/fig_mazatrol.py to time
// from outside against a plain copy of the same file.
//
//     bench_mazatrol to-iso IN OUT CODECN    hybrid Mazatrol records to ISO text
//     bench_mazatrol to-records IN OUT       ISO text to Mazatrol records
//
// Exit status 0 when the conversion succeeded.

#include "protocols/MazatrolConvert.h"

#include <QStringList>

#include <cstdio>

int main(int argc, char** argv)
{
    using namespace nodalis::mazatrol;
    // Plain file work needs no application object: none is made, so the
    // figure is the conversion and the process, as cp's is.
    QStringList a;
    for (int i = 0; i < argc; ++i)
        a << QString::fromLocal8Bit(argv[i]);
    if (a.size() == 5 && a[1] == QLatin1String("to-iso"))
        return MazatrolToIso(a[2], a[3], a[4].toInt()) ? 0 : 1;
    if (a.size() == 4 && a[1] == QLatin1String("to-records"))
        return IsoToMazatrol(a[2], a[3]) == IsoResult::Done ? 0 : 1;
    std::fprintf(stderr, "usage: bench_mazatrol to-iso IN OUT CODECN | to-records IN OUT\n");
    return 64;
}
