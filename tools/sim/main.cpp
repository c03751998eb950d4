// nodalis-sim: a machine tool on the far end of a pseudo-terminal, or an
// IP-serial converter with its machine behind a TCP port.

#include "sim/MachineSimulator.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <cstdio>

using namespace nodalis::sim;

namespace {

const char* kUsage =
    "Usage: nodalis-sim [--link PATH | --tcp PORT] [--record FILE] [--loop | --stay] [SCRIPT]\n"
    "\n"
    "Creates a pseudo-terminal, prints its device path, and plays the machine: the server\n"
    "opens the device (or the link PATH) as its serial port. With --tcp it listens on\n"
    "127.0.0.1:PORT instead and plays an IP-serial converter with its machine (Methode=7,\n"
    "RemoteHost, RemotePort): the script runs while the server is connected.\n"
    "SCRIPT is a list of commands separated by ';':\n"
    "  text TEXT    send TEXT (escapes \\r \\n \\t \\xHH)\n"
    "  send FILE    send the file's bytes\n"
    "  noise N      send N random bytes\n"
    "  wait MS      pause\n"
    "  pace MS      later sends: one chunk every MS milliseconds\n"
    "  chunk N      later sends: chunks of N bytes (0: all at once)\n"
    "  close        the device goes away\n"
    "  drop         close the connection (--tcp); the script goes on when the server is back\n"
    "  down MS      drop, and refuse connections for MS milliseconds (--tcp)\n"
    "--loop runs the script again and again; --stay keeps the device after the script.\n"
    "--record appends what the server sends, one line per arrival: milliseconds, then the\n"
    "bytes C-escaped.\n";

QByteArray escaped(const QByteArray& bytes)
{
    QByteArray out;
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else if (u < 32 || u > 126)
            out += "\\x" + QByteArray::number(u, 16).rightJustified(2, '0');
        else
            out += c;
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString link, record, script;
    int tcpPort = -1;
    bool loop = false, stay = false;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--link") && i + 1 < args.size())
            link = args[++i];
        else if (a == QLatin1String("--tcp") && i + 1 < args.size())
            tcpPort = args[++i].toInt();
        else if (a == QLatin1String("--record") && i + 1 < args.size())
            record = args[++i];
        else if (a == QLatin1String("--loop"))
            loop = true;
        else if (a == QLatin1String("--stay"))
            stay = true;
        else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::printf("%s", kUsage);
            return 0;
        } else if (a.startsWith(QLatin1String("--"))) {
            std::fprintf(stderr, "nodalis-sim: unknown option %s\n\n%s", qPrintable(a), kUsage);
            return 64;
        } else
            script += (script.isEmpty() ? QString() : QStringLiteral(";")) + a;
    }

    MachineSimulator sim;
    if (tcpPort >= 0 ? !sim.listenTcp(quint16(tcpPort))
                     : !sim.open() || (!link.isEmpty() && !sim.linkAt(link))) {
        std::fprintf(stderr, "nodalis-sim: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    if (tcpPort >= 0)
        std::printf("listening 127.0.0.1:%u\n", unsigned(sim.tcpPort()));
    else
        std::printf("device %s\n", qPrintable(sim.devicePath()));
    std::fflush(stdout);

    QFile recordFile(record);
    if (!record.isEmpty() && !recordFile.open(QIODevice::Append)) {
        std::fprintf(stderr, "nodalis-sim: cannot write %s\n", qPrintable(record));
        return 1;
    }
    QObject::connect(&sim, &MachineSimulator::dataReceived, [&](const QByteArray&) {
        const MachineSimulator::Received& r = sim.received().last();
        if (recordFile.isOpen()) {
            recordFile.write(QByteArray::number(r.ms) + ' ' + escaped(r.bytes) + '\n');
            recordFile.flush();
        }
    });

    QStringList steps;
    for (const QString& s : script.split(QLatin1Char(';')))
        if (!s.trimmed().isEmpty())
            steps.append(s.trimmed());
    int pace = 0, chunk = 0;
    auto queueScript = [&]() -> bool {
        for (const QString& step : steps) {
            const QString error = RunScriptStep(sim, step.split(QLatin1Char(' ')), pace, chunk);
            if (!error.isEmpty()) {
                std::fprintf(stderr, "nodalis-sim: %s\n", qPrintable(error));
                return false;
            }
        }
        return true;
    };
    if (!queueScript())
        return 64;
    QObject::connect(&sim, &MachineSimulator::idleAgain, [&] {
        if (loop && !steps.isEmpty())
            queueScript();
        else if (!stay || !sim.isOpen())
            QTimer::singleShot(500, &app, &QCoreApplication::quit);
    });
    if (steps.isEmpty() && !stay && !loop)
        return 0;
    return QCoreApplication::exec();
}
