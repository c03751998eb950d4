// The TNCremo link: its scripts byte for byte, the folder rules, the
// listing lines, the tool's command line and the names refused before any
// script; then each operation against the stand-in tool playing a control,
// and the tool failing (missing, hung, crashed, garbage, stopped).

#include "dnc/ProcessState.h"
#include "platform/Clock.h"
#include "protocols/ClsTNCRemo.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"

#include "support/ProcessHelpers.h"
#include "support/ProcessReset.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace nodalis;
using namespace nodalis::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kProgram = "0 BEGIN PGM PART1 MM\r\n1 L X+0 R0 FMAX\r\n2 END PGM PART1 MM\r\n";

// A listing line in the stand-in's layout.
QString fileLine(const QString& name, const QString& size)
{
    return name.leftJustified(32) + u" M "_s + size.rightJustified(13) +
           u"  06.12.2026 10:00:00    "_s;
}

} // namespace

class TestTncRemo : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_root; // the control

    QString control(const QString& path) const { return m_root + u'/' + path; }
    // The script with its temporary paths named as in the expectations.
    static QByteArray scriptOf(const ClsTNCRemo& tnc)
    {
        QString text = QString::fromLatin1(readFile(tnc.scriptPath()));
        static const QRegularExpression temp(QRegularExpression::escape(TempFolder()) +
                                             u"[0-9A-Za-z_]+\\.txt"_s);
        return text.replace(temp, u"TEMP"_s).toLatin1();
    }

private slots:
    void init()
    {
        ResetProcessState(m_dir.path());
        m_root = m_dir.filePath(u"tnc"_s);
        QDir(m_root).removeRecursively();
        QDir().mkpath(control(u"NC_PROG/SUB"_s));
        writeFile(control(u"NC_PROG/PART1.H"_s), kProgram);
        Config().TncCmd = TNCCMD;
        Config().RemoteHost = "192.168.0.5";
        qputenv("NODALIS_TNC_ROOT", m_root.toLocal8Bit());
        qputenv("NODALIS_TNC_LOG", m_dir.filePath(u"tool.log"_s).toLocal8Bit());
        qunsetenv("NODALIS_TNC_FAULTS");
        qunsetenv("TMPDIR");
        QFile::remove(m_dir.filePath(u"tool.log"_s));
    }

    void scripts_data()
    {
        QTest::addColumn<QString>("walk"); // listings first, "|" between
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<QByteArray>("script");
        QTest::newRow("first listing") << QString() << u"dir"_s << u"NC_PROG"_s << QString()
                                       << QByteArray("cd \"TNC:\"\r\ndir > TEMP\r\nexit\r\n");
        QTest::newRow("folder before any listing")
            << QString() << u"mkdir"_s << u"NEW"_s << QString()
            << QByteArray("cd \".\"\r\nmkdir \"NEW\"\r\nexit\r\n");
        // The local path as the system names it, quoted.
        const QString local = m_dir.filePath(u"P2.H"_s);
        QTest::newRow("send") << QString() << u"put"_s << local << u"P2.H"_s
                              << "cd \".\"\r\nPUT \"" + QDir::toNativeSeparators(local).toLatin1() +
                                     "\" \"P2.H\"\r\nexit\r\n";
        QTest::newRow("fetch") << u".|NC_PROG"_s << u"get"_s << u"PART1.H"_s << QString()
                               << QByteArray(
                                      "cd \"TNC:\\NC_PROG\"\r\nGET \"PART1.H\" TEMP\r\nexit\r\n");
        QTest::newRow("delete") << u"."_s << u"del"_s << u"A B.H"_s << QString()
                                << QByteArray("cd \"TNC:\"\r\nDEL \"A B.H\"\r\nexit\r\n");
        QTest::newRow("rename") << u"."_s << u"rename"_s << u"P2.H"_s << u"P3.H"_s
                                << QByteArray(
                                       "cd \"TNC:\"\r\nrename \"P2.H\" \"P3.H\"\r\nexit\r\n");
        QTest::newRow("text file")
            << u"."_s << u"echo"_s << u"T.TXT"_s << u"hello"_s
            << QByteArray("cd \"TNC:\"\r\necho \"hello\"> \"T.TXT\"\r\nexit\r\n");
        QTest::newRow("folder removal")
            << u".|NC_PROG"_s << u"rmdir"_s << u"SUB"_s << QString()
            << QByteArray(
                   "cd \"TNC:\\NC_PROG\"\r\nrmdir SUB\r\nON ERROR ALWAYS GOTO ERR\r\n"
                   "ON ALWAYS GOTO END\r\n:ERR\r\necho \"Erreur\" > TEMP\r\n:END\r\nexit\r\n");
    }

    void scripts()
    {
        QFETCH(QString, walk);
        QFETCH(QString, op);
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(QByteArray, script);
        ClsTNCRemo tnc;
        RemoteListing listing;
        for (const QString& folder : walk.split(u'|', Qt::SkipEmptyParts))
            QVERIFY(tnc.FNGetList(folder, listing));
        if (op == u"dir"_s)
            tnc.FNGetList(a, listing);
        else if (op == u"mkdir"_s)
            tnc.CreerRep(a);
        else if (op == u"get"_s)
            tnc.RecupererFichier(a, m_dir.filePath(u"got"_s));
        else if (op == u"del"_s)
            tnc.FNSupprimerFichier(a);
        else if (op == u"rename"_s)
            tnc.RenommerFichier(a, b);
        else if (op == u"echo"_s)
            tnc.CreerTxtFile(a, b);
        else if (op == u"rmdir"_s)
            tnc.FNSupprimerDossier(a);
        else if (op == u"put"_s)
            tnc.SendFichier(a, b);
        QCOMPARE(scriptOf(tnc), script);
    }

    void folderRules_data()
    {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("next");
        QTest::addColumn<QString>("given"); // to the tool, for the current folder
        QTest::newRow("first is the root") << QString() << u"NC_PROG"_s << u"TNC:"_s << u"."_s;
        QTest::newRow("dot stays") << u"TNC:\\A"_s << u"."_s << u"TNC:\\A"_s << u"TNC:\\A"_s;
        QTest::newRow("up") << u"TNC:\\A\\B"_s << u".."_s << u"TNC:\\A"_s << u"TNC:\\A\\B"_s;
        QTest::newRow("up from the root") << u"TNC:"_s << u".."_s << u"TNC:"_s << u"TNC:"_s;
        QTest::newRow("down") << u"TNC:"_s << u"A"_s << u"TNC:\\A"_s << u"TNC:"_s;
        QTest::newRow("dot-backslash only") << u".\\"_s << u"A"_s << u".\\A"_s << u"."_s;
    }

    void folderRules()
    {
        QFETCH(QString, current);
        QFETCH(QString, argument);
        QFETCH(QString, next);
        QFETCH(QString, given);
        QCOMPARE(ClsTNCRemo::NextFolder(current, argument), next);
        QCOMPARE(ClsTNCRemo::ToolFolder(current), given);
    }

    void listingLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("named");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("size");
        const QString tail = u"  06.12.2026 10:00:00    "_s;
        QTest::newRow("file") << fileLine(u"PART1.H"_s, u"1234"_s) << true << 1 << u"PART1.H"_s
                              << qint64(1234);
        QTest::newRow("folder") << u"NC_PROG DIR"_s.leftJustified(48) + tail << true << 2
                                << u"NC_PROG"_s << qint64(-1);
        QTest::newRow("name with blanks")
            << fileLine(u"MY PART.H"_s, u"7"_s) << true << 1 << u"MY PART.H"_s << qint64(7);
        QTest::newRow("no size") << u"LOG FILE"_s.leftJustified(40) + tail << true << 1
                                 << u"LOG FILE"_s << qint64(-1);
        QTest::newRow("cut after .H")
            << u"ABC.H (1) 120"_s + tail << true << 1 << u"ABC.H"_s << qint64(120);
        QTest::newRow("parent") << u".."_s.leftJustified(30) + tail << true << 2 << u".."_s
                                << qint64(-1);
        QTest::newRow("shorter than the tail")
            << u"PART1.H 12"_s << false << 0 << QString() << qint64(0);
        QTest::newRow("slash inside")
            << fileLine(u"A/B.H"_s, u"1"_s) << false << 0 << QString() << qint64(0);
        QTest::newRow("tail only") << tail << false << 0 << QString() << qint64(0);
    }

    void listingLines()
    {
        QFETCH(QString, line);
        QFETCH(bool, named);
        RemoteEntry entry;
        QCOMPARE(ClsTNCRemo::ParseListingLine(line, entry), named);
        if (!named)
            return;
        QTEST(int(entry.TypeFD), "kind");
        QTEST(entry.Nom, "name");
        QTEST(entry.size, "size");
    }

    void commandLine()
    {
        QCOMPARE(ClsTNCRemo::ToolArguments(ClsTNCRemo::Ethernet, "10.1.2.3", 2, "9600", u"S.bat"_s),
                 (QStringList{u"-i10.1.2.3"_s, u"START"_s, u"S.bat"_s}));
        QCOMPARE(ClsTNCRemo::ToolArguments(ClsTNCRemo::Serial, "10.1.2.3", 2, " 9600 ", u"S.bat"_s),
                 (QStringList{u"-p2"_s, u"-b9600"_s, u"START"_s, u"S.bat"_s}));
    }

    // Names that would add commands to a script never reach one.
    void refusedNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("double quote") << u"A\" & DEL \"*"_s;
        QTest::newRow("CR LF") << u"A\r\nDEL \"B\""_s;
    }

    void refusedNames()
    {
        QFETCH(QString, name);
        ClsTNCRemo tnc;
        RemoteListing listing;
        QVERIFY(!tnc.CreerRep(name));
        QVERIFY(!tnc.FNSupprimerFichier(name));
        QVERIFY(!tnc.FNSupprimerDossier(name));
        QVERIFY(!tnc.RenommerFichier(u"A"_s, name));
        QVERIFY(!tnc.RecupererFichier(name, m_dir.filePath(u"x"_s)));
        QVERIFY(!tnc.SendFichier(m_dir.filePath(u"x"_s), name));
        QVERIFY(!tnc.CreerTxtFile(u"T"_s, name));
        QVERIFY(tnc.scriptPath().isEmpty());
        QVERIFY(tnc.lastError().contains(u"refusé"_s));
        QVERIFY(!QFile::exists(m_dir.filePath(u"tool.log"_s)));
    }

    // The operations through the stand-in tool (the process test runs every
    // one): a listing read back, a fetch and a failed one, a send, a folder
    // removal the tool refused; nothing left in the temporary folder.
    void operations()
    {
        const QString temp = m_dir.filePath(u"temp"_s);
        QDir().mkpath(temp);
        qputenv("TMPDIR", temp.toLocal8Bit());
        {
            ClsTNCRemo tnc;
            RemoteListing listing;
            QVERIFY(tnc.FNGetList(u"."_s, listing));
            QVERIFY(tnc.FNGetList(u"NC_PROG"_s, listing));
            QCOMPARE(listing.entries.size(), 2); // SUB and the program, not the summary
            QCOMPARE(listing.entries.last().Nom, u"PART1.H"_s);
            QCOMPARE(listing.entries.last().size, kProgram.size());

            QVERIFY(tnc.RecupererFichier(u"PART1.H"_s, m_dir.filePath(u"got.H"_s)));
            QCOMPARE(readFile(m_dir.filePath(u"got.H"_s)), kProgram);
            QVERIFY(!tnc.RecupererFichier(u"NONE.H"_s, m_dir.filePath(u"none.H"_s)));
            QVERIFY(!QFile::exists(m_dir.filePath(u"none.H"_s)));

            QVERIFY(tnc.SendFichier(m_dir.filePath(u"got.H"_s), u"P2.H"_s));
            QCOMPARE(readFile(control(u"NC_PROG/P2.H"_s)), kProgram);

            QVERIFY(tnc.CreerRep(u"X"_s));
            QVERIFY(QFileInfo(control(u"NC_PROG/X"_s)).isDir());
            writeFile(control(u"NC_PROG/X/KEEP.H"_s), kProgram);
            QVERIFY(!tnc.FNSupprimerDossier(u"X"_s)); // not empty: the tool said "Erreur"
            QVERIFY(QFile::remove(control(u"NC_PROG/X/KEEP.H"_s)));
            QVERIFY(tnc.FNSupprimerDossier(u"X"_s));
            QVERIFY(!QFileInfo::exists(control(u"NC_PROG/X"_s)));
        }
        QCOMPARE(QDir(temp).entryList(QDir::Files), QStringList());
    }

    // With NODALIS_TNCCMD naming the real tool (under Wine, say) and
    // NODALIS_TNC_HOST its control: its listing of the root parses.
    void realToolListing()
    {
        const QByteArray real = qgetenv("NODALIS_TNCCMD");
        if (real.isEmpty())
            QSKIP("NODALIS_TNCCMD names no real tool");
        Config().TncCmd = real;
        Config().RemoteHost = qgetenv("NODALIS_TNC_HOST");
        ClsTNCRemo tnc;
        RemoteListing listing;
        QVERIFY2(tnc.FNGetList(u"."_s, listing), qPrintable(tnc.lastError()));
        QVERIFY(!listing.entries.isEmpty());
        for (const RemoteEntry& e : std::as_const(listing.entries))
            QVERIFY2(ClsTNCRemo::ScriptSafe(e.Nom) && !e.Nom.endsWith(u" DIR"_s),
                     qPrintable(e.Nom));
    }

    // The tool failing: the operation fails with the reason; a tool that
    // hangs or is stopped is killed at once.
    void toolFaults_data()
    {
        QTest::addColumn<QByteArray>("fault");
        QTest::addColumn<int>("stopAtMs"); // -1: no stop
        QTest::addColumn<bool>("listed");
        QTest::newRow("missing") << QByteArray("missing") << -1 << false;
        QTest::newRow("hangs past TimeOutEnvoi") << QByteArray("hang") << -1 << false;
        QTest::newRow("stopped while it runs") << QByteArray("hang") << 300 << false;
        QTest::newRow("crashes") << QByteArray("crash") << -1 << false;
        QTest::newRow("garbage listing") << QByteArray("garbage") << -1 << true;
        QTest::newRow("empty listing") << QByteArray("emptyresult") << -1 << true;
    }

    void toolFaults()
    {
        QFETCH(QByteArray, fault);
        QFETCH(int, stopAtMs);
        QFETCH(bool, listed);
        if (fault == "missing")
            Config().TncCmd = m_dir.filePath(u"no-such-tool"_s).toLocal8Bit();
        else
            qputenv("NODALIS_TNC_FAULTS", fault);
        Config().Port.TimeOutEnvoi = 1;
        if (stopAtMs >= 0) {
            Config().Port.TimeOutEnvoi = 0;
            QTimer::singleShot(stopAtMs, [] { State().stopRequested = true; });
        }
        ClsTNCRemo tnc;
        RemoteListing listing;
        QElapsedTimer t;
        t.start();
        QCOMPARE(tnc.FNGetList(u"."_s, listing), listed);
        QVERIFY2(t.elapsed() < 3000, QByteArray::number(t.elapsed()).constData());
        if (!listed) {
            QVERIFY(!tnc.lastError().isEmpty());
            QCOMPARE(tnc.currentFolder(), QString());
        }
        State().stopRequested = false;
    }
};

QTEST_GUILESS_MAIN(TestTncRemo)
#include "tst_tncremo.moc"
