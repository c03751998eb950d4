// A FANUC control's programs the whole way: nodalisctl -> nodalis
// --headless (Methode 21) -> the server's FOCAS loader -> the simulated
// control built as a FOCAS library, on a memory folder. Types 31 (folders)
// and 16 (numbers); a fetch stored, and wrapped in "%" when concatenated;
// S during a transfer; no library at all.

#include "support/ProcessHelpers.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace nodalis::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kO100 = "O0100 (BRIDE)\nN10 G0 X0\nN20 M30\n";

} // namespace

class TestFocasProcess : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    QProcess m_server;
    QString m_base;
    QString m_memory;

    Run ctl(const QStringList& args) const
    {
        return runToEnd(bin("nodalisctl"), QStringList{u"--base"_s, m_base} + args);
    }
    QString memory(const QString& path) const { return m_memory + u'/' + path; }
    QByteArray log() const { return journalOf(m_base); }
    // The uploads kept in the reception folder.
    QByteArray received() const
    {
        QByteArray all;
        QDirIterator it(m_base + u"/Receiv"_s, {u"FromCN_*"_s}, QDir::Files);
        while (it.hasNext())
            all += readFile(it.next()) + '|';
        return all;
    }

    bool start(const QByteArray& type, const QByteArray& library)
    {
        static int n = 0;
        m_base = m_tmp.filePath(u"base%1"_s.arg(++n));
        m_memory = m_tmp.filePath(u"memory%1"_s.arg(n));
        QDir().mkpath(memory(u"CNC_MEM/USER/PATH1"_s));
        writeFile(memory(u"control.ini"_s), "[control]\nCncType=" + type + "\n");
        writeFile(memory(u"O100"_s), kO100);
        writeFile(memory(u"CNC_MEM/USER/PATH1/O100"_s), kO100);
        writeFile(m_base + u"/Nodalis.ini"_s,
                  "[NODALIS]\r\nPortListen=0\r\nDncAppMode=0\r\n[DNC]\r\nRefMO=M1\r\nMethode=21\r\n"
                  "[RESEAU]\r\nRemoteHost=127.0.0.1\r\nFocasLibrary=" +
                      library + "\r\n");
        QProcessEnvironment env = scaledTime(0.2);
        env.insert(u"NODALIS_FOCAS_SIM"_s, m_memory);
        m_server.setProcessEnvironment(env);
        return startHeadless(m_server, m_base);
    }

private slots:
    void cleanup()
    {
        ctl({u"stop"_s});
        if (!m_server.waitForFinished(10000))
            m_server.kill();
    }

    void programsAndFolders_data()
    {
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QString>("folder");
        QTest::newRow("type 31") << QByteArray("31") << u"CNC_MEM/USER/PATH1/"_s;
        QTest::newRow("type 16") << QByteArray("16") << QString();
    }

    void programsAndFolders()
    {
        QFETCH(QByteArray, type);
        QFETCH(QString, folder);
        QVERIFY(start(type, QByteArray(FOCAS_SIM)));
        Run r = ctl({u"ls"_s});
        // A folder holds files by name, a number-mode control programs by number.
        const QString o100 = folder.isEmpty() ? u"O0100"_s : u"O100"_s;
        QVERIFY2(r.code == 0 && r.out.contains(o100.toLatin1()), r.out.constData());
        QCOMPARE(ctl({u"get"_s, o100}).code, 0);
        QVERIFY(waitFor([&] { return received().contains("N10 G0 X0"); }));
        const QString local = m_tmp.filePath(u"O2000.nc"_s);
        writeFile(local, "%\nO2000 (CALE)\nN10 T2 M6\nN20 M30\n%");
        QCOMPARE(ctl({u"put"_s, local}).code, 0);
        QVERIFY(readFile(memory(folder + u"O2000"_s)).contains("N10 T2 M6"));
        QCOMPARE(ctl({u"mv"_s, u"O2000"_s, u"O3000"_s}).code, 0);
        QCOMPARE(ctl({u"rm"_s, u"O3000"_s}).code, 0);
        QVERIFY(!QFile::exists(memory(folder + u"O3000"_s)));
        // Concatenated programs come back as one, between two "%".
        QCOMPARE(ctl({u"receive"_s, o100, o100, u"--concat"_s}).code, 0);
        QVERIFY(waitFor([&] {
            return received().contains("%\r\nO0100 (BRIDE)\r\nN10 G0 X0\r\nN20 M30\r\n\r\nO0100");
        }));
    }

    void stoppedMidTransfer()
    {
        QVERIFY(start("16\nBusy10=-1", QByteArray(FOCAS_SIM)));
        QProcess getter;
        getter.start(bin("nodalisctl"), {u"--base"_s, m_base, u"get"_s, u"O100"_s});
        QTest::qWait(500);
        QCOMPARE(ctl({u"send"_s, u"S"_s}).code, 0);
        QVERIFY(getter.waitForFinished(10000));
        QVERIFY(!received().contains("N10"));
        QCOMPARE(ctl({u"ping"_s}).code, 0);
    }

    void noLibrary()
    {
        QVERIFY(start("31", m_tmp.filePath(u"nowhere/libfwlib32.so"_s).toLocal8Bit()));
        ctl({u"ls"_s});
        QVERIFY(waitFor([&] { return log().contains("---Code267---"); }));
        QVERIFY(log().contains("nowhere/libfwlib32.so"));
        QCOMPARE(ctl({u"ping"_s}).code, 0);
    }
};

QTEST_GUILESS_MAIN(TestFocasProcess)
#include "tst_focas_process.moc"
