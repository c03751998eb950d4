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

    static QString nodalis()
    {
        return qEnvironmentVariable("NODALIS_BIN_DIR") + QStringLiteral("/nodalis");
    }

    QString makeBase(const QString& name, const QByteArray& ini)
    {
        const QString base = m_tmp.filePath(name);
        QDir().mkpath(base);
        if (!ini.isNull()) {
            QFile f(base + QStringLiteral("/Nodalis.ini"));
            if (!f.open(QIODevice::WriteOnly))
                qFatal("cannot write Nodalis.ini");
            f.write(ini);
        }
        return base;
    }

    QProcessEnvironment env() const
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("XDG_CONFIG_HOME"), m_tmp.filePath(QStringLiteral("xdg")));
        return e;
    }

    // Starts a server and waits until it says it serves.
    bool startServer(QProcess& p, const QString& base, const QString& program = nodalis())
    {
        p.setProcessEnvironment(env());
        p.start(program, {QStringLiteral("--headless"), QStringLiteral("--base"), base});
        if (!p.waitForStarted(5000))
            return false;
        QByteArray out;
        while (!out.contains("serving from") && p.state() == QProcess::Running) {
            p.waitForReadyRead(200);
            out += p.readAllStandardOutput();
        }
        return out.contains("serving from");
    }

    struct Result
    {
        int code;
        QByteArray out;
        QByteArray err;
    };

    Result runToEnd(const QStringList& args)
    {
        QProcess p;
        p.setProcessEnvironment(env());
        p.start(nodalis(), args);
        if (!p.waitForFinished(15000)) {
            p.kill();
            p.waitForFinished();
            return {-1, {}, {}};
        }
        return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
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
        const QString base = makeBase(QStringLiteral("m1"), ini);
        QProcess server;
        QVERIFY(startServer(server, base));

        const QString path = base + QStringLiteral("/Nodalis.ini");
        const QByteArray written = readFile(path);
        QVERIFY(
            written.startsWith("; machine M1\r\n[NODALIS]\r\nPortListen=2000\r\nFirstExe=0\r\n"));
        QVERIFY(written.contains("\r\nPID=" + QByteArray::number(server.processId()) + "\r\n"));
        QVERIFY(written.contains("\r\nIPserver="));
        QVERIFY(written.contains("\r\nHostName=" + QHostInfo::localHostName().toLatin1() + "\r\n"));
        QVERIFY(written.contains(
            "\r\nLocalPathDir=" + QDir::toNativeSeparators(base).toLocal8Bit() + "\r\n"));
        QVERIFY(written.endsWith("[DNC]\r\nRefMO=M1\r\n"));
        QVERIFY(QFileInfo(base + QStringLiteral("/Temp")).isDir());

        const QByteArray entry =
            readFile(m_tmp.filePath(QStringLiteral("xdg/autostart/nodalis-M1.desktop")));
        QVERIFY(entry.contains("Exec=\"" + nodalis().toLocal8Bit() + "\" --base \"" +
                               base.toLocal8Bit() + "\""));

        const Result second =
            runToEnd({QStringLiteral("--headless"), QStringLiteral("--base"), base});
        QCOMPARE(second.code, 2);
        QVERIFY(second.err.contains("Le Nodalis est déjà en exécution"));
        QCOMPARE(readFile(path), written);

        // Another machine's folder runs beside it.
        QProcess other;
        QVERIFY(startServer(other, makeBase(QStringLiteral("m2"), "[DNC]\r\nRefMO=M2\r\n")));
        stop(other);
        stop(server);

        // Once stopped, the folder can be served again, without a second registration.
        QFile::remove(m_tmp.filePath(QStringLiteral("xdg/autostart/nodalis-M1.desktop")));
        QProcess again;
        QVERIFY(startServer(again, base));
        stop(again);
        QVERIFY(!QFile::exists(m_tmp.filePath(QStringLiteral("xdg/autostart/nodalis-M1.desktop"))));
    }

    void noRegistrationUnderRuzavar()
    {
        const QString bin = m_tmp.filePath(QStringLiteral("Install/ruzavar/bin"));
        QDir().mkpath(bin);
        const QString copy = bin + QStringLiteral("/nodalis");
        QVERIFY(QFile::copy(nodalis(), copy));
        const QString base =
            makeBase(QStringLiteral("rz"), "[NODALIS]\r\nFirstExe=1\r\n[DNC]\r\nRefMO=RZ\r\n");
        QProcess server;
        QVERIFY(startServer(server, base, copy));
        stop(server);
        QVERIFY(readFile(base + QStringLiteral("/Nodalis.ini")).contains("FirstExe=1\r\n"));
        QVERIFY(!QFile::exists(m_tmp.filePath(QStringLiteral("xdg/autostart/nodalis-RZ.desktop"))));
    }

    void missingConfigurationEndsTheProgram()
    {
        const QString base = makeBase(QStringLiteral("empty"), QByteArray());
        const Result r = runToEnd({QStringLiteral("--headless"), QStringLiteral("--base"), base});
        QCOMPARE(r.code, 1);
        QVERIFY(r.err.contains("Problème durant l'ouverture du fichier Nodalis.ini"));
        QVERIFY(QDir(base).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());

        const Result check =
            runToEnd({QStringLiteral("--check-config"), QStringLiteral("--base"), base});
        QCOMPARE(check.code, 1);
        QVERIFY(check.err.contains("Nodalis.ini"));
    }

    void checkConfigPrintsEverySetting()
    {
        const QString base = makeBase(QStringLiteral("check"),
                                      "[NODALIS]\r\nPortListen=2000.6\r\n[COMM]\r\nEOB=13,10\r\n");
        const QByteArray before = readFile(base + QStringLiteral("/Nodalis.ini"));
        const Result r =
            runToEnd({QStringLiteral("--check-config"), QStringLiteral("--base"), base});
        QCOMPARE(r.code, 0);
        const QList<QByteArray> lines = r.out.split('\n');
        QVERIFY(lines.contains("NODALIS.PortListen=\"2001\""));
        QVERIFY(lines.contains("COMM.EOB=\"\\r\\n\""));
        QVERIFY(lines.contains("OPTION_T.ApercuProgLocal=\"true\""));
        QVERIFY(lines.size() > 130);
        // Checking writes nothing.
        QCOMPARE(readFile(base + QStringLiteral("/Nodalis.ini")), before);

        const Result bad =
            runToEnd({QStringLiteral("--check-config"), QStringLiteral("--base"),
                      makeBase(QStringLiteral("bad"), "[DNC]\r\nDataAccess=yes\r\n")});
        QCOMPARE(bad.code, 1);
        QCOMPARE(bad.err, QByteArray("Nodalis.ini:2: [DNC] DataAccess: \"yes\" is not a number\n"));
    }
};

QTEST_GUILESS_MAIN(TestStartupProcess)
#include "tst_startup_process.moc"
