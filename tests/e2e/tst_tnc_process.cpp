// A TNC control's files through the TNCremo tool, the whole way: nodalisctl
// -> nodalis --headless (Methode 17, then 18) -> the stand-in tool on a
// folder playing the control. Listing and walking, a fetch stored with the
// file's identification, a send, rename, delete and folders, a hung tool
// killed at its limit, and a tool stopped by S and by the server's end.

#include "support/ProcessHelpers.h"

#include <QDir>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace nodalis::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kProgram = "0 BEGIN PGM 1234 MM\r\n1 L X+0 R0 FMAX\r\n2 END PGM 1234 MM\r\n";

} // namespace

class TestTncProcess : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    QProcess m_server;
    QString m_base;
    QString m_root;

    Run ctl(const QStringList& args) const
    {
        return runToEnd(bin("nodalisctl"), QStringList{u"--base"_s, m_base} + args);
    }
    QString control(const QString& path) const { return m_root + u'/' + path; }
    QByteArray toolLog() const { return readFile(m_tmp.filePath(u"tool.log"_s)); }

    bool start(int methode, const QByteArray& more, const QByteArray& faults)
    {
        static int n = 0;
        m_base = m_tmp.filePath(u"base%1"_s.arg(++n));
        const QByteArray b = m_base.toLocal8Bit();
        writeFile(m_base + u"/Nodalis.ini"_s,
                  "[NODALIS]\r\nPortListen=0\r\nDncAppMode=0\r\n[DNC]\r\nRefMO=M1\r\nMethode=" +
                      QByteArray::number(methode) + "\r\nDataAccess=1\r\nPathData=" + b +
                      "/Data\r\n[COMM]\r\nNumPort=2\r\nBaudsEnvoi=9600\r\n" + more +
                      "[RESEAU]\r\nRemoteHost=10.0.0.9\r\nTncCmd=" + tool().toLocal8Bit() +
                      "\r\n[RECORDFIELDS]\r\nNbBDFields=2\r\nRefChamp1=Champ1\r\nIsNumProg1=1\r\n"
                      "RefChamp2=Champ2\r\nIsInfoProg2=1\r\n");
        if (ctlOn(m_base, {u"store"_s, u"init"_s}) != 0)
            return false;
        QProcessEnvironment env = scaledTime(0.2);
        env.insert(u"NODALIS_TNC_ROOT"_s, m_root);
        env.insert(u"NODALIS_TNC_LOG"_s, m_tmp.filePath(u"tool.log"_s));
        env.insert(u"NODALIS_TNC_FAULTS"_s, QString::fromLatin1(faults));
        m_server.setProcessEnvironment(env);
        return startHeadless(m_server, m_base);
    }
    // The stand-in under a name of this test's own, to find its processes.
    QString tool() const { return m_tmp.filePath(u"tnccmd-of-this-test"_s); }
    bool toolGone() const { return runToEnd(u"pgrep"_s, {u"-f"_s, tool()}).out.isEmpty(); }

private slots:
    void initTestCase() { QVERIFY(QFile::link(bin("nodalis-tnccmd"), tool())); }

    void init()
    {
        m_root = m_tmp.filePath(u"tnc"_s);
        QDir(m_root).removeRecursively();
        QVERIFY(writeFile(control(u"NC_PROG/1234.H"_s), kProgram));
        QFile::remove(m_tmp.filePath(u"tool.log"_s));
    }

    void cleanup()
    {
        ctl({u"stop"_s});
        if (!m_server.waitForFinished(10000))
            m_server.kill();
    }

    void ethernet()
    {
        QVERIFY(start(17, {}, {}));
        Run r = ctl({u"ls"_s});
        QVERIFY2(r.code == 0 && r.out.contains("dir   NC_PROG"), r.out.constData());
        r = ctl({u"ls"_s, u"NC_PROG"_s});
        QVERIFY2(r.out.contains("file  1234.H " + QByteArray::number(kProgram.size())),
                 r.out.constData());
        QVERIFY(ctl({u"ls"_s}).out.contains("dir   NC_PROG")); // back at the root
        QVERIFY(toolLog().contains("args: -i10.0.0.9 START "));

        // Fetched in its folder and stored, known by its name on the control.
        QCOMPARE(ctl({u"cd"_s, u"NC_PROG"_s}).code, 0);
        QCOMPARE(ctl({u"get"_s, u"1234.H"_s}).code, 0);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"check"_s);
            db.setDatabaseName(m_base + u"/Data/Talmiron.db"_s);
            QVERIFY(db.open());
            QSqlQuery q(u"SELECT Champ1, Champ2 FROM FROMCN"_s, db);
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toString(), u"1234"_s);
            QCOMPARE(q.value(1).toString(), u"1234.H"_s);
        }
        QSqlDatabase::removeDatabase(u"check"_s);

        const QString p2 = m_tmp.filePath(u"P2.H"_s);
        writeFile(p2, kProgram);
        QCOMPARE(ctl({u"put"_s, p2}).code, 0);
        QCOMPARE(readFile(control(u"NC_PROG/P2.H"_s)), kProgram);
        QCOMPARE(ctl({u"mv"_s, u"P2.H"_s, u"P3.H"_s}).code, 0);
        QVERIFY(QFile::exists(control(u"NC_PROG/P3.H"_s)));
        QCOMPARE(ctl({u"rm"_s, u"P3.H"_s}).code, 0);
        QVERIFY(!QFile::exists(control(u"NC_PROG/P3.H"_s)));
        QCOMPARE(ctl({u"mkdir"_s, u"X"_s}).code, 0);
        QVERIFY(QFileInfo(control(u"NC_PROG/X"_s)).isDir());
        QCOMPARE(ctl({u"rmdir"_s, u"X"_s}).code, 0);
        QVERIFY(!QFileInfo::exists(control(u"NC_PROG/X"_s)));
    }

    // The tool on the serial port; hung, it is killed at TimeOutEnvoi.
    void serialToolHung()
    {
        QVERIFY(start(18, "TimeOutEnvoi=2\r\n", "hang"));
        const Run r = ctl({u"ls"_s});
        QVERIFY(journalOf(m_base).contains("---Code267---"));
        QVERIFY(toolLog().contains("args: -p2 -b9600 START "));
        QVERIFY(toolGone());
        QCOMPARE(r.code, 0); // an empty listing is no failure to the client
    }

    void stoppedWhileTheToolRuns()
    {
        QVERIFY(start(17, {}, "hang"));
        QProcess lister;
        lister.start(bin("nodalisctl"), {u"--base"_s, m_base, u"ls"_s});
        QVERIFY(waitFor([&] { return !toolGone(); }));
        QCOMPARE(ctl({u"send"_s, u"S"_s}).code, 0);
        QVERIFY(waitFor([&] { return toolGone(); }, 3000));
        QVERIFY(lister.waitForFinished(10000));
        QCOMPARE(ctl({u"ping"_s}).code, 0); // still serving
        // Ending the server ends its tool too.
        lister.start(bin("nodalisctl"), {u"--base"_s, m_base, u"ls"_s});
        QVERIFY(waitFor([&] { return !toolGone(); }));
        QCOMPARE(ctl({u"send"_s, u"E"_s}).code, 0);
        QVERIFY(m_server.waitForFinished(10000));
        QVERIFY(toolGone());
        lister.waitForFinished(10000);
    }
};

QTEST_GUILESS_MAIN(TestTncProcess)
#include "tst_tnc_process.moc"
