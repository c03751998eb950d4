// Time to load a realistic Nodalis.ini with every key set: cold (file never
// read before, so parsed), warm (parsed file reused), and cold with the
// check that --check-config runs on top of the load.

#include "startup/ConfigCheck.h"
#include "startup/ConfigLoader.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace nodalis;

int main()
{
    QTemporaryDir dir;
    const int runs = 200;
    std::vector<double> cold;
    std::vector<double> warm;
    std::vector<double> checked;
    qsizetype findings = 0;
    for (int i = 0; i < runs; ++i) {
        const QString path = dir.filePath(QStringLiteral("n%1.ini").arg(i));
        QFile::copy(QStringLiteral(NODALIS_DEMO_INI), path);
        Settings s;
        QElapsedTimer t;
        t.start();
        const bool ok = ReadConfiguration(path, s).loaded;
        cold.push_back(double(t.nsecsElapsed()) / 1e6);
        t.restart();
        ReadConfiguration(path, s);
        warm.push_back(double(t.nsecsElapsed()) / 1e6);

        const QString again = dir.filePath(QStringLiteral("c%1.ini").arg(i));
        QFile::copy(QStringLiteral(NODALIS_DEMO_INI), again);
        t.restart();
        ReadConfiguration(again, s);
        findings = CheckConfiguration(again, s).size();
        checked.push_back(double(t.nsecsElapsed()) / 1e6);
        if (!ok) {
            std::fprintf(stderr, "cannot load %s\n", NODALIS_DEMO_INI);
            return 1;
        }
    }
    auto report = [](const char* what, std::vector<double>& v) {
        std::sort(v.begin(), v.end());
        std::printf("%-28s median %.3f ms   p95 %.3f ms   max %.3f ms\n", what, v[v.size() / 2],
                    v[v.size() * 95 / 100], v.back());
    };
    std::printf("configuration load, %d runs of %s\n", runs, NODALIS_DEMO_INI);
    report("cold (read + parse + load)", cold);
    report("warm (parsed file reused)", warm);
    report("cold, load + check", checked);
    std::printf("the check has %lld things to say about it\n", static_cast<long long>(findings));
    return 0;
}
