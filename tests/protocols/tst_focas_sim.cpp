// The FOCAS transfer through the real loader, against the simulated control
// built as a FOCAS library: programs both ways in number mode (type 16) and
// in folder mode (type 31), the faults a control shows, a stop, a library
// missing or incomplete. With NODALIS_FOCAS_LIBRARY naming FANUC's own
// library, its symbols and its failure to reach a port with no listener are
// checked too.

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

class TestFocasSim : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_memory;

    QString memory(const QString& path) const { return m_memory + u'/' + path; }
    // The transfer, on a control of these settings.
    std::unique_ptr<TK_FOCAS> focas(const QByteArray& keys)
    {
        writeFile(memory(u"control.ini"_s), "[control]\n" + keys);
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
        writeFile(memory(u"O100"_s), "O0100 (BRIDE)\nN10 G0 X0\nN20 M30\n");
        writeFile(memory(u"CNC_MEM/USER/PATH1/O100"_s), "O0100 (BRIDE)\nN10 G0 X0\nN20 M30\n");
    }

    void cleanup()
    {
        Clock::setScale(1);
        State().stopRequested = false;
    }

    // A program there and back through the real loader, in both modes; in
    // number mode 10 MB, the control taking 1,460 bytes a call. (The other
    // operations' calls are the unit test's; the whole process test runs
    // each of them on this control.)
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QString>("folder"); // where programs are, in the memory
        QTest::addColumn<int>("size");
        QTest::newRow("number mode") << QByteArray("16") << QString() << (10 << 20);
        QTest::newRow("folder mode") << QByteArray("31") << u"CNC_MEM/USER/PATH1/"_s << 0;
    }

    void roundTrip()
    {
        QFETCH(QByteArray, type);
        QFETCH(QString, folder);
        QFETCH(int, size);
        auto cnc = focas("CncType=" + type + "\n");
        RemoteListing listing;
        QVERIFY2(cnc->list(u"."_s, listing), qPrintable(cnc->lastError()));
        // A folder holds files by name, a number-mode control programs by number.
        QVERIFY(listing.FNHaveThisFile(folder.isEmpty() ? u"O0100"_s : u"O100"_s));
        QByteArray text = "%\nO2000 (CALE)\nN10 T2 M6\n";
        while (text.size() < size)
            text += "N10 G1 X100.125 Y200.5 Z-3.02 F1200\n";
        text += "N20 M30\n%";
        const QString local = m_dir.filePath(u"O2000.nc"_s);
        writeFile(local, text);
        QVERIFY2(cnc->put(local, u"O2000.nc"_s), qPrintable(cnc->lastError()));
        QVERIFY(readFile(memory(folder + u"O2000"_s)).contains("N10 T2 M6"));
        const QString got = m_dir.filePath(u"got.nc"_s);
        QVERIFY2(cnc->get(u"O2000"_s, got, {}), qPrintable(cnc->lastError()));
        QVERIFY(readFile(got).contains(text.mid(2, text.size() - 4)));
    }

    // Faults the recording library cannot show (a refused connection, a full
    // memory), and a lost link through the real loader: the send fails and
    // says why.
    void faults_data()
    {
        QTest::addColumn<QByteArray>("keys");
        QTest::newRow("connection refused") << QByteArray("RefuseConnect=1");
        QTest::newRow("lost mid-download") << QByteArray("DropAfterBytes=10");
        QTest::newRow("memory full") << QByteArray("MemoryFull=1");
    }

    void faults()
    {
        QFETCH(QByteArray, keys);
        auto cnc = focas("CncType=16\n" + keys + "\n");
        const QString local = m_dir.filePath(u"O2000.nc"_s);
        writeFile(local, "%\nO2000 (CALE)\nN10 T2 M6\nN20 M30\n%");
        QVERIFY(!cnc->put(local, u"O2000"_s));
        QVERIFY(!cnc->lastError().isEmpty());
    }

    void stopDuringATransfer()
    {
        Clock::setScale(1);
        auto cnc = focas("CncType=16\nBusy10=-1\n");
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
