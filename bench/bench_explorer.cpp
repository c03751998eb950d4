// bench_explorer: the network explorer window on the offscreen platform,
// for bench/fig_explorer.py. Each figure is taken RUNS times on the real
// clock, one line per run on stdout.
//
//     bench_explorer listing PORT FOLDER RUNS  "shown MS": the folder's
//                                              listing, once it has come, put
//                                              in the window and painted
//     bench_explorer preview PORT NAME RUNS    "shown MS": a remote file
//                                              previewed and painted
//     bench_explorer grid BASE RUNS            "shown MS": the store's grid
//                                              of BASE's machine listed and
//                                              painted
//
// PORT is an FTP server on 127.0.0.1 (user cnc, password cnc).

#include "dnc/PortEngine.h"
#include "explorer/FrmReseau.h"
#include "platform/SerialControl.h"
#include "startup/AppPaths.h"
#include "startup/ConfigLoader.h"
#include "startup/Settings.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>

using namespace nodalis;

namespace {

void useFtp(const QString& port)
{
    Settings& s = Config();
    s.Port.Methode = 4;
    s.RemoteHost = "127.0.0.1";
    s.RemotePort = port.toLatin1();
    s.ReseauUserName = "cnc";
    s.UserPassword = "cnc";
}

// Lays out and paints the window now, as the screen would show it.
void paint(FrmReseau& window)
{
    QApplication::processEvents();
    window.repaint();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList a = app.arguments();
    if (a.size() < 5 && !(a.size() == 4 && a[1] == QLatin1String("grid"))) {
        std::fprintf(stderr, "usage: bench_explorer listing PORT FOLDER RUNS | preview PORT NAME "
                             "RUNS | grid BASE RUNS\n");
        return 64;
    }
    if (a[1] == QLatin1String("grid")) {
        Paths().setBaseFolder(QFileInfo(a[2]).absoluteFilePath());
        if (!ReadConfiguration(Paths().configPath, Config()).loaded)
            return 1;
    } else {
        useFtp(a[2]);
    }
    if (a[1] != QLatin1String("grid"))
        Paths().setBaseFolder(QDir::tempPath() + QStringLiteral("/nodalis-bench-explorer"));
    QDir().mkpath(Paths().tempFolder);
    SerialControl line;
    PortEngine engine(line);
    NetworkTransfer network(engine);
    ExplorerController explorer(network);
    FrmReseau window(explorer);
    explorer.setWindow(&window);
    window.resize(1200, 800);
    window.show();
    const int runs = a.last().toInt();
    QElapsedTimer clock;
    for (int i = 0; i < runs; ++i) {
        if (a[1] == QLatin1String("listing")) {
            // The listing has arrived once the controller holds it: from
            // there to the window painted.
            if (i == 0 && (explorer.OpenRemote(a[3]), explorer.remoteListing().entries.isEmpty()))
                return 1;
            clock.start();
            window.remoteChanged();
            paint(window);
            std::printf("shown %.3f\n", clock.nsecsElapsed() / 1e6);
        } else if (a[1] == QLatin1String("preview")) {
            clock.start();
            explorer.PreviewRemote(a[3]);
            paint(window);
            std::printf("shown %.3f\n", clock.nsecsElapsed() / 1e6);
        } else {
            clock.start();
            explorer.setStoreFilter(i % 2 ? QStringLiteral("P") : QString());
            paint(window);
            std::printf("shown %.3f\n", clock.nsecsElapsed() / 1e6);
        }
        std::fflush(stdout);
    }
    return 0;
}
