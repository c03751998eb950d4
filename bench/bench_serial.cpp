// The serial line through a pseudo-terminal: a 10 MB upload at full speed
// (byte-compared on arrival, with its throughput), and the CPU an idle
// listening server uses.

#include "dnc/PortEngine.h"
#include "dnc/PortState.h"
#include "dnc/ReceivedDataExaminer.h"
#include "platform/SerialControl.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"

#include "sim/MachineSimulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <unistd.h>

using namespace nodalis;

namespace {

class Examiner : public ReceivedDataExaminer
{
public:
    void ExamineReceivedData() override
    {
        done = true;
        Channel().channelState = ChannelIdle;
    }
    bool done = false;
};

QByteArray program(qint64 size)
{
    QByteArray text = "%\r\nO9999 (BENCH)\r\n";
    for (int n = 10; text.size() < size; n += 10)
        text += "N" + QByteArray::number(n) + " G01 X" + QByteArray::number(n % 500) + ".125 Y-" +
                QByteArray::number(n % 300) + ".5 F1200.\r\n";
    return text + "M30\r\n%\r\n";
}

double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> f = stat.readAll().split(')').value(1).trimmed().split(' ');
    // utime and stime are fields 14 and 15 of the whole line; 12 and 13 after the name.
    return (f.value(11).toDouble() + f.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    Paths().setBaseFolder(dir.path());

    // 1. Upload.
    sim::MachineSimulator machine;
    if (!machine.open())
        return 1;
    Settings& s = Config();
    s.DncAppMode = 1;
    s.Port.Methode = 0;
    s.Port.PortName = machine.devicePath().toLocal8Bit();
    s.Port.Bauds = "115200";
    s.Port.DataBit = "8";
    s.Port.Parite = "N";
    s.Port.StopBit = "1";
    s.Port.TimeOut = 1;
    SerialControl com;
    PortEngine engine(com);
    Examiner examiner;
    engine.setExaminer(&examiner);
    const QByteArray sent = program(10 * 1024 * 1024);
    machine.wait(200);
    machine.send(sent);
    QElapsedTimer t;
    t.start();
    engine.StartListening(); // returns once the silence has ended the reception
    const double seconds = double(t.nsecsElapsed()) / 1e9 - 0.2 - s.Port.TimeOut;
    QFile received(Paths().receptionFile);
    received.open(QIODevice::ReadOnly);
    const bool same = received.readAll() == sent;
    std::printf("10 MB upload through a pseudo-terminal: %s, %.1f MB/s (%.2f s without the "
                "final silence)\n",
                same ? "complete, byte for byte" : "DIFFERENT", double(sent.size()) / 1e6 / seconds,
                seconds);
    engine.ClosePort();

    // 2. An idle listening server.
    sim::MachineSimulator idleMachine;
    if (!idleMachine.open())
        return 1;
    QFile ini(dir.filePath(QStringLiteral("Nodalis.ini")));
    ini.open(QIODevice::WriteOnly);
    ini.write("[NODALIS]\r\nPortListen=0\r\n[DNC]\r\nRefMO=IDLE\r\nIsModeEcoute=1\r\n[COMM]"
              "\r\nPortName=" +
              idleMachine.devicePath().toLocal8Bit() +
              "\r\nBauds=9600\r\nDataBit=8\r\nParite=N\r\nStopBit=1\r\n");
    ini.close();
    QProcess server;
    server.start(QCoreApplication::applicationDirPath() + QStringLiteral("/nodalis"),
                 {QStringLiteral("--headless"), QStringLiteral("--base"), dir.path()});
    server.waitForStarted();
    QThread::sleep(2);
    const double before = cpuSeconds(server.processId());
    const int window = 30;
    QThread::sleep(window);
    const double after = cpuSeconds(server.processId());
    std::printf("idle listening server: %.2f%% of one core over %d s\n",
                100.0 * (after - before) / window, window);
    server.terminate();
    server.waitForFinished(5000);
    return same ? 0 : 1;
}
