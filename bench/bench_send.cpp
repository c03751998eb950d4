// Serving a call and sending, through a pseudo-terminal with the simulator
// as the machine: the time from the last byte of a call to the first byte
// of the program on the wire (waits scaled to nothing), and a 10 MB send
// against writing the same file straight to the device.

#include "dnc/CallResolution.h"
#include "dnc/PortEngine.h"
#include "dnc/PortState.h"
#include "dnc/ProgramSender.h"
#include "platform/Clock.h"
#include "platform/SerialControl.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"

#include "store/ProgramDatabase.h"
#include "store/ProgramRecords.h"
#include "store/StoreSchema.h"

#include "sim/MachineSimulator.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSerialPort>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace nodalis;

namespace {

QByteArray program(const QByteArray& name, qint64 size)
{
    QByteArray text = "%\r\n" + name + " (BENCH)\r\n";
    for (int n = 10; text.size() < size; n += 10)
        text += "N" + QByteArray::number(n) + " G01 X" + QByteArray::number(n % 500) +
                ".125 F1200.\r\n";
    return text + "M30\r\n%\r\n";
}

void writeFile(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(text);
}

// Waits, serving events, until the machine has received at least n bytes.
bool waitFor(sim::MachineSimulator& machine, qint64 n, int seconds)
{
    QElapsedTimer t;
    t.start();
    while (machine.receivedBytes().size() < n && t.elapsed() < seconds * 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    return machine.receivedBytes().size() >= n;
}

// A store of that many programs, one in ten of machine FR1; the code of
// the program called "P5000", whose text is the given one.
qint32 fillStore(int programs, const QByteArray& text)
{
    ProgramDatabase db;
    if (!CreateStore() || !OpenProgramDatabase(ProgramDatabasePath(), db))
        return 0;
    const bool filled = db.write([&] {
        for (int i = 1; i <= programs; ++i) {
            QSqlQuery q;
            const QByteArray machine =
                i % 10 == 0 ? QByteArray("FR1") : "M" + QByteArray::number(i % 10);
            if (!db.exec(q,
                         QStringLiteral("INSERT INTO PROGRAMME (RefMO, ProgAppel) VALUES (?, ?)"),
                         {SqlText(machine), SqlText("P" + QByteArray::number(i))}))
                return false;
        }
        return true;
    });
    QSqlQuery q;
    if (!filled ||
        !db.exec(q, QStringLiteral("SELECT CodeProg FROM PROGRAMME WHERE ProgAppel=?"),
                 {SqlText("P5000")}) ||
        !q.next())
        return 0;
    const qint32 code = q.value(0).toInt();
    writeFile(ProgramFilePath(ProgramTextPath, code), text);
    return code;
}

// Median milliseconds from the end of a call to the first program byte.
double callLatency(sim::MachineSimulator& machine, PortEngine& engine, const QByteArray& call,
                   qint64 expected)
{
    std::vector<double> latencies;
    for (int run = 0; run < 5; ++run) {
        machine.clearReceived();
        machine.wait(50); // once the line is open
        machine.send(call);
        QElapsedTimer t;
        bool started = false;
        QMetaObject::Connection idle =
            QObject::connect(&machine, &sim::MachineSimulator::idleAgain, [&] {
                if (!started) {
                    started = true;
                    t.start();
                }
            });
        qint64 firstByteNs = -1;
        QMetaObject::Connection c = QObject::connect(
            &machine, &sim::MachineSimulator::dataReceived, [&](const QByteArray& bytes) {
                if (firstByteNs < 0 && started && bytes.contains('%'))
                    firstByteNs = t.nsecsElapsed();
            });
        engine.StartListening();
        waitFor(machine, expected, 60);
        QObject::disconnect(c);
        QObject::disconnect(idle);
        latencies.push_back(double(firstByteNs) / 1e6);
    }
    std::sort(latencies.begin(), latencies.end());
    return latencies[latencies.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    Paths().setBaseFolder(dir.path());
    sim::MachineSimulator machine;
    if (!machine.open())
        return 1;
    Settings& s = Config();
    s.DncAppMode = 1;
    s.UseRPC = true;
    s.CallSyntax = "(APPEL $$$$)";
    s.PathFileProgOpen = dir.path() + QStringLiteral("/Programmes/");
    s.Port.Methode = 0;
    s.Port.PortName = machine.devicePath().toLocal8Bit();
    s.Port.Bauds = s.Port.BaudsEnvoi = "115200";
    s.Port.DataBit = "8";
    s.Port.Parite = "N";
    s.Port.StopBit = "1";
    s.Port.TimeOut = 1;
    s.Port.EOB = "\r\n";
    s.Port.NbBlocAvance = 50;
    s.Port.OutBufferSize = 4096;
    SerialControl com;
    PortEngine engine(com);
    ProgramSender sender(engine);
    CallResolution calls(engine, sender);

    // 1. Call to first byte, 1 MB program from the program folder.
    const QByteArray big = program("O1000", 1024 * 1024);
    writeFile(s.PathFileProgOpen + QStringLiteral("O1000"), big);
    Clock::setScale(0.0001);
    std::printf("call to first program byte, waits scaled to ~0 (median of 5):\n");
    std::printf("  1 MB program from a folder:                      %6.1f ms\n",
                callLatency(machine, engine, "(APPEL O1000)\r\n", big.size()));
    s.PathData = dir.path() + QStringLiteral("/Data/");
    QElapsedTimer filling;
    filling.start();
    if (fillStore(100000, big) == 0) {
        std::fprintf(stderr, "cannot fill the store\n");
        return 1;
    }
    std::printf("  (store of 100,000 programs filled in %.1f s)\n",
                double(filling.elapsed()) / 1000);
    s.DataAccess = 1;
    s.RefMO = "FR1";
    std::printf("  1 MB program from a store of 100,000 programs:  %6.1f ms\n",
                callLatency(machine, engine, "(APPEL P5000)\r\n", big.size()));
    s.DataAccess = 0;
    Clock::setScale(1.0);

    // 2. A 10 MB send against a straight write.
    const QByteArray ten = program("O2000", 10 * 1024 * 1024);
    writeFile(Paths().sendFile, ten);
    machine.clearReceived();
    QElapsedTimer t;
    t.start();
    sender.SendDispatcher();
    waitFor(machine, ten.size(), 120);
    const double sendSeconds = double(t.nsecsElapsed()) / 1e9 - 0.8; // the completion pause
    engine.ClosePort();

    machine.clearReceived();
    QSerialPort port(machine.devicePath());
    port.open(QIODevice::ReadWrite);
    t.restart();
    port.write(ten);
    waitFor(machine, ten.size(), 120);
    const double directSeconds = double(t.nsecsElapsed()) / 1e9;
    std::printf(
        "10 MB send: %.2f s (%.1f MB/s); straight write to the device: %.2f s; ratio %.2f\n",
        sendSeconds, double(ten.size()) / 1e6 / sendSeconds, directSeconds,
        sendSeconds / directSeconds);
    return 0;
}
