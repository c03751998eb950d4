// bench_store: the store operations of a call and of an upload, timed one by
// one on the real clock, for bench/fig_pg.py.
//
//     bench_store lookup BASE COUNT NAME   COUNT look-ups of the called program NAME
//     bench_store upload BASE COUNT        COUNT uploads identified and stored
//
// BASE holds the server's Nodalis.ini (its store settings, RefMO and
// RECORDFIELDS). Each operation is what the server does for it against the
// store: open (a kept connection), query, close; for an upload, identify,
// insert the record and write its text. Prints each operation's
// milliseconds, one per line; exit status 1 when one failed.

#include "startup/AppPaths.h"
#include "startup/ConfigLoader.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"
#include "store/ProgramDatabase.h"
#include "store/ProgramRecords.h"
#include "store/TextUtils.h"
#include "store/UploadRecords.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>
#include <cstring>

using namespace nodalis;

namespace {

bool lookup(const QByteArray& name)
{
    const Settings& s = Config();
    ProgramDatabase db;
    QSqlQuery query;
    if (!OpenProgramDatabase(ProgramDatabasePath(), db) ||
        !SelectCalledPrograms(db, name, MachineCondition(s.RefMO, s.ListRefMOShared), query) ||
        CountRecords(query) != 1)
        return false;
    query.first();
    const ProgramRecord record = ProgramRecordOf(query);
    const std::optional<bool> pending = HasPendingUpload(db, record.CodeProg);
    return pending && !*pending;
}

bool upload(const QString& text, int n)
{
    ProgramDatabase db;
    if (!AwaitProgramDatabase(ProgramDatabasePath(), db))
        return false;
    HeaderValues header;
    header.Machine = Config().RefMO;
    header.Fields = {QByteArray(), "PIECE" + QByteArray::number(n % 100)};
    const qint32 program = IdentifyUpload(db, header, 0);
    const qint32 code = InsertUploadRecord(header, db, program);
    if (code < 1)
        return false;
    const QString target = ProgramFilePath(UploadTextPath, code);
    MakeFolders(FolderOf(target));
    return CopyFile(text, target);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bool isLookup = argc == 5 && std::strcmp(argv[1], "lookup") == 0;
    if (!isLookup && !(argc == 4 && std::strcmp(argv[1], "upload") == 0)) {
        std::fprintf(stderr, "usage: bench_store lookup BASE COUNT NAME | upload BASE COUNT\n");
        return 64;
    }
    const QString base = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
    Paths().setBaseFolder(base);
    if (!ReadConfiguration(Paths().configPath, Config()).loaded) {
        std::fprintf(stderr, "bench_store: cannot read %s\n", qPrintable(Paths().configPath));
        return 1;
    }
    const int count = std::atoi(argv[3]);
    const QString text = QDir(base).filePath(QStringLiteral("upload.nc"));
    for (int i = 0; i < count; ++i) {
        QElapsedTimer timer;
        timer.start();
        const bool done = isLookup ? lookup(QByteArray(argv[4])) : upload(text, i);
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        if (!done) {
            std::fprintf(stderr, "bench_store: operation %d failed\n", i + 1);
            return 1;
        }
        std::printf("%.3f\n", ms);
    }
    return 0;
}
