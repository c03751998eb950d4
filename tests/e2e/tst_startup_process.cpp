// Whole nodalis processes: start-up on a base folder, the identity it
// publishes, first-run registration, one instance per folder, --check-config.

#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include "support/ProcessHelpers.h"

using namespace nodalis::test;

class TestStartupProcess : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;

    static QString nodalis() { return bin("nodalis"); }
    QString autostart(const char* machine) const
    {
        return m_tmp.filePath(u"xdg/autostart/nodalis-"_s + QLatin1String(machine) + u".desktop"_s);
    }

    QString makeBase(const QString& name, const QByteArray& ini)
    {
        const QString base = m_tmp.filePath(name);
        QDir().mkpath(base);
        if (!ini.isNull())
            writeFile(base + u"/Nodalis.ini"_s, ini);
        return base;
    }

    QProcessEnvironment env() const
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(u"XDG_CONFIG_HOME"_s, m_tmp.filePath(u"xdg"_s));
        return e;
    }

    // Starts a server and waits until it says it serves.
    bool startServer(QProcess& p, const QString& base, const QString& program = nodalis())
    {
        p.setProcessEnvironment(env());
        p.start(program, {u"--headless"_s, u"--base"_s, base});
        QByteArray out;
        while (!out.contains("serving from") && p.waitForReadyRead(5000))
            out += p.readAllStandardOutput();
        return out.contains("serving from");
    }

    Run run(const char* option, const QString& base)
    {
        return runToEnd(nodalis(), {QLatin1String(option), u"--base"_s, base}, env());
    }

    static void stop(QProcess& p)
    {
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
    }

private slots:
    void publishesIdentityAndRefusesASecondInstance()
    {
        const QByteArray ini = "; machine M1\r\n[NODALIS]\r\nPortListen=2000\r\nFirstExe=1\r\n\r\n"
                               "[DNC]\r\nRefMO=M1\r\n";
        const QString base = makeBase(u"m1"_s, ini);
        QProcess server;
        QVERIFY(startServer(server, base));

        const QString path = base + u"/Nodalis.ini"_s;
        const QByteArray written = readFile(path);
        QVERIFY(
            written.startsWith("; machine M1\r\n[NODALIS]\r\nPortListen=2000\r\nFirstExe=0\r\n"));
        QVERIFY(written.contains("\r\nPID=" + QByteArray::number(server.processId()) + "\r\n"));
        QVERIFY(written.contains("\r\nIPserver="));
        QVERIFY(written.contains("\r\nHostName=" + QHostInfo::localHostName().toLatin1() + "\r\n"));
        QVERIFY(written.contains(
            "\r\nLocalPathDir=" + QDir::toNativeSeparators(base).toLocal8Bit() + "\r\n"));
        QVERIFY(written.endsWith("[DNC]\r\nRefMO=M1\r\n"));
        QVERIFY(QFileInfo(base + u"/Temp"_s).isDir());

        const QByteArray entry = readFile(autostart("M1"));
        QVERIFY(entry.contains("Exec=\"" + nodalis().toLocal8Bit() + "\" --base \"" +
                               base.toLocal8Bit() + "\""));

        const Run second = run("--headless", base);
        QCOMPARE(second.code, 2);
        QVERIFY(second.err.contains("Le Nodalis est déjà en exécution"));
        QCOMPARE(readFile(path), written);

        // Another machine's folder runs beside it.
        QProcess other;
        QVERIFY(startServer(other, makeBase(u"m2"_s, "[DNC]\r\nRefMO=M2\r\n")));
        stop(other);
        stop(server);

        // Once stopped, the folder can be served again, without a second registration.
        QFile::remove(autostart("M1"));
        QProcess again;
        QVERIFY(startServer(again, base));
        stop(again);
        QVERIFY(!QFile::exists(autostart("M1")));
    }

    void noRegistrationUnderRuzavar()
    {
        const QString bin = m_tmp.filePath(u"Install/ruzavar/bin"_s);
        QDir().mkpath(bin);
        const QString copy = bin + u"/nodalis"_s;
        QVERIFY(QFile::copy(nodalis(), copy));
        const QString base = makeBase(u"rz"_s, "[NODALIS]\r\nFirstExe=1\r\n[DNC]\r\nRefMO=RZ\r\n");
        QProcess server;
        QVERIFY(startServer(server, base, copy));
        stop(server);
        QVERIFY(readFile(base + u"/Nodalis.ini"_s).contains("FirstExe=1\r\n"));
        QVERIFY(!QFile::exists(autostart("RZ")));
    }

    void missingConfigurationEndsTheProgram()
    {
        const QString base = makeBase(u"empty"_s, QByteArray());
        const Run r = run("--headless", base);
        QCOMPARE(r.code, 1);
        QVERIFY(r.err.contains("Problème durant l'ouverture du fichier Nodalis.ini"));
        QVERIFY(QDir(base).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());

        const Run check = run("--check-config", base);
        QCOMPARE(check.code, 1);
        QVERIFY(check.err.contains("Nodalis.ini"));
    }

    // What each setting loads as, and what a finding says, are the loader's
    // own: here, the dump on the standard output, the findings on the error
    // output, the exit status, and a file left as it was.
    void checkConfig()
    {
        const QString base = makeBase(u"check"_s, "[NODALIS]\r\nPortListen=2000.6\r\n");
        const QByteArray before = readFile(base + u"/Nodalis.ini"_s);
        const Run r = run("--check-config", base);
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.split('\n').contains("NODALIS.PortListen=\"2001\""), r.out.constData());
        QCOMPARE(readFile(base + u"/Nodalis.ini"_s), before);

        const Run bad = run("--check-config", makeBase(u"bad"_s, "[DNC]\r\nDataAccess=yes\r\n"));
        QCOMPARE(bad.code, 1);
        QCOMPARE(bad.err, QByteArray("Nodalis.ini:2: [DNC] DataAccess: \"yes\" is not a number\n"));
    }
};

QTEST_GUILESS_MAIN(TestStartupProcess)
#include "tst_startup_process.moc"
