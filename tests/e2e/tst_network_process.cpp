// A networked machine, the whole server: listening with TransfertBasic asks
// (from the prompt script) for the machine's call file, fetches it, serves
// the call by putting the program into the machine's folder under its number,
// and removes the call file; T puts the send file under the name it is given.
// On a shared folder (a UNC name under UncRoot) and on a real FTP server.

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

    // Serves the call written in the machine's folder, then T: the machine's
    // folder ends with the program under its number and the send file under
    // the name T gave; the call file is gone.
    void serveCallAndSend(const QString& base, const QString& machine)
    {
        QVERIFY(writeFile(base + u"/Programmes/O1000"_s, kProgram));
        QVERIFY(writeFile(machine + u"/APPEL.nc"_s, "(APPEL O1000)\r\n"));
        QVERIFY(writeFile(base + u"/answers"_s, "text APPEL.nc\n"));
        QProcess server;
        QProcessEnvironment env = scaledTime(0.2);
        env.insert(u"NODALIS_PROMPT_SCRIPT"_s, base + u"/answers"_s);
        server.setProcessEnvironment(env);
        QVERIFY(startHeadless(server, base));
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

private slots:
    void sharedFolder()
    {
        const QString base = m_tmp.filePath(u"share"_s);
        const QString unc = m_tmp.filePath(u"unc"_s);
        const QString machine = unc + u"/cnc/programs"_s;
        QVERIFY(QDir().mkpath(machine));
        QVERIFY(writeFile(base + u"/Nodalis.ini"_s,
                          iniFor(base, 6,
                                 "UncRoot=" + unc.toLocal8Bit() +
                                     "\r\nDefaultDirHostSend=\\\\cnc\\programs\r\n")));
        serveCallAndSend(base, machine);
    }

    void ftpServer()
    {
        const QString machine = m_tmp.filePath(u"ftp"_s);
        QVERIFY(QDir().mkpath(machine));
        FtpServer ftp;
        if (!ftp.start(machine))
            QSKIP(qPrintable(ftp.why()));
        const QString base = m_tmp.filePath(u"ftpbase"_s);
        QVERIFY(writeFile(
            base + u"/Nodalis.ini"_s,
            iniFor(base, 4,
                   "RemoteHost=127.0.0.1\r\nRemotePort=" + QByteArray::number(ftp.port()) +
                       "\r\nUserName=cnc\r\nUserPassword=cnc\r\n")));
        serveCallAndSend(base, machine);
    }
};

QTEST_GUILESS_MAIN(TestNetworkProcess)
#include "tst_network_process.moc"
