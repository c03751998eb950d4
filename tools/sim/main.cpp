// nodalis-sim: a machine tool on the far end of a pseudo-terminal, or an
// IP-serial converter with its machine behind a TCP port, or a control
// speaking LSV2, or a PTR box, or a Mazak control (--peer).

#include "sim/Lsv2Peer.h"
#include "sim/MachineSimulator.h"
#include "sim/MazatrolPeer.h"
#include "sim/PtrPeer.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <cstdio>

using namespace nodalis::sim;

namespace {

const char* kUsage =
    "Usage: nodalis-sim [--link PATH | --tcp PORT] [--record FILE] [--loop | --stay] [SCRIPT]\n"
    "       nodalis-sim --peer tnc|agie|ptr [--link PATH] [--record FILE] [--reply-gap MS] STEPS\n"
    "       nodalis-sim --peer mazatrol --model N [--expect FILE] [--link PATH] [--record FILE]\n"
    "                   STEPS\n"
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
    "bytes C-escaped.\n"
    "\n"
    "--peer plays a Heidenhain TNC (tnc) or an AGIE (agie) control speaking LSV2, and checks\n"
    "every answer of the server. STEPS, separated by ';', run once the server has opened the\n"
    "device (it has 30 s to do so):\n"
    "  login WORD              tnc: A_LG WORD; T_OK for INSPECT and FILE, else no answer\n"
    "  version | params        tnc: R_VR, R_PR; S_VR, S_PR\n"
    "  logout                  tnc: A_LO; T_OK\n"
    "  send TEXT               the command TEXT (escapes \\r \\n \\t \\xHH); tnc: the answer\n"
    "                          its command gets, agie: any answer or none\n"
    "  request NAME [FILE]     agie: download NAME; checks it against FILE, else the file NAME\n"
    "                          here, else an empty program\n"
    "  upload FILE as NAME     agie: sends FILE as the program NAME\n"
    "  wait MS                 pause\n"
    "  nak N                   refuse the server's next N telegrams once each\n"
    "  silent                  leave the server's next ENQ unanswered\n"
    "  noise N                 send N random bytes (no ENQ), then wait 1 s\n"
    "  split                   the next telegram goes out in two bursts, then whole again\n"
    "  eot-enq                 the next EOT goes out with the next command's ENQ\n"
    "--peer ptr plays a PTR box: it asks for programs by number, and checks and acknowledges\n"
    "each line's frame. Its STEPS:\n"
    "  request NUMBER [FILE]   the program NUMBER; its lines must be those of FILE, else of\n"
    "                          the file NUMBER here (if none, any program goes)\n"
    "  request NUMBER missing  a program the server lacks: no answer within 2 s\n"
    "  nak-at N                at the next request, NAK to frame N; then only the closing ETX\n"
    "  garbage-at N            the same, with an ACK and more bytes behind it\n"
    "  silent-at N             the same, leaving frame N unanswered (closing ETX within 10 s)\n"
    "  noise N                 send N random bytes (no %), then no answer within 1 s\n"
    "  raw TEXT                send TEXT (escapes \\r \\n \\t \\xHH); any answer goes\n"
    "  wait MS                 pause\n"
    "--peer mazatrol plays a Mazak control of model N (CodeCN 701 to 713, not 711) with its\n"
    "conversational handshake, and checks every answer of the server. Its STEPS:\n"
    "  upload FILE             \"p3\", a name, one \"p1\" frame per record of FILE (hexadecimal\n"
    "                          records between \"xVb\" lines), then \"pA\" until the server stops\n"
    "  call NAME [FILE]        uploads program 8888 named \"ORVA NAME\", then downloads\n"
    "  download [FILE]         \"pA\", \"pD\", then \"p4\" until no frame comes; the records must "
    "be\n"
    "                          those FILE's download carries (else --expect, else for a call the\n"
    "                          file NAME here; if none, any program goes)\n"
    "  silent                  the next transfer stops after one frame, the machine quiet\n"
    "  no-etx                  the next upload's first frame goes first without its ETX\n"
    "  nul-burst               \"q\" EOT NUL; the model's answer to it\n"
    "  noise N                 N random bytes and EOT; any answer goes\n"
    "  slow MS                 later messages MS after the server's last byte\n"
    "  wait MS                 pause\n"
    "It prints one line per step; exit status 0 when every step passed, 1 on a deviation.\n"
    "--reply-gap MS: answer the server MS after its last byte (default 150).\n";

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

// Records what the server sends, if asked, one line per arrival.
bool recordInto(MachineSimulator& sim, QFile& file)
{
    if (!file.fileName().isEmpty() && !file.open(QIODevice::Append)) {
        std::fprintf(stderr, "nodalis-sim: cannot write %s\n", qPrintable(file.fileName()));
        return false;
    }
    QObject::connect(&sim, &MachineSimulator::dataReceived, [&sim, &file](const QByteArray&) {
        const MachineSimulator::Received& r = sim.received().last();
        if (file.isOpen()) {
            file.write(QByteArray::number(r.ms) + ' ' + escaped(r.bytes) + '\n');
            file.flush();
        }
    });
    return true;
}

// Runs the steps of either peer once the device is there; its exit status.
template <typename Peer> int runSteps(Peer& peer, const QStringList& steps, int replyGapMs)
{
    // The server is started after the simulator.
    peer.setFirstContactTimeout(30000);
    if (replyGapMs >= 0)
        peer.setReplyGap(replyGapMs);
    QObject::connect(&peer, &Peer::stepDone, [](const QString& line) {
        std::printf("%s\n", qPrintable(line));
        std::fflush(stdout);
    });
    QObject::connect(&peer, &Peer::finished, [](bool ok, const QString& message) {
        if (ok)
            std::printf("%s\n", qPrintable(message));
        else
            std::fprintf(stderr, "nodalis-sim: %s\n", qPrintable(message));
        std::fflush(stdout);
        // The server ends its last transmission before the line goes.
        QTimer::singleShot(300, [ok] { QCoreApplication::exit(ok ? 0 : 1); });
    });
    peer.start(steps);
    return QCoreApplication::exec();
}

int runPeer(const QString& kindName, const QString& link, const QString& record,
            const QString& script, bool otherMode, int replyGapMs, int model, const QString& expect)
{
    const bool ptr = kindName == QLatin1String("ptr");
    const bool mazak = kindName == QLatin1String("mazatrol");
    Lsv2Peer::Kind kind = Lsv2Peer::Kind::Tnc;
    if (kindName == QLatin1String("agie"))
        kind = Lsv2Peer::Kind::Agie;
    else if (!ptr && !mazak && kindName != QLatin1String("tnc")) {
        std::fprintf(stderr, "nodalis-sim: --peer takes tnc, agie, ptr or mazatrol, not %s\n",
                     qPrintable(kindName));
        return 64;
    }
    if (otherMode) {
        std::fprintf(stderr, "nodalis-sim: --peer goes without --tcp, --loop and --stay\n");
        return 64;
    }
    const QStringList steps = ScriptedPeer::splitScript(script);
    if (steps.isEmpty()) {
        std::fprintf(stderr, "nodalis-sim: --peer needs steps\n\n%s", kUsage);
        return 64;
    }
    if (mazak != (model > 0) || (!mazak && !expect.isEmpty())) {
        std::fprintf(stderr, "nodalis-sim: --model and --expect go with --peer mazatrol, which "
                             "needs --model\n");
        return 64;
    }
    if (const QString error = mazak ? MazatrolPeer::checkSteps(model, steps)
                              : ptr ? PtrPeer::checkSteps(steps)
                                    : Lsv2Peer::checkSteps(kind, steps);
        !error.isEmpty()) {
        std::fprintf(stderr, "nodalis-sim: %s\n", qPrintable(error));
        return 64;
    }

    MachineSimulator sim;
    if (!sim.open() || (!link.isEmpty() && !sim.linkAt(link))) {
        std::fprintf(stderr, "nodalis-sim: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    std::printf("device %s\n", qPrintable(sim.devicePath()));
    std::fflush(stdout);
    QFile recordFile(record);
    if (!recordInto(sim, recordFile))
        return 1;

    if (mazak) {
        MazatrolPeer control(sim, model);
        control.setExpected(expect);
        // What went over the line, to see where the exchange went astray.
        QObject::connect(&control, &MazatrolPeer::finished, [&control](bool ok) {
            if (!ok)
                std::fprintf(stderr, "%s\n", qPrintable(control.log().join(QLatin1Char('\n'))));
        });
        return runSteps(control, steps, replyGapMs);
    }
    if (ptr) {
        PtrPeer box(sim);
        return runSteps(box, steps, replyGapMs);
    }
    Lsv2Peer lsv2(sim, kind);
    return runSteps(lsv2, steps, replyGapMs);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString link, record, script, peer, expect;
    int replyGap = -1;
    int model = 0;
    int tcpPort = -1;
    bool loop = false, stay = false;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--link") && i + 1 < args.size())
            link = args[++i];
        else if (a == QLatin1String("--tcp") && i + 1 < args.size())
            tcpPort = args[++i].toInt();
        else if (a == QLatin1String("--peer") && i + 1 < args.size())
            peer = args[++i];
        else if (a == QLatin1String("--model") && i + 1 < args.size())
            model = qMax(1, args[++i].toInt());
        else if (a == QLatin1String("--expect") && i + 1 < args.size())
            expect = args[++i];
        else if (a == QLatin1String("--reply-gap") && i + 1 < args.size())
            replyGap = args[++i].toInt();
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

    if (!peer.isEmpty())
        return runPeer(peer, link, record, script, tcpPort >= 0 || loop || stay, replyGap, model,
                       expect);

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
    if (!recordInto(sim, recordFile))
        return 1;

    const QStringList steps = ScriptedPeer::splitScript(script);
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
