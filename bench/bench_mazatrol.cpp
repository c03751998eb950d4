// bench_mazatrol: one program conversion, for bench/fig_mazatrol.py to time
// from outside against a plain copy of the same file.
//
//     bench_mazatrol to-iso IN OUT CODECN    hybrid Mazatrol records to ISO text
//     bench_mazatrol to-records IN OUT       ISO text to Mazatrol records
//
// Exit status 0 when the conversion succeeded.

#include "protocols/MazatrolConvert.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    using namespace nodalis::mazatrol;
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    if (a.size() == 5 && a[1] == QLatin1String("to-iso"))
        return MazatrolToIso(a[2], a[3], a[4].toInt()) ? 0 : 1;
    if (a.size() == 4 && a[1] == QLatin1String("to-records"))
        return IsoToMazatrol(a[2], a[3]) == IsoResult::Done ? 0 : 1;
    std::fprintf(stderr, "usage: bench_mazatrol to-iso IN OUT CODECN | to-records IN OUT\n");
    return 64;
}
