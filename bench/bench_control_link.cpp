// Control link throughput against a real headless server on loopback:
// PING round trips per second with 1 and 50 clients, and the time one
// broadcast takes to reach 200 clients.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using Client = std::unique_ptr<QTcpSocket>;

bool readLine(QTcpSocket& s, const QByteArray& wanted)
{
    for (;;) {
        while (s.canReadLine()) {
            if (s.readLine() == wanted)
                return true;
        }
        if (!s.waitForReadyRead(5000))
            return false;
    }
}

std::vector<Client> connectClients(int count, quint16 port)
{
    std::vector<Client> clients;
    for (int i = 0; i < count; ++i) {
        auto c = std::make_unique<QTcpSocket>();
        c->connectToHost(QStringLiteral("127.0.0.1"), port);
        if (!c->waitForConnected(5000))
            return {};
        clients.push_back(std::move(c));
    }
    return clients;
}

double pingRate(int clientCount, int rounds, quint16 port)
{
    std::vector<Client> clients = connectClients(clientCount, port);
    if (clients.empty())
        return 0;
    QElapsedTimer t;
    t.start();
    for (int r = 0; r < rounds; ++r) {
        for (Client& c : clients)
            c->write("Info:PING|\r\n");
        for (Client& c : clients) {
            c->flush();
            if (!readLine(*c, "Info:OK|\r\n"))
                return 0;
        }
    }
    return double(clientCount) * rounds / (double(t.nsecsElapsed()) / 1e9);
}

double broadcastMs(int clientCount, quint16 port)
{
    std::vector<Client> clients = connectClients(clientCount, port);
    if (clients.empty())
        return -1;
    // Let the server accept them all before measuring.
    for (Client& c : clients) {
        c->write("Info:PING|\r\n");
        if (!readLine(*c, "Info:OK|\r\n"))
            return -1;
    }
    QElapsedTimer t;
    t.start();
    clients.front()->write("Info:CONNECT|\r\n");
    clients.front()->flush();
    for (Client& c : clients) {
        if (!readLine(*c, "Info:{a}|Arg:0<>|\r\n"))
            return -1;
    }
    return double(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QFile ini(dir.filePath(QStringLiteral("Nodalis.ini")));
    if (!ini.open(QIODevice::WriteOnly))
        return 1;
    ini.write("[NODALIS]\r\nPortListen=0\r\nDncAppMode=0\r\n[DNC]\r\nRefMO=BENCH\r\n");
    ini.close();

    QProcess server;
    server.start(QCoreApplication::applicationDirPath() + QStringLiteral("/nodalis"),
                 {QStringLiteral("--headless"), QStringLiteral("--base"), dir.path()});
    QByteArray out;
    while (!out.contains("serving from") && server.waitForReadyRead(5000))
        out += server.readAllStandardOutput();
    QSettings settings(ini.fileName(), QSettings::IniFormat);
    const quint16 port = quint16(settings.value(QStringLiteral("NODALIS/Socket")).toInt());
    if (port == 0) {
        std::fprintf(stderr, "the server did not start\n");
        return 1;
    }

    std::printf("control link on loopback (headless server, port %u)\n", port);
    std::printf("  PING round trips, 1 client:    %8.0f /s\n", pingRate(1, 5000, port));
    std::printf("  PING round trips, 50 clients:  %8.0f /s\n", pingRate(50, 200, port));
    std::vector<double> times;
    for (int i = 0; i < 5; ++i)
        times.push_back(broadcastMs(200, port));
    std::sort(times.begin(), times.end());
    std::printf("  one broadcast to 200 clients:  %8.2f ms (median of 5, max %.2f ms)\n",
                times[times.size() / 2], times.back());

    ::kill(pid_t(server.processId()), SIGTERM);
    server.waitForFinished(5000);
    return 0;
}
