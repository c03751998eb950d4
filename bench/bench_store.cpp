// Identifying and storing uploads in a store of many programs (SQLite in a
// temporary folder), with the lookups a call makes, and the identification
// again without the indexes of the identification fields.
//
//   bench_store [programs, default 100000] [uploads, default 200] [work folder]
//
// The prescribed waits of a store (1000 ms after the text is written) run at
// a time scale of 1e-6: each costs the 1 ms minimum of a pause, included in
// the figures.

#include "dnc/PortState.h"
#include "dnc/UploadStorage.h"
#include "platform/Clock.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"
#include "store/ProgramDatabase.h"
#include "store/ProgramRecords.h"
#include "store/StoreSchema.h"
#include "store/UploadRecords.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace nodalis;

namespace {

constexpr int kMachines = 10;

void configure(const QString& folder)
{
    Paths().setBaseFolder(folder);
    Settings& s = Config();
    s = Settings();
    s.PathData = folder + QStringLiteral("/data/");
    s.RefMO = "M1";
    s.DncAppMode = 0;
    s.CarDebProg = "O";
    s.CarDebCom = "(";
    s.CarCartouche = "*";
    s.NbBDFields = 3;
    s.RecordFields.resize(4);
    s.RecordFields[1] = {"PIECE", "PIECE", true};
    s.RecordFields[2] = {"PROG", "PROG", true, true};
    s.RecordFields[3] = {"CLIENT", "CLIENT"};
}

bool fillStore(int programs)
{
    ProgramDatabase db;
    if (!OpenProgramDatabase(ProgramDatabasePath(), db))
        return false;
    return db.write([&] {
        for (int i = 1; i <= programs; ++i) {
            const QByteArray n = QByteArray::number(i);
            QSqlQuery q;
            if (!db.exec(q,
                         QStringLiteral("INSERT INTO PROGRAMME (RefMO, ProgAppel, Champ1, Champ2, "
                                        "Champ3) VALUES (?, ?, ?, ?, ?)"),
                         {SqlText("M" + QByteArray::number(1 + i % kMachines)), SqlText("P" + n),
                          SqlText("PIECE-" + n), SqlText(n), SqlText("CLIENT " + n)}))
                return false;
        }
        return true;
    });
}

// A program of machine M1 (codes 10, 20, ...), or one the store lacks.
int someProgram(int programs, bool known)
{
    const int n = 1 + QRandomGenerator::global()->bounded(programs / kMachines - 1);
    return known ? n * kMachines : programs + n;
}

QByteArray uploadText(int n)
{
    QByteArray text = "%\r\n(*ORVA PIECE PIECE-" + QByteArray::number(n) +
                      "*)\r\n(*ORVA CLIENT X*)\r\nO" + QByteArray::number(n) + " (SUPPORT)\r\n";
    for (int line = 1; line <= 200; ++line)
        text += "N" + QByteArray::number(line * 10) + " G01 X" + QByteArray::number(line) +
                ".5 Y-2.25 F300\r\n";
    return text + "M30\r\n%\r\n";
}

struct Figures
{
    double mean = 0;
    double median = 0;
    double p95 = 0;
    double max = 0;
};

Figures timed(int runs, const std::function<bool(int)>& once, int& failures)
{
    QList<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        if (!once(i))
            ++failures;
        ms << double(t.nsecsElapsed()) / 1e6;
    }
    std::sort(ms.begin(), ms.end());
    Figures f;
    for (double v : ms)
        f.mean += v / double(ms.size());
    f.median = ms[ms.size() / 2];
    f.p95 = ms[qMin(ms.size() - 1, qsizetype(double(ms.size()) * 0.95))];
    f.max = ms.last();
    return f;
}

void print(const char* what, const Figures& f, int failures)
{
    std::printf("%-46s mean %7.2f ms  median %7.2f  p95 %7.2f  max %7.2f%s\n", what, f.mean,
                f.median, f.p95, f.max, failures ? "  (FAILURES)" : "");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int programs = args.size() > 1 ? qMax(100, args[1].toInt()) : 100000;
    const int uploads = args.size() > 2 ? qMax(10, args[2].toInt()) : 200;
    QTemporaryDir dir(args.size() > 3 ? args[3] + QStringLiteral("/bench_store-XXXXXX")
                                      : QString());
    if (!dir.isValid())
        return 1;
    configure(dir.path());
    Clock::setScale(1e-6);

    QElapsedTimer fill;
    fill.start();
    QString error;
    if (!CreateStore(&error) || !fillStore(programs)) {
        std::fprintf(stderr, "bench_store: cannot build the store: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("store of %d programs (%d machines) built in %.1f s, %d uploads per figure\n",
                programs, kMachines, double(fill.elapsed()) / 1000, uploads);

    int failures = 0;
    print("identify and store an upload (known program)",
          timed(
              uploads,
              [&](int) {
                  QByteArray text = uploadText(someProgram(programs, true));
                  ReadOrWriteFile(ReadDirection + 1, Paths().receptionFile, text);
                  return StoreUploadToDatabase().code == 701;
              },
              failures),
          failures);
    failures = 0;
    print("identify and store an upload (unknown program)",
          timed(
              uploads,
              [&](int) {
                  QByteArray text = uploadText(someProgram(programs, false));
                  ReadOrWriteFile(ReadDirection + 1, Paths().receptionFile, text);
                  return StoreUploadToDatabase().code == 702;
              },
              failures),
          failures);

    const SqlCondition machines = MachineCondition(Config().RefMO, {});
    auto identify = [&](int) {
        ProgramDatabase db;
        HeaderValues h;
        const int n = someProgram(programs, true);
        h.Fields = {QByteArray(), "PIECE-" + QByteArray::number(n), QByteArray::number(n)};
        return OpenProgramDatabase(ProgramDatabasePath(), db) && IdentifyUpload(db, h) == n;
    };
    failures = 0;
    print("open the store and identify an upload", timed(uploads, identify, failures), failures);
    failures = 0;
    print("call lookup (name, machine, pending upload)",
          timed(
              uploads,
              [&](int) {
                  ProgramDatabase db;
                  QSqlQuery q;
                  const int n = someProgram(programs, true);
                  return OpenProgramDatabase(ProgramDatabasePath(), db) &&
                         SelectCalledPrograms(db, "P" + QByteArray::number(n), machines, q) &&
                         CountRecords(q) == 1 && !HasPendingUpload(db, n);
              },
              failures),
          failures);
    failures = 0;
    print("ReadProgramRecord",
          timed(
              uploads,
              [&](int) {
                  const int n = someProgram(programs, true);
                  return ReadProgramRecord(n).CodeProg == n;
              },
              failures),
          failures);

    {
        ProgramDatabase db;
        QSqlQuery q;
        OpenProgramDatabase(ProgramDatabasePath(), db);
        db.exec(q, QStringLiteral("DROP INDEX IX_PROGRAMME_Champ1"));
        db.exec(q, QStringLiteral("DROP INDEX IX_PROGRAMME_Champ2"));
    }
    failures = 0;
    print("identify, without the field indexes", timed(qMin(uploads, 50), identify, failures),
          failures);
    return 0;
}
