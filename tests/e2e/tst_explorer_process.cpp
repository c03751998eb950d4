// The network explorer driven over the control link, the whole way:
// nodalisctl -> nodalis with its windows (offscreen) -> a real FTP server
// (pyftpdlib). The listening start opens the explorer on the machine's
// folder; G lists again, POS_SIZE places it (bad values are logged and
// left), F hides it, and COMFTPFILE sends the pending list through it. A
// headless server runs COMFTPFILE the same, without a window.

#include "support/FtpServer.h"
#include "support/ProcessHelpers.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace nodalis::test;
using namespace Qt::StringLiterals;

class TestExplorerProcess : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    FtpServer m_ftp;
    QProcess m_server;
    QString m_machine;

    QString base(bool headless) const
    {
        return m_tmp.filePath(headless ? u"headless"_s : u"windowed"_s);
    }
    int count(bool headless, const QByteArray& code) const
    {
        return int(journalOf(base(headless)).count("---Code" + code + "---"));
    }
    int ctl(bool headless, const QStringList& args) { return ctlOn(base(headless), args); }

private slots:
    void initTestCase()
    {
        if (!FtpServer::available())
            QSKIP("no python3 with pyftpdlib (apt-get install python3-pyftpdlib)");
        m_machine = m_tmp.filePath(u"cnc"_s);
        for (int i = 1; i <= 20; ++i)
            QVERIFY(writeFile(m_machine + u"/O%1.nc"_s.arg(i),
                              "%\r\nO" + QByteArray::number(i) + "\r\nM30\r\n%\r\n"));
        QVERIFY2(m_ftp.start(m_machine), qPrintable(m_ftp.why()));
    }

    void cleanup()
    {
        m_server.terminate();
        m_server.waitForFinished(10000);
    }

    void explorerOverTheControlLink_data()
    {
        QTest::addColumn<bool>("headless");
        QTest::newRow("window") << false;
        QTest::newRow("headless") << true;
    }
    void explorerOverTheControlLink()
    {
        QFETCH(bool, headless);
        const QString b = base(headless);
        QVERIFY(writeFile(
            b + u"/Nodalis.ini"_s,
            "[NODALIS]\r\nPortListen=0\r\nDncAppMode=2\r\nControlAllowFrom=127.0.0.1\r\n"
            "[DNC]\r\nMethode=4\r\nRefMO=M1\r\nIsModeEcoute=1\r\nTransfertBasic=0\r\n"
            "PathFileProgOpen=" +
                b.toLocal8Bit() + "/Programmes\r\n[RESEAU]\r\nRemoteHost=127.0.0.1\r\nRemotePort=" +
                QByteArray::number(m_ftp.port()) + "\r\nUserName=cnc\r\nUserPassword=cnc\r\n"));
        QVERIFY(writeFile(b + u"/Programmes/P1.nc"_s, "%\r\nO901 (P1)\r\nM30\r\n%\r\n"));
        QVERIFY(writeFile(b + u"/Programmes/P2.nc"_s, "%\r\nO902 (P2)\r\nM30\r\n%\r\n"));
        QVERIFY(startServer(m_server, b, headless,
                            headless ? QStringList() : QStringList{u"--window"_s}));

        // Listening opens the explorer on the machine's folder; G lists it again.
        if (!headless)
            QVERIFY(waitFor([&] { return count(false, "268") >= 1; }));
        const int listed = count(headless, "268");
        QCOMPARE(ctl(headless, {u"send"_s, u"G"_s}), 0);
        QCOMPARE(
            ctl(headless, {u"send"_s, u"POS_SIZE"_s, u"1200"_s, u"1200"_s, u"9000"_s, u"6000"_s}),
            0);
        QCOMPARE(ctl(headless, {u"send"_s, u"POS_SIZE"_s, u"left"_s, u"1200"_s}), 0);
        QCOMPARE(ctl(headless, {u"send"_s, u"F"_s}), 0);
        QVERIFY(waitFor([&] { return journalOf(b).contains("POS_SIZE left"); }));
        if (!headless)
            QVERIFY(count(false, "268") > listed);

        // The pending list goes out through the explorer's transfer.
        QCOMPARE(ctl(headless, {u"send"_s, u"BLFTS"_s}), 0);
        for (const QString& name : {u"P1.nc"_s, u"P2.nc"_s})
            QCOMPARE(ctl(headless, {u"send"_s, u"AFTS"_s, b + u"/Programmes/"_s + name, name}), 0);
        QCOMPARE(ctl(headless, {u"send"_s, u"COMFTPFILE"_s}), 0);
        QVERIFY(waitFor([&] { return QFile::exists(m_machine + u"/P2.nc"_s); }));
        QCOMPARE(readFile(m_machine + u"/P1.nc"_s), readFile(b + u"/Programmes/P1.nc"_s));
        QVERIFY(waitFor([&] { return count(headless, "266") >= 2; }));
        QCOMPARE(ctl(headless, {u"send"_s, u"PING"_s}), 0);
        QFile::remove(m_machine + u"/P1.nc"_s);
        QFile::remove(m_machine + u"/P2.nc"_s);
    }
};

QTEST_GUILESS_MAIN(TestExplorerProcess)
#include "tst_explorer_process.moc"
