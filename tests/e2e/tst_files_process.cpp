// Programs that travel as files, end to end: a headless server, the machine
// played by this test writing files (a watched folder, a USB key stood in
// for by a folder under NODALIS_VOLUMES, a Psion gateway's folders), and
// nodalisctl for the sends.

#include "support/ProcessHelpers.h"

#include <QDateTime>
#include <QDirIterator>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using namespace nodalis::test;

namespace {

const QByteArray kUpload = "%\r\nO1 (UP)\r\nN10 G0 X1\r\nN20 M30\r\n%\r\n";
const QByteArray kSent = "%\r\nO42 (SENT)\r\nN10 M30\r\n%\r\n";

// Sets a file's modification time.
bool touch(const QString& path, const QDateTime& when)
{
    QFile f(path);
    return f.open(QIODevice::ReadWrite) && f.setFileTime(when, QFileDevice::FileModificationTime);
}

} // namespace

class TestFilesProcess : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    QString m_base;
    QProcess m_server;

    QString path(const QString& name) const { return m_tmp.filePath(name); }
    QByteArray log() const { return journalOf(m_base); }

    bool start(int methode, const QByteArray& more, const QProcessEnvironment& env)
    {
        static int n = 0;
        m_base = path(u"base%1"_s.arg(++n));
        const QByteArray b = m_base.toLocal8Bit();
        writeFile(m_base + u"/Nodalis.ini"_s,
                  "[NODALIS]\r\nPortListen=0\r\nDncAppMode=0\r\n[DNC]\r\nRefMO=FR1\r\nMethode=" +
                      QByteArray::number(methode) + "\r\nIsModeEcoute=1\r\nPathFileProgOpen=" + b +
                      "/Programmes\r\n" + (more.contains("UseRPC=") ? "" : "UseRPC=0\r\n") + more);
        writeFile(m_base + u"/Send/ToCN.txt"_s, kSent);
        if (more.contains("DataAccess=1") && ctlOn(m_base, {u"store"_s, u"init"_s}) != 0)
            return false;
        m_server.setProcessEnvironment(env);
        return startHeadless(m_server, m_base);
    }

    // Methode 14 on the watched folder watch, its waits ten times shorter.
    bool watching(const QString& watch, const QByteArray& more)
    {
        QDir().mkpath(watch);
        return start(14, more + "[RESEAU]\r\nDefaultDirHostReceiv=" + watch.toLocal8Bit() + "\r\n",
                     scaledTime(0.1));
    }

private slots:
    void cleanup()
    {
        ctlOn(m_base, {u"stop"_s});
        if (!m_server.waitForFinished(5000))
            m_server.kill();
    }

    // Plain, archive and revision-index passes, and one into the store.
    void watchedFolder()
    {
        const QString watch = path(u"watch"_s), archive = path(u"archive"_s);
        writeFile(watch + u"/O1.nc"_s, kUpload); // there before the start
        QVERIFY(watching(watch, "PathArchive=\r\n[SYNTAXE_MO]\r\nFileExt=nc\r\nCarDebProg=O\r\n"));
        QVERIFY(waitFor([&] { return !QFile::exists(watch + u"/O1.nc"_s); }));
        // Names as shops write them: capitals, blanks, accents, 255 characters.
        const QStringList names{u"O2.NC"_s, u"Pièce 5 rev B.nc"_s,
                                QString(252, QLatin1Char('x')) + u".nc"_s};
        for (const QString& name : names)
            writeFile(watch + QLatin1Char('/') + name, kUpload);
        writeFile(watch + u"/notes.txt"_s, "not a program");
        for (const QString& name : names)
            QVERIFY2(waitFor([&] { return !QFile::exists(watch + QLatin1Char('/') + name); }),
                     qPrintable(name));
        QCOMPARE(log().count("---Code703---"), 4);
        QVERIFY(QFile::exists(watch + u"/notes.txt"_s)); // another extension stays
        cleanup();

        // Archive: a first drop starts the archive; the same program again
        // 10 s apart is ignored, 11 s apart taken with all its files.
        QVERIFY(QFile::remove(watch + u"/notes.txt"_s));
        QVERIFY(watching(watch, "PathArchive=" + archive.toLocal8Bit() +
                                    "\r\n[SYNTAXE_MO]\r\nCarDebProg=O\r\n"));
        const QString o7 = watch + u"/O7.nc"_s;
        const QDateTime first = QDateTime::currentDateTime().addSecs(-60);
        writeFile(o7, kUpload);
        QVERIFY(touch(o7, first));
        QVERIFY(waitFor([&] { return QFile::exists(archive + u"/7/CurVersion.txt"_s); }));
        QCOMPARE(QFileInfo(archive + u"/7/CurVersion.txt"_s).lastModified(),
                 QFileInfo(o7).lastModified());
        QVERIFY(touch(o7, first.addSecs(10)));
        QTest::qWait(2000);
        QVERIFY(QFile::exists(o7));
        writeFile(watch + u"/O7.H"_s, "companion");
        QVERIFY(touch(watch + u"/O7.H"_s, first.addSecs(-120)));
        QVERIFY(touch(o7, first.addSecs(11)));
        QVERIFY(waitFor([&] { return log().contains("---Code711---"); }));
        QVERIFY(waitFor([&] { return QDir(watch).isEmpty(); }));
        cleanup();

        // Revision index: renamed in place, never examined.
        QVERIFY(watching(watch, "ProgIndice=1\r\n[SYNTAXE_MO]\r\nCarDebProg=O\r\n"));
        writeFile(watch + u"/O0042.007"_s, kUpload);
        writeFile(watch + u"/O42"_s, kUpload);
        QVERIFY(waitFor([&] { return QFile::exists(watch + u"/O0042.008"_s); }));
        QVERIFY(!QFile::exists(watch + u"/O42"_s));
        cleanup();

        // Into the program store, a file of the same name beside a program
        // travels with it.
        QDir(watch).removeRecursively();
        QVERIFY(watching(
            watch, "DataAccess=1\r\nModeGestionBD=1\r\nPathData=" + m_tmp.path().toLocal8Bit() +
                       "/Data\r\n[SYNTAXE_MO]\r\nFileExt=nc\r\n"));
        writeFile(watch + u"/O8.pdf"_s, "drawing");
        writeFile(watch + u"/O8.nc"_s, kUpload);
        QVERIFY(waitFor([&] { return QDir(watch).isEmpty(); }));
        QDirIterator stored(m_tmp.path() + u"/Data"_s, {u"O8.pdf"_s}, QDir::Files,
                            QDirIterator::Subdirectories);
        QVERIFY(stored.hasNext());
        QCOMPARE(readFile(stored.next()), QByteArray("drawing"));
    }

    // S ends the watch (a drop then waits) and M starts it again; the
    // folder going away and coming back loses nothing.
    void watchStoppedAndFolderLost()
    {
        const QString watch = path(u"watch2"_s);
        QVERIFY(watching(watch, "[SYNTAXE_MO]\r\nFileExt=nc\r\n"));
        QVERIFY(waitFor([&] { return log().contains("---Code650---"); }));
        QCOMPARE(ctlOn(m_base, {u"send"_s, u"S"_s}), 0);
        QTest::qWait(500);
        writeFile(watch + u"/O3.nc"_s, kUpload);
        QTest::qWait(2000);
        QVERIFY(QFile::exists(watch + u"/O3.nc"_s));
        QCOMPARE(ctlOn(m_base, {u"send"_s, u"M"_s}), 0);
        QVERIFY(waitFor([&] { return !QFile::exists(watch + u"/O3.nc"_s); }));
        QVERIFY(QDir(watch).removeRecursively());
        QTest::qWait(1500);
        writeFile(watch + u"/O4.nc"_s, kUpload);
        QVERIFY(waitFor([&] { return !QFile::exists(watch + u"/O4.nc"_s); }));
        QCOMPARE(log().count("---Code703---"), 2);
    }

    // A key's pass on arrival: uploads in its machine folder stored and
    // removed; a send puts the program there under its number (six digits
    // and ".pim" for the group-9 controls), and it stays.
    void usbKey()
    {
        const QString volumes = path(u"volumes"_s);
        QDir().mkpath(volumes);
        QProcessEnvironment env = scaledTime(0.2);
        env.insert(u"NODALIS_VOLUMES"_s, volumes);
        QVERIFY(start(12, "[SYNTAXE_MO]\r\nFileExt=.nc\r\nCarDebProg=O\r\nCodeGroupCN=9\r\n", env));
        QCOMPARE(ctlOn(m_base, {u"send"_s, u"T"_s}), 0);
        QVERIFY(waitFor([&] { return log().contains("---Code600---"); }));
        writeFile(path(u"key/FR1/sub/O1.nc"_s), kUpload);
        QVERIFY(QFile::rename(path(u"key"_s), volumes + u"/KEY"_s)); // plugged in
        QVERIFY(waitFor([&] { return !QFile::exists(volumes + u"/KEY/FR1/sub/O1.nc"_s); }));
        QVERIFY(log().contains("---Code703---"));
        QCOMPARE(ctlOn(m_base, {u"send"_s, u"T"_s}), 0);
        QVERIFY(waitFor([&] { return log().contains("---Code601---"); }));
        QTest::qWait(1000);
        QCOMPARE(readFile(volumes + u"/KEY/FR1/000042.pim"_s), kSent);
    }

    // A real key, where the test may mount one (a 1 MB tmpfs moved under
    // /mnt once written): its arrival, a send refused by the key once full
    // (nothing half-written left on it), and its removal.
    void realKey()
    {
        const QString stage = path(u"stage"_s);
        const QString key = u"/mnt/nodalis-key-%1"_s.arg(QCoreApplication::applicationPid());
        QDir().mkpath(stage);
        QDir().mkpath(key);
        const auto run = [](const QStringList& args) {
            return QProcess::execute(args.first(), args.mid(1)) == 0;
        };
        if (!run({u"mount"_s, u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=1m"_s, u"tmpfs"_s, stage})) {
            QDir().rmdir(key);
            QSKIP("mounting a key needs root");
        }
        const auto unplug = qScopeGuard([&] {
            run({u"umount"_s, u"-l"_s, stage});
            run({u"umount"_s, u"-l"_s, key});
            QDir().rmdir(key);
        });
        QProcessEnvironment env = scaledTime(0.2);
        env.remove(u"NODALIS_VOLUMES"_s);
        QVERIFY(start(12, "[SYNTAXE_MO]\r\nFileExt=.nc\r\nCarDebProg=O\r\n", env));
        writeFile(stage + u"/FR1/O1.nc"_s, kUpload);
        QVERIFY(run({u"mount"_s, u"--move"_s, stage, key}));
        QVERIFY(waitFor([&] { return !QFile::exists(key + u"/FR1/O1.nc"_s); }));
        QVERIFY(log().contains("---Code703---"));

        QFile filler(key + u"/filler"_s);
        QVERIFY(filler.open(QIODevice::WriteOnly));
        const QByteArray page(4096, 'x');
        while (filler.write(page) == page.size() && filler.flush()) {
        }
        filler.close();
        QCOMPARE(ctlOn(m_base, {u"send"_s, u"T"_s}), 0);
        QVERIFY(waitFor([&] { return log().contains("---Code907---"); }));
        QVERIFY(!log().contains("---Code601---"));
        QCOMPARE(QDir(key + u"/FR1"_s).entryList(QDir::Files), QStringList());

        QVERIFY(run({u"umount"_s, key}));
        QTest::qWait(1500);
        QCOMPARE(ctlOn(m_base, {u"send"_s, u"T"_s}), 0);
        QVERIFY(waitFor([&] { return log().contains("---Code600---"); }));
    }

    // A call from the gateway is answered once its -5 s readiness is waited
    // out; "FROMPSION" is taken whatever its case.
    void psionGateway()
    {
        const QString in = path(u"gw/in"_s), out = path(u"gw/out"_s);
        QDir().mkpath(in);
        QDir().mkpath(out);
        QVERIFY(start(9,
                      "UseRPC=1\r\nCallSyntax=(APPEL $$$$)\r\n[OPTION_DNC]\r\nCheckModeRecep=-5\r\n"
                      "[RESEAU]\r\nDefaultDirHostSend=" +
                          out.toLocal8Bit() + "\r\nDefaultDirHostReceiv=" + in.toLocal8Bit() +
                          "\r\n",
                      scaledTime(0.2)));
        writeFile(m_base + u"/Programmes/O42"_s, kSent);
        writeFile(in + u"/xfrompsionx.txt"_s, "(APPEL O42)\r\n");
        QVERIFY(waitFor([&] { return readFile(out + u"/ToPsion.txt"_s) == kSent; }));
        QVERIFY(!QFile::exists(in + u"/xfrompsionx.txt"_s));
        QVERIFY(log().contains("---Code510---"));
    }
};

QTEST_GUILESS_MAIN(TestFilesProcess)
#include "tst_files_process.moc"
