// bench_focas: one FOCAS operation through the server's loader and transfer,
// for bench/fig_focas.py to time from outside.
//
//     bench_focas LIBRARY put LOCAL          send a program (the control takes it by its O line)
//     bench_focas LIBRARY get NAME LOCAL     fetch a program
//     bench_focas LIBRARY list               list the programs; prints their count
//
// LIBRARY is the FOCAS library to load (the simulated control, whose memory
// NODALIS_FOCAS_SIM names). Exit status 0 when the operation succeeded.

#include "platform/CncLibrary.h"
#include "protocols/TK_FOCAS.h"
#include "startup/Settings.h"

#include <QCoreApplication>

#include <cstdio>

using namespace nodalis;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    if (a.size() < 3) {
        std::fprintf(stderr, "usage: bench_focas LIBRARY put LOCAL | get NAME LOCAL | list\n");
        return 64;
    }
    Config().RemoteHost = "127.0.0.1";
    QString why;
    TK_FOCAS cnc(LoadCncLibrary(a[1], &why));
    bool ok = false;
    if (a[2] == QLatin1String("put") && a.size() > 3) {
        ok = cnc.put(a[3], {});
    } else if (a[2] == QLatin1String("get") && a.size() > 4) {
        ok = cnc.get(a[3], a[4], {});
    } else if (a[2] == QLatin1String("list")) {
        RemoteListing listing;
        ok = cnc.list(QStringLiteral("."), listing);
        std::printf("%lld\n", static_cast<long long>(listing.entries.size()));
    }
    if (!ok)
        std::fprintf(stderr, "bench_focas: %s %s\n", qPrintable(why), qPrintable(cnc.lastError()));
    return ok ? 0 : 1;
}
