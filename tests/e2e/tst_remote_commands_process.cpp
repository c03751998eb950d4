// A networked machine's files managed over the control link, the whole way:
// nodalisctl -> nodalis --headless -> a real FTP server (pyftpdlib). One case
// per group of commands: list and walk, fetch and preview, send a list,
// receive a folder, delete/rename/mkdir/mktxt, connect and disconnect, the
// listing of the server's own small FTP client (A), and the names and files
// that must be refused.

#include "support/FtpServer.h"
#include "support/ProcessHelpers.h"

#include <QDir>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace nodalis::test;
using namespace Qt::StringLiterals;

class TestRemoteCommandsProcess : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    FtpServer m_ftp;
    QProcess m_server;
    QString m_base;
    QString m_machine;

    Run ctl(const QStringList& args)
    {
        return runToEnd(bin("nodalisctl"), QStringList{u"--base"_s, m_base} + args);
    }
    QByteArray onMachine(const QString& name) const { return readFile(m_machine + u'/' + name); }
    // The control link's port, as the server published it.
    quint16 serverPort() const
    {
        const QByteArray ini = readFile(m_base + u"/Nodalis.ini"_s);
        const qsizetype at = ini.indexOf("Socket=");
        return at < 0 ? 0 : quint16(ini.mid(at + 7).split('\r').first().toUInt());
    }

private slots:
    void initTestCase()
    {
        if (!FtpServer::available())
            QSKIP("no python3 with pyftpdlib (apt-get install python3-pyftpdlib)");
        m_machine = m_tmp.filePath(u"cnc"_s);
        QVERIFY(writeFile(m_machine + u"/NC/O5.nc"_s, "%\r\nO5\r\nM30\r\n%\r\n"));
        QVERIFY2(m_ftp.start(m_machine), qPrintable(m_ftp.why()));
        m_base = m_tmp.filePath(u"base"_s);
        QVERIFY(writeFile(
            m_base + u"/Nodalis.ini"_s,
            "[NODALIS]\r\nPortListen=0\r\nDncAppMode=2\r\nControlAllowFrom=127.0.0.1"
            "\r\n[DNC]\r\nMethode=4\r\nRefMO=M1\r\n[RESEAU]\r\nRemoteHost=127.0.0.1\r\n"
            "RemotePort=" +
                QByteArray::number(m_ftp.port()) + "\r\nUserName=cnc\r\nUserPassword=cnc\r\n"));
        m_server.setProcessEnvironment(scaledTime(0.2));
        QVERIFY(startHeadless(m_server, m_base));
    }

    void cleanupTestCase()
    {
        m_server.terminate();
        m_server.waitForFinished(10000);
    }

    // ls lists a folder without moving into it; the entries are the server's.
    void listAndWalk()
    {
        const Run root = ctl({u"ls"_s});
        QCOMPARE(root.code, 0);
        QVERIFY2(root.out.contains("dir   NC"), root.out.constData());
        const Run inside = ctl({u"ls"_s, u"NC"_s});
        QVERIFY2(inside.out.contains("file  O5.nc 15"), inside.out.constData());
        QVERIFY(ctl({u"ls"_s}).out.contains("dir   NC")); // back where it was
    }

    void sendAListThenFetchAndPreview()
    {
        const QString a = m_tmp.filePath(u"A.nc"_s);
        const QString b = m_tmp.filePath(u"B.nc"_s);
        QVERIFY(writeFile(a, "%\r\nO1 (A)\r\nM30\r\n%\r\n"));
        QVERIFY(writeFile(b, QByteArray("\x00\x01 binary\r\n", 11)));
        const Run put = ctl({u"put"_s, a, b});
        QCOMPARE(put.code, 0);
        QVERIFY(put.out.contains("sent      2"));
        QCOMPARE(onMachine(u"A.nc"_s), readFile(a));
        QCOMPARE(onMachine(u"B.nc"_s), readFile(b));
        const Run preview = ctl({u"preview"_s, u"A.nc"_s});
        const qsizetype at = preview.out.indexOf("preview   ");
        QVERIFY2(at >= 0, preview.out.constData());
        const QByteArray path = preview.out.mid(at + 10).split('\n').first().trimmed();
        QCOMPARE(readFile(QString::fromLocal8Bit(path)), readFile(a));
        QCOMPARE(ctl({u"get"_s, u"A.nc"_s}).code, 0);
    }

    void receiveAFolder()
    {
        QVERIFY(
            writeFile(m_machine + u"/JOB/part.nc"_s, "%\r\nO7 (JOB)\r\nN10 G0 X0\r\nM30\r\n%\r\n"));
        QVERIFY(writeFile(m_machine + u"/JOB/tools.txt"_s, "T1 D10\r\n"));
        const Run r = ctl({u"receive"_s, u"--folder"_s, u"JOB"_s});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.contains("transfer ended"));
        QCOMPARE(readFile(m_base + u"/Receiv/FromCN.txt.dir/tools.txt"_s),
                 QByteArray("T1 D10\r\n"));
    }

    // A thousand files fetched as one, by two clients at once: each gets its
    // end in turn; a stop ends the one running and the server serves on.
    void receiveMany()
    {
        QStringList names;
        QByteArray all;
        for (int i = 0; i < 1000; ++i) {
            const QByteArray text =
                "N" + QByteArray::number(i * 10) + " G0 X" + QByteArray::number(i) + "\r\n";
            names << u"p%1.nc"_s.arg(i, 4, 10, QLatin1Char('0'));
            QVERIFY(writeFile(m_machine + u"/L/"_s + names.last(), text));
            all += text;
        }
        QCOMPARE(ctl({u"mkdir"_s, u"L"_s}).code, 5); // already there: 255
        const QStringList args = QStringList{u"--base"_s, m_base,       u"--timeout"_s,
                                             u"120"_s,    u"receive"_s, u"--concat"_s} +
                                 names;
        QVERIFY(ctl({u"ls"_s, u"L"_s}).out.contains("p0999.nc"));
        // Into the folder, then the same list twice at once.
        QVERIFY(ctl({u"send"_s, u"LF"_s, u"L"_s, u"--until"_s, u"{flf}"_s}).code == 0);
        QProcess first, second;
        first.start(bin("nodalisctl"), args);
        second.start(bin("nodalisctl"), args);
        QVERIFY(first.waitForFinished(120000) && second.waitForFinished(120000));
        QCOMPARE(first.exitCode(), 0);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(readFile(m_base + u"/Receiv/FromCN.txt"_s).contains(all.right(200)));
        // A client that asks for a listing and leaves at once.
        QTcpSocket leaving;
        leaving.connectToHost(QHostAddress::LocalHost, serverPort());
        QVERIFY(leaving.waitForConnected(5000));
        leaving.write("Info:LF|Arg:.<>|\r\n");
        QVERIFY(leaving.waitForBytesWritten(5000));
        leaving.abort();
        // A third, stopped after a moment.
        QProcess third;
        third.start(bin("nodalisctl"), args);
        QTest::qWait(300);
        QCOMPARE(ctl({u"send"_s, u"S"_s}).code, 0);
        QVERIFY(third.waitForFinished(30000));
        QCOMPARE(ctl({u"ls"_s, u".."_s}).code, 0);
    }

    void deleteRenameCreate()
    {
        QVERIFY(writeFile(m_machine + u"/old.nc"_s, "x\r\n"));
        QVERIFY(writeFile(m_machine + u"/taken.nc"_s, "keep\r\n"));
        QCOMPARE(ctl({u"mv"_s, u"old.nc"_s, u"new.nc"_s}).code, 0);
        QCOMPARE(onMachine(u"new.nc"_s), QByteArray("x\r\n"));
        // Never over an existing file.
        QCOMPARE(ctl({u"mv"_s, u"new.nc"_s, u"taken.nc"_s}).code, 5);
        QCOMPARE(onMachine(u"taken.nc"_s), QByteArray("keep\r\n"));
        QCOMPARE(ctl({u"rm"_s, u"new.nc"_s}).code, 0);
        QVERIFY(!QFile::exists(m_machine + u"/new.nc"_s));
        QCOMPARE(ctl({u"mkdir"_s, u"X"_s}).code, 0);
        QVERIFY(QFileInfo(m_machine + u"/X"_s).isDir());
        QCOMPARE(ctl({u"mktxt"_s, u"X.txt"_s, u"first line"_s}).code, 0);
        QCOMPARE(onMachine(u"X.txt"_s), QByteArray("first line\r\n"));
        // A folder with files in it goes whole.
        QVERIFY(writeFile(m_machine + u"/X/in/deep.nc"_s, "x\r\n"));
        QCOMPARE(ctl({u"rmdir"_s, u"X"_s}).code, 0);
        QVERIFY(!QFile::exists(m_machine + u"/X"_s));
    }

    // A name that would carry a command (the checks of names are the
    // network transfer's own), and what is not there: a failure event
    // (exit 5), nothing touched.
    void refusals_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::newRow("command inside") << QStringList{u"rm"_s, u"a\r\nDELE taken.nc"_s};
        QTest::newRow("missing file") << QStringList{u"get"_s, u"nothere.nc"_s};
        QTest::newRow("no such folder to remove") << QStringList{u"rmdir"_s, u"nothere"_s};
    }

    void refusals()
    {
        QFETCH(QStringList, command);
        QCOMPARE(ctl(command).code, 5);
        QCOMPARE(onMachine(u"taken.nc"_s), QByteArray("keep\r\n"));
        QVERIFY(QFile::exists(m_machine + u"/NC/O5.nc"_s));
    }

    // A: the small FTP client lists the login folder in {l} lines.
    void ftpClientListing()
    {
        const Run r = ctl({u"ftp-list"_s});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains(" NC|") && r.out.contains(">PC>PASS ****"), r.out.constData());
    }

    void disconnectThenConnect()
    {
        QCOMPARE(ctl({u"send"_s, u"DR"_s}).code, 0);
        QVERIFY(journalOf(m_base).contains("---Code902---"));
        QCOMPARE(ctl({u"send"_s, u"CR"_s}).code, 0);
        QCOMPARE(ctl({u"ls"_s}).code, 0);
    }
};

QTEST_GUILESS_MAIN(TestRemoteCommandsProcess)
#include "tst_remote_commands_process.moc"
