// bench_tnc: one operation of the TNCremo link, for bench/fig_tnc.py to time
// from outside against the tool run by hand on the same script.
//
//     bench_tnc TOOL ROOT get NAME LOCAL       fetch a file (Ethernet)
//     bench_tnc TOOL ROOT list FOLDER SECONDS  list a folder, the tool given SECONDS
//     bench_tnc parse FILE ROUNDS              parse a listing ROUNDS times: the
//                                              median milliseconds and the entries
//
// ROOT is the folder that plays the control for the stand-in tool. Exit
// status 0 when the operation succeeded.

#include "protocols/ClsTNCRemo.h"
#include "startup/Settings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>

using namespace nodalis;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    if (a.size() == 4 && a[1] == QLatin1String("parse")) {
        QFile file(a[2]);
        if (!file.open(QIODevice::ReadOnly))
            return 1;
        const QByteArray text = file.readAll();
        QList<double> ms;
        qsizetype entries = 0;
        for (int i = 0; i < a[3].toInt(); ++i) {
            QElapsedTimer t;
            t.start();
            RemoteListing listing;
            ClsTNCRemo::ParseListing(text, listing);
            ms.append(double(t.nsecsElapsed()) / 1e6);
            entries = listing.entries.size();
        }
        std::sort(ms.begin(), ms.end());
        std::printf("%.3f %lld\n", ms.value(ms.size() / 2), static_cast<long long>(entries));
        return 0;
    }
    if (a.size() < 6) {
        std::fprintf(stderr, "usage: bench_tnc TOOL ROOT get NAME LOCAL | list FOLDER SECONDS\n");
        return 64;
    }
    Config().TncCmd = a[1].toLocal8Bit();
    Config().RemoteHost = "127.0.0.1";
    qputenv("NODALIS_TNC_ROOT", a[2].toLocal8Bit());
    ClsTNCRemo tnc;
    bool ok = false;
    if (a[3] == QLatin1String("get") && a.size() > 5) {
        ok = tnc.RecupererFichier(a[4], a[5]);
    } else if (a[3] == QLatin1String("list")) {
        Config().Port.TimeOutEnvoi = a[5].toInt();
        RemoteListing listing;
        ok = tnc.FNGetList(a[4], listing);
    }
    if (!ok)
        std::fprintf(stderr, "bench_tnc: %s\n", qPrintable(tnc.lastError()));
    return ok ? 0 : 1;
}
