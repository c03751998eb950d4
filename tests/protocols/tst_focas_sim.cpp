// The FOCAS transfer through the real loader, against the simulated control
// built as a FOCAS library: each operation in number mode (type 16) and in
// folder mode (type 31), the faults a control shows, a library missing or
// incomplete. With NODALIS_FOCAS_LIBRARY naming FANUC's own library, its
// symbols and its failure to reach a port with no listener are checked too.

#include "dnc/ProcessState.h"
#include "platform/Clock.h"
#include "platform/CncLibrary.h"
#include "protocols/TK_FOCAS.h"
#include "startup/Settings.h"

#include "support/ProcessHelpers.h"
#include "support/ProcessReset.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLibraryInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace nodalis;
using namespace nodalis::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kO100 = "O0100 (BRIDE)\nN10 G0 X0\nN20 M30\n";
const QByteArray kO2000 = "%\nO2000 (CALE)\nN10 T2 M6\nN20 M30\n%";

} // namespace

class TestFocasSim : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_memory;

    QString memory(const QString& path) const { return m_memory + u'/' + path; }
    void control(const QByteArray& keys)
    {
        writeFile(memory(u"control.ini"_s), "[control]\n" + keys);
    }
    std::unique_ptr<TK_FOCAS> focas()
    {
        QString why;
        auto library = LoadCncLibrary(QStringLiteral(FOCAS_SIM), &why);
        if (!why.isEmpty())
            qWarning("%s", qPrintable(why));
        return std::make_unique<TK_FOCAS>(std::move(library));
    }

private slots:
    void initTestCase()
    {
        m_memory = m_dir.filePath(u"memory"_s);
        qputenv("NODALIS_FOCAS_SIM", m_memory.toLocal8Bit());
    }

    void init()
    {
        ResetProcessState(m_dir.path());
        Clock::setScale(0.02);
        QDir(m_memory).removeRecursively();
        QDir().mkpath(memory(u"CNC_MEM/USER/PATH1"_s));
        writeFile(memory(u"O100"_s), kO100);
        writeFile(memory(u"CNC_MEM/USER/PATH1/O100"_s), kO100);
    }

    void cleanup()
    {
        Clock::setScale(1);
        State().stopRequested = false;
    }

    void operations_data()
    {
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QString>("folder"); // where programs are, in the memory
        QTest::newRow("number mode") << QByteArray("16") << QString();
        QTest::newRow("folder mode") << QByteArray("31") << u"CNC_MEM/USER/PATH1/"_s;
    }

    void operations()
    {
        QFETCH(QByteArray, type);
        QFETCH(QString, folder);
        control("CncType=" + type + "\n");
        auto cnc = focas();
        RemoteListing listing;
        QVERIFY2(cnc->list(u"."_s, listing), qPrintable(cnc->lastError()));
        // A folder holds files by name, a number-mode control programs by number.
        const QString o100 = folder.isEmpty() ? u"O0100"_s : u"O100"_s;
        QVERIFY(listing.FNHaveThisFile(o100));
        const QString got = m_dir.filePath(u"got.nc"_s);
        QVERIFY2(cnc->get(o100, got, {}), qPrintable(cnc->lastError()));
        QVERIFY(readFile(got).contains(kO100));
        const QString local = m_dir.filePath(u"O2000.nc"_s);
        writeFile(local, kO2000);
        QVERIFY2(cnc->put(local, u"O2000.nc"_s), qPrintable(cnc->lastError()));
        QVERIFY(readFile(memory(folder + u"O2000"_s)).contains("N10 T2 M6"));
        QVERIFY(cnc->rename(u"O2000"_s, folder.isEmpty() ? u"3000"_s : u"O3000"_s));
        QVERIFY(cnc->deleteFile(u"O3000"_s));
        QVERIFY(!QFile::exists(memory(folder + u"O3000"_s)));
        QCOMPARE(cnc->createFolder(u"X"_s), !folder.isEmpty());
        if (!folder.isEmpty()) {
            QVERIFY(QFileInfo(memory(folder + u"X"_s)).isDir());
            QVERIFY(cnc->list(u"X"_s, listing));
            QVERIFY(cnc->list(u".."_s, listing));
            QVERIFY(cnc->deleteFolder(u"X"_s));
            QVERIFY(!QFileInfo::exists(memory(folder + u"X"_s)));
        }
    }

    // A 10 MB program both ways, the control taking 1,460 bytes a call.
    void bigProgram()
    {
        control("CncType=16\n");
        QByteArray text = "%\nO4000 (BIG)\n";
        while (text.size() < 10 << 20)
            text += "N10 G1 X100.125 Y200.5 Z-3.02 F1200\n";
        text += "M30\n%";
        const QString local = m_dir.filePath(u"O4000.nc"_s);
        writeFile(local, text);
        auto cnc = focas();
        QVERIFY2(cnc->put(local, u"O4000"_s), qPrintable(cnc->lastError()));
        const QString got = m_dir.filePath(u"got4000"_s);
        QVERIFY2(cnc->get(u"O4000"_s, got, {}), qPrintable(cnc->lastError()));
        QVERIFY(readFile(got).contains(text.mid(2, text.size() - 4)));
    }

    void faults_data()
    {
        QTest::addColumn<QByteArray>("keys");
        QTest::addColumn<QString>("op");
        QTest::addColumn<bool>("done");
        QTest::newRow("connection refused") << QByteArray("RefuseConnect=1") << u"ls"_s << false;
        QTest::newRow("busy three times") << QByteArray("Busy10=3") << u"get"_s << true;
        QTest::newRow("lost mid-upload") << QByteArray("DropAfterBytes=10") << u"get"_s << false;
        QTest::newRow("lost mid-download") << QByteArray("DropAfterBytes=10") << u"put"_s << false;
        QTest::newRow("memory full") << QByteArray("MemoryFull=1") << u"put"_s << false;
    }

    void faults()
    {
        QFETCH(QByteArray, keys);
        QFETCH(QString, op);
        control("CncType=16\n" + keys + "\n");
        auto cnc = focas();
        RemoteListing listing;
        const QString got = m_dir.filePath(u"fault.nc"_s);
        QFile::remove(got);
        const QString local = m_dir.filePath(u"O2000.nc"_s);
        writeFile(local, kO2000);
        bool done = false;
        if (op == u"ls"_s)
            done = cnc->list(u"."_s, listing);
        else if (op == u"get"_s)
            done = cnc->get(u"O0100"_s, got, {});
        else
            done = cnc->put(local, u"O2000"_s);
        QTEST(done, "done");
        if (!done) {
            QVERIFY(!cnc->lastError().isEmpty());
            QVERIFY(!QFile::exists(got)); // nothing half-fetched
        }
    }

    void modeChangesBetweenConnections()
    {
        control("CncType=16\n");
        auto cnc = focas();
        QVERIFY(cnc->connect());
        QVERIFY(!cnc->folderMode());
        cnc->disconnect();
        control("CncType=31\n");
        QVERIFY(cnc->connect());
        QVERIFY(cnc->folderMode());
    }

    void stopDuringATransfer()
    {
        Clock::setScale(1);
        control("CncType=16\nBusy10=-1\n");
        auto cnc = focas();
        QTimer::singleShot(100, [] { State().stopRequested = true; });
        QElapsedTimer t;
        t.start();
        QVERIFY(!cnc->get(u"O0100"_s, m_dir.filePath(u"stopped.nc"_s), {}));
        QVERIFY(t.elapsed() < 2000);
    }

    // No library, or one that lacks a call: every operation fails, and the
    // reason names where it looked or what is missing.
    void libraryMissingOrIncomplete_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("named");
        QTest::newRow("nowhere") << m_dir.filePath(u"none/libfwlib32.so"_s)
                                 << u"none/libfwlib32.so"_s;
        QTest::newRow("not FOCAS")
            << QLibraryInfo::path(QLibraryInfo::LibrariesPath) + u"/libQt6Core.so.6"_s
            << u"cnc_allclibhndl3"_s;
    }

    void libraryMissingOrIncomplete()
    {
        QFETCH(QString, path);
        QFETCH(QString, named);
        QString why;
        TK_FOCAS cnc(LoadCncLibrary(path, &why));
        QVERIFY2(why.contains(named), qPrintable(why));
        RemoteListing listing;
        QVERIFY(!cnc.list(u"."_s, listing));
        QVERIFY(!cnc.get(u"O1"_s, m_dir.filePath(u"x"_s), {}));
    }

    void realLibrary()
    {
        const QString real = qEnvironmentVariable("NODALIS_FOCAS_LIBRARY");
        if (real.isEmpty())
            QSKIP("NODALIS_FOCAS_LIBRARY names no FOCAS library");
        QString why;
        auto library = LoadCncLibrary(real, &why);
        QVERIFY2(why.isEmpty(), qPrintable(why));
        Config().RemoteHost = "127.0.0.1";
        Config().RemotePort = "8193"; // nothing listens there
        TK_FOCAS cnc(std::move(library));
        QElapsedTimer t;
        t.start();
        QVERIFY(!cnc.connect());
        QVERIFY(t.elapsed() < 4000);
    }
};

QTEST_GUILESS_MAIN(TestFocasSim)
#include "tst_focas_sim.moc"
