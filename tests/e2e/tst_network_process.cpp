// A networked machine, the whole server: listening with TransfertBasic asks
// (from the prompt script) for the machine's call file, fetches it, serves
// the call by putting the program into the machine's folder under its number,
// and removes the call file; T puts the send file under the name it is given.
// On a shared folder (a UNC name under UncRoot; methods 6 and 19) and on a
// real FTP server. Faults while fetching keep the machine's file and serve
// nothing: a data connection cut mid-file, a refused login (313 once), a
// missing share.

#include "support/FtpServer.h"
#include "support/ProcessHelpers.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace nodalis::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kProgram = "%\r\nO1000 (BRIDE)\r\nN10 G0 X0\r\nN20 M30\r\n%\r\n";

QByteArray iniFor(const QString& base, int methode, const QByteArray& network)
{
    const QByteArray b = base.toLocal8Bit();
    return "[NODALIS]\r\nPortListen=0\r\nDncAppMode=2\r\nControlAllowFrom=127.0.0.1\r\n[DNC]\r\n"
           "Methode=" +
           QByteArray::number(methode) +
           "\r\nRefMO=FR1\r\nIsModeEcoute=1\r\nUseRPC=1\r\nCallSyntax=(APPEL $$$$)\r\n"
           "PathFileProgOpen=" +
           b + "/Programmes\r\nPathFileProgSave=" + b +
           "/Remontes\r\n[SYNTAXE_MO]\r\nCarDebProg=O\r\n[RESEAU]\r\nTransfertBasic=1\r\n"
           "NumProgAsFileName=1\r\n" +
           network;
}

} // namespace

class TestNetworkProcess : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;

    // Starts the server on base, its question for the file to fetch
    // answered "APPEL.nc" by the prompt script.
    static bool startAnsweringAppel(QProcess& server, const QString& base)
    {
        if (!writeFile(base + u"/answers"_s, "text APPEL.nc\n"))
            return false;
        QProcessEnvironment env = scaledTime(0.2);
        env.insert(u"NODALIS_PROMPT_SCRIPT"_s, base + u"/answers"_s);
        server.setProcessEnvironment(env);
        return startHeadless(server, base);
    }

    // The ini of a shared-folder machine under m_tmp/unc/cnc/programs.
    QByteArray shareIni(const QString& base, int methode)
    {
        return iniFor(base, methode,
                      "UncRoot=" + m_tmp.filePath(u"unc"_s).toLocal8Bit() +
                          "\r\nDefaultDirHostSend=\\\\cnc\\programs\r\n");
    }
    QByteArray ftpIni(const QString& base, int port, const QByteArray& password)
    {
        return iniFor(base, 4,
                      "RemoteHost=127.0.0.1\r\nRemotePort=" + QByteArray::number(port) +
                          "\r\nUserName=cnc\r\nUserPassword=" + password + "\r\n");
    }

private slots:
    // Serves the call written in the machine's folder, then T: the machine's
    // folder ends with the program under its number and the send file under
    // the name T gave; the call file is gone.
    void serveCallAndSend_data()
    {
        QTest::addColumn<int>("methode");
        QTest::newRow("shared folder, copy/paste") << 6;
        QTest::newRow("shared folder, second variant") << 19;
        QTest::newRow("FTP server") << 4;
    }

    void serveCallAndSend()
    {
        QFETCH(int, methode);
        if (methode == 4 && !FtpServer::available())
            QSKIP("no python3 with pyftpdlib (apt-get install python3-pyftpdlib)");
        const QString base = m_tmp.filePath(u"base%1"_s.arg(methode));
        const QString machine = m_tmp.filePath(methode == 4 ? u"ftp"_s : u"unc/cnc/programs"_s);
        QDir(machine).removeRecursively();
        QVERIFY(QDir().mkpath(machine));
        FtpServer ftp;
        if (methode == 4)
            QVERIFY2(ftp.start(machine), qPrintable(ftp.why()));
        QVERIFY(writeFile(base + u"/Nodalis.ini"_s, methode == 4 ? ftpIni(base, ftp.port(), "cnc")
                                                                 : shareIni(base, methode)));
        QVERIFY(writeFile(base + u"/Programmes/O1000"_s, kProgram));
        QVERIFY(writeFile(machine + u"/APPEL.nc"_s, "(APPEL O1000)\r\n"));
        QProcess server;
        QVERIFY(startAnsweringAppel(server, base));
        QVERIFY(waitFor([&] { return QFile::exists(machine + u"/O1000"_s); }, 20000));
        QVERIFY(waitFor([&] { return !QFile::exists(machine + u"/APPEL.nc"_s); }));
        QCOMPARE(readFile(machine + u"/O1000"_s), kProgram);
        const QByteArray log = journalOf(base);
        QVERIFY2(log.contains("---Code250---") && log.contains("---Code266---"), log.constData());

        QVERIFY(writeFile(base + u"/Send/ToCN.txt"_s, "%\r\nO2\r\nM30\r\n%\r\n"));
        QCOMPARE(ctlOn(base, {u"send"_s, u"T"_s, u"PIECE.nc"_s}), 0);
        QVERIFY(waitFor([&] { return QFile::exists(machine + u"/PIECE.nc"_s); }));
        QCOMPARE(readFile(machine + u"/PIECE.nc"_s), QByteArray("%\r\nO2\r\nM30\r\n%\r\n"));
        server.terminate();
        QVERIFY(server.waitForFinished(10000));
    }

    void fetchFaults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("event");
        QTest::newRow("data connection cut mid-file") << u"drop"_s << QByteArray("261");
        QTest::newRow("login refused") << u"password"_s << QByteArray("313");
        QTest::newRow("share missing") << u"share"_s << QByteArray("261");
    }

    void fetchFaults()
    {
        QFETCH(QString, fault);
        QFETCH(QByteArray, event);
        const bool overFtp = fault != u"share";
        if (overFtp && !FtpServer::available())
            QSKIP("no python3 with pyftpdlib (apt-get install python3-pyftpdlib)");
        const QString machine = m_tmp.filePath(u"fault-"_s + fault);
        // A call file far longer than the cut, so the cut falls inside it.
        const QByteArray call = "(APPEL O1000)\r\n" + QByteArray("(....)\r\n").repeated(100000);
        QVERIFY(writeFile(machine + u"/APPEL.nc"_s, call));
        FtpServer ftp;
        if (overFtp)
            QVERIFY2(ftp.start(machine, fault == u"drop" ? QStringList{u"--drop-after"_s, u"4096"_s}
                                                         : QStringList()),
                     qPrintable(ftp.why()));
        const QString base = m_tmp.filePath(u"faultbase-"_s + fault);
        QVERIFY(writeFile(base + u"/Nodalis.ini"_s,
                          fault == u"share"
                              ? shareIni(base, 6)
                              : ftpIni(base, ftp.port(), fault == u"password" ? "wrong" : "cnc")));
        if (fault == u"share")
            QDir(m_tmp.filePath(u"unc/cnc/programs"_s)).removeRecursively();
        QProcess server;
        QVERIFY(startAnsweringAppel(server, base));
        QVERIFY(waitFor([&] { return journalOf(base).contains("---Code261---"); }, 30000));
        const QByteArray log = journalOf(base);
        QCOMPARE(log.count("---Code" + event + "---"), 1);
        QVERIFY2(!log.contains("---Code503---") && !log.contains("---Code252---"), log.constData());
        if (fault != u"share")
            QCOMPARE(readFile(machine + u"/APPEL.nc"_s), call);
        server.terminate();
        QVERIFY(server.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(TestNetworkProcess)
#include "tst_network_process.moc"
