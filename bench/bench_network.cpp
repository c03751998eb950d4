// bench_network: one remote-file operation through the server's transport,
// for bench/fig_network.py to time from outside against curl and cp.
//
//     bench_network ftp PORT list FOLDER        list a folder of 127.0.0.1:PORT (user cnc)
//     bench_network ftp PORT get NAME LOCAL     fetch a file
//     bench_network ftp PORT put LOCAL NAME     send a file
//     bench_network share DIR put LOCAL NAME    copy a file into a shared folder
//     bench_network job PORT fetch NAME LOCAL   the small FTP client's fetch job
//
// Exit status 0 when the operation succeeded; the entry count of a listing
// on stdout.

#include "dnc/PortState.h"
#include "protocols/FtpSocketClient.h"
#include "protocols/FtpTransport.h"
#include "protocols/SharedFolder.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <memory>

using namespace nodalis;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    if (a.size() < 5) {
        std::fprintf(stderr, "usage: bench_network ftp PORT|share DIR list|get|put ARGS\n");
        return 64;
    }
    Settings& s = Config();
    if (a[1] == QLatin1String("job") && a.size() > 5) {
        s.RemoteHost = "127.0.0.1";
        s.RemotePort = a[2].toLatin1();
        s.ReseauUserName = "cnc";
        s.UserPassword = "cnc";
        Channel().targetName = a[4].toLatin1();
        // The job's events go to the LogFiles folder beside the file it fetches.
        Paths().setBaseFolder(QFileInfo(a[5]).absolutePath());
        Paths().receptionFile = a[5];
        FtpSocketClient client;
        bool complete = false;
        QObject::connect(&client, &FtpSocketClient::finished, &app, [&](bool whole) {
            complete = whole;
            app.quit();
        });
        if (!client.ExeCMD(3))
            return 1;
        app.exec();
        return complete ? 0 : 1;
    }
    std::unique_ptr<RemoteTransport> t;
    if (a[1] == QLatin1String("ftp")) {
        s.RemoteHost = "127.0.0.1";
        s.RemotePort = a[2].toLatin1();
        s.ReseauUserName = "cnc";
        s.UserPassword = "cnc";
        t = std::make_unique<ClsFTP>();
    } else {
        s.DefaultDirHostSend = a[2].toLocal8Bit();
        t = std::make_unique<SharedFolder>();
    }
    bool ok = false;
    if (a[3] == QLatin1String("list")) {
        RemoteListing listing;
        ok = t->list(a[4], listing);
        std::printf("%lld\n", static_cast<long long>(listing.entries.size()));
    } else if (a[3] == QLatin1String("get") && a.size() > 5) {
        ok = t->get(a[4], a[5], {});
    } else if (a[3] == QLatin1String("put") && a.size() > 5) {
        ok = t->put(a[4], a[5]);
    }
    if (!ok)
        std::fprintf(stderr, "bench_network: %s\n", qPrintable(t->lastError()));
    t->disconnect();
    return ok ? 0 : 1;
}
