// The FTP transport against a real FTP server (pyftpdlib) playing a
// machine's: a whole session in passive and active mode (MLSD listings), a
// refused login, a full disk on either side, a dropped or stalled transfer, a
// stop, a server that knows only Unix or DOS LIST, and folders of many entries.

#include "dnc/EventMessages.h"
#include "dnc/ProcessState.h"
#include "platform/Clock.h"
#include "protocols/FtpListing.h"
#include "protocols/FtpTransport.h"
#include "startup/Settings.h"

#include "support/FtpServer.h"
#include "support/ProcessHelpers.h"
#include "support/ProcessReset.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace nodalis;
using namespace nodalis::test;
using namespace Qt::StringLiterals;

namespace {

// Every byte value, CR LF and NUL included: a text-mode transfer changes it.
QByteArray binaryBytes(int size)
{
    QByteArray b(size, 0);
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 7 + i / 251) & 0xff);
    return b;
}

// The size listed for a file; -1 when it is not listed.
qint64 sizeOf(const RemoteListing& listing, const QString& name)
{
    for (const RemoteEntry& e : listing.entries) {
        if (e.TypeFD == RemoteEntry::File && e.Nom == name)
            return e.size;
    }
    return -1;
}

} // namespace

class TestFtpTransport : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    QString m_home;
    std::unique_ptr<FtpServer> m_server;

    QString local(const QString& name) const { return m_tmp.filePath(name); }
    QString served(const QString& name) const { return m_home + u'/' + name; }

    // A server on an empty home folder, and the settings that reach it.
    bool serve(const QStringList& options = {}, const QByteArray& mode = "passive")
    {
        m_home = m_tmp.filePath(u"home"_s);
        QDir(m_home).removeRecursively();
        QDir().mkpath(m_home);
        m_server = std::make_unique<FtpServer>();
        if (!m_server->start(m_home, options)) {
            qWarning() << m_server->why();
            return false;
        }
        Config().RemoteHost = "127.0.0.1";
        Config().RemotePort = QByteArray::number(m_server->port());
        Config().ReseauUserName = "cnc";
        Config().UserPassword = "cnc";
        Config().FtpMode = mode;
        return true;
    }

    int refusalsLogged() const
    {
        return int(journalOf(m_tmp.filePath(u"base"_s)).count("---Code313---"));
    }

private slots:
    void initTestCase()
    {
        if (!FtpServer::available())
            QSKIP("no python3 with pyftpdlib: apt-get install python3-pyftpdlib");
    }

    void init()
    {
        ResetProcessState(m_tmp.filePath(u"base"_s));
        Config().DncAppMode = 1; // events logged, no link to notify
    }

    void cleanup()
    {
        m_server.reset();
        Clock::setScale(1);
        State().stopRequested = false;
    }

    void session_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::newRow("passive") << QByteArray("passive");
        QTest::newRow("active") << QByteArray("active");
    }

    void session()
    {
        QFETCH(QByteArray, mode);
        QVERIFY(serve({}, mode));
        const QByteArray program = binaryBytes(300000);
        QVERIFY(writeFile(local(u"up.nc"_s), program));
        ClsFTP ftp;
        RemoteListing listing;
        QVERIFY2(ftp.connect(), qPrintable(ftp.lastError()));

        QVERIFY2(ftp.put(local(u"up.nc"_s), u"O 1000.nc"_s), qPrintable(ftp.lastError()));
        QVERIFY(ftp.createFolder(u"Sub Dir"_s));
        QVERIFY(ftp.rename(u"O 1000.nc"_s, u"O 2000.nc"_s));
        QVERIFY(ftp.list(QString(), listing));
        QCOMPARE(sizeOf(listing, u"O 2000.nc"_s), 300000);
        QVERIFY(listing.FNHaveThisFolder(u"Sub Dir"_s));
        QCOMPARE(listing.countReal(), 2);

        qint64 lastProgress = 0;
        QVERIFY(ftp.get(u"O 2000.nc"_s, local(u"down.nc"_s),
                        [&](qint64 bytes) { lastProgress = bytes; }));
        QCOMPARE(readFile(local(u"down.nc"_s)), program);
        QCOMPARE(lastProgress, program.size());
        QCOMPARE(m_server->logins(), 1); // one connection all along

        // Into the folder, a file there, up again; never above the login folder.
        QVERIFY(ftp.list(u"Sub Dir"_s, listing));
        QVERIFY2(ftp.createTextFile(u"empty.txt"_s), qPrintable(ftp.lastError()));
        QVERIFY(ftp.list(u"."_s, listing));
        QVERIFY(listing.FNHaveThisFile(u"empty.txt"_s));
        QVERIFY(QFileInfo::exists(served(u"Sub Dir/empty.txt"_s)));
        QVERIFY(ftp.list(u".."_s, listing));
        QVERIFY(ftp.list(u".."_s, listing));
        QVERIFY(listing.FNHaveThisFile(u"O 2000.nc"_s));
        QVERIFY(!ftp.deleteFolder(u"Sub Dir"_s)); // not empty

        QVERIFY(ftp.deleteFile(u"O 2000.nc"_s));
        QVERIFY(ftp.list(u"Sub Dir"_s, listing));
        QVERIFY(ftp.deleteFile(u"empty.txt"_s));
        QVERIFY(ftp.list(u".."_s, listing));
        QVERIFY(ftp.deleteFolder(u"Sub Dir"_s));
        QCOMPARE(QDir(m_home).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());

        // Gone folder: false, and the next operation works on a new connection.
        QVERIFY(!ftp.list(u"Sub Dir"_s, listing));
        QVERIFY(ftp.list(QString(), listing));
        QCOMPARE(listing.countReal(), 0);

        // Closing says QUIT; a machine switched off never answers it.
        m_server->freeze();
        QElapsedTimer t;
        t.start();
        ftp.disconnect();
        QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
    }

    // Told once, however often it is tried, until a login succeeds again.
    void refusedLogin()
    {
        QVERIFY(serve());
        Config().UserPassword = "wrong";
        ClsFTP ftp;
        RemoteListing listing;
        QVERIFY(!ftp.connect());
        SetStatus(906); // what the dispatch says meanwhile
        QVERIFY(!ftp.list(QString(), listing));
        QCOMPARE(refusalsLogged(), 1);

        Config().UserPassword = "cnc";
        QVERIFY(ftp.connect());
        ftp.disconnect();
        Config().UserPassword = "wrong";
        SetStatus(906);
        QVERIFY(!ftp.connect());
        QCOMPARE(refusalsLogged(), 2);
    }

    // Each fault ends the transfer with its reason, long before the 30 s a
    // stalled one lasts; the next operation works.
    void faults_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("upload");
        QTest::addColumn<QString>("localPath");
        QTest::addColumn<double>("timeScale");
        QTest::addColumn<QString>("reason");

        QTest::newRow("quota refuses the upload")
            << QStringList{u"--quota"_s, u"4000"_s} << true << QString() << 1.0 << QString();
        QTest::newRow("data connection dropped")
            << QStringList{u"--drop-after"_s, u"1000"_s} << false << QString() << 1.0 << QString();
        QTest::newRow("stalled transfer ends at the low-speed limit")
            << QStringList{u"--stall"_s} << false << QString() << 0.02 << QString();
        QTest::newRow("stop ends a stalled transfer")
            << QStringList{u"--stall"_s} << false << QString() << 1.0 << u"stopped"_s;
        QTest::newRow("local disk full")
            << QStringList() << false << u"/dev/full"_s << 1.0 << u"No space left on device"_s;
    }

    void faults()
    {
        QFETCH(QStringList, options);
        QFETCH(bool, upload);
        QFETCH(QString, localPath);
        QFETCH(double, timeScale);
        QFETCH(QString, reason);
        QVERIFY(serve(options));
        QVERIFY(writeFile(served(u"O1.nc"_s), binaryBytes(5000)));
        QVERIFY(writeFile(local(u"O1.nc"_s), binaryBytes(5000)));
        if (localPath.isEmpty())
            localPath = local(u"got.nc"_s);
        Clock::setScale(timeScale);
        if (reason == u"stopped")
            QTimer::singleShot(300, [] { State().stopRequested = true; });
        ClsFTP ftp;
        QElapsedTimer t;
        t.start();
        QVERIFY(upload ? !ftp.put(local(u"O1.nc"_s), u"O2.nc"_s)
                       : !ftp.get(u"O1.nc"_s, localPath, {}));
        QVERIFY2(t.elapsed() < 10000, qPrintable(QString::number(t.elapsed())));
        QVERIFY2(!ftp.lastError().isEmpty() && ftp.lastError().contains(reason),
                 qPrintable(ftp.lastError()));
        State().stopRequested = false;
        RemoteListing listing;
        QVERIFY2(ftp.list(QString(), listing), qPrintable(ftp.lastError()));
        QVERIFY(listing.FNHaveThisFile(u"O1.nc"_s));
    }

    // MLSD refused: LIST from then on, in the server's form.
    void listings_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("Unix LIST") << QStringList{u"--no-mlsd"_s};
        QTest::newRow("DOS LIST") << QStringList{u"--no-mlsd"_s, u"--dos"_s};
    }

    void listings()
    {
        QFETCH(QStringList, options);
        QVERIFY(serve(options));
        QVERIFY(writeFile(served(u"My Folder/in it.nc"_s), "G1\r\n"));
        QVERIFY(writeFile(served(u"a b.nc"_s), "G0 X1\r\n"));
        ClsFTP ftp;
        RemoteListing listing;
        QVERIFY2(ftp.list(QString(), listing), qPrintable(ftp.lastError()));
        QCOMPARE(listing.countReal(), 2);
        QVERIFY(listing.FNHaveThisFolder(u"My Folder"_s));
        QCOMPARE(sizeOf(listing, u"a b.nc"_s), 7);
        QVERIFY(ftp.list(u"My Folder"_s, listing));
        QVERIFY(listing.FNHaveThisFile(u"in it.nc"_s));
    }

    void manyEntries_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<bool>("listed");
        QTest::newRow("10000") << 10000 << true;
        QTest::newRow("past the cap") << int(kFtpListingCap) + 1 << false;
    }

    void manyEntries()
    {
        QFETCH(int, files);
        QFETCH(bool, listed);
        QVERIFY(serve({u"--many"_s, QString::number(files)}));
        ClsFTP ftp;
        RemoteListing listing;
        QCOMPARE(ftp.list(u"many"_s, listing), listed);
        QCOMPARE(listing.countReal(), listed ? files : 0);
        // In the login folder again, or still there after a refused listing.
        QVERIFY(ftp.list(u".."_s, listing));
        QVERIFY(listing.FNHaveThisFolder(u"many"_s));
    }
};

QTEST_GUILESS_MAIN(TestFtpTransport)
#include "tst_ftptransport.moc"
