// A headless server on a free port, driven by nodalisctl as the
// program-management application would drive it.

#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "support/ProcessHelpers.h"

using namespace nodalis::test;

class TestControlProcess : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;

    struct Result
    {
        int code;
        QByteArray out;
        QByteArray err;
    };

    static Result ctl(const QStringList& args)
    {
        QProcess p;
        p.start(bin("nodalisctl"), args);
        if (!p.waitForFinished(20000)) {
            p.kill();
            p.waitForFinished();
            return {-1, {}, {}};
        }
        return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
    }

private slots:
    void drivenByNodalisctl_data()
    {
        QTest::addColumn<bool>("bySignal");
        QTest::newRow("stopped by command E") << false;
        // A service manager's stop is the server's own stop.
        QTest::newRow("stopped by SIGTERM") << true;
    }

    void drivenByNodalisctl()
    {
        QFETCH(bool, bySignal);
        const QString base = m_tmp.filePath(QString::fromLatin1(QTest::currentDataTag()));
        QDir().mkpath(base);
        QFile ini(base + QStringLiteral("/Nodalis.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[NODALIS]\r\nPortListen=0\r\nDncAppMode=0\r\n[DNC]\r\nRefMO=M1\r\n");
        ini.close();

        // No server yet: unreachable.
        QCOMPARE(ctl({QStringLiteral("--port"), QStringLiteral("1"), QStringLiteral("ping")}).code,
                 2);

        QProcess server;
        server.start(bin("nodalis"),
                     {QStringLiteral("--headless"), QStringLiteral("--base"), base});
        QVERIFY(server.waitForStarted());
        QByteArray out;
        while (!out.contains("serving from") && server.state() == QProcess::Running) {
            server.waitForReadyRead(200);
            out += server.readAllStandardOutput();
        }
        QVERIFY(out.contains("serving from"));

        const QStringList at = {QStringLiteral("--base"), base};
        const Result ping = ctl(at + QStringList{QStringLiteral("ping")});
        QCOMPARE(ping.code, 0);
        QVERIFY(ping.out.startsWith("pong from "));

        QProcess watch;
        watch.start(bin("nodalisctl"),
                    at + QStringList{QStringLiteral("--raw"), QStringLiteral("watch")});
        QVERIFY(watch.waitForStarted());
        // The watcher's own CONNECT is answered before we go on.
        QByteArray watched;
        while (!watched.contains("Lancement du Port DNC") && watch.waitForReadyRead(5000))
            watched += watch.readAllStandardOutput();
        QVERIFY(watched.contains("Lancement du Port DNC"));

        const Result connect =
            ctl(at + QStringList{QStringLiteral("send"), QStringLiteral("CONNECT")});
        QCOMPARE(connect.code, 0);
        QCOMPARE(connect.out, QByteArray("state     idle (0)\nprogram   \nprogress  0%\n"
                                         "status    Lancement du Port DNC\n"));

        const Result ready = ctl(
            at + QStringList{QStringLiteral("--raw"), QStringLiteral("send"), QStringLiteral("R")});
        QCOMPARE(ready.out, QByteArray("Info:{c}|\n"));

        if (bySignal) {
            server.terminate();
        } else {
            const Result stop = ctl(at + QStringList{QStringLiteral("stop")});
            QCOMPARE(stop.code, 0);
            QVERIFY(stop.out.contains("status    Arret du Port DNC"));
        }
        QVERIFY(server.waitForFinished(10000));
        QCOMPARE(server.exitStatus(), QProcess::NormalExit);
        QCOMPARE(server.exitCode(), 0);

        // The watcher saw everything as it came, and ends with the link.
        QVERIFY(watch.waitForFinished(10000));
        watched += watch.readAllStandardOutput();
        QVERIFY(watched.contains("Info:{i}|Arg:Lancement du Port DNC<>|\n"));
        QVERIFY(watched.contains("Info:{i}|Arg:Arret du Port DNC<>|\n"));

        QCOMPARE(ctl(at + QStringList{QStringLiteral("--timeout"), QStringLiteral("1"),
                                      QStringLiteral("ping")})
                     .code,
                 2);

        QFile log(base + QStringLiteral("/LogFiles/Journal (") +
                  QDate::currentDate().toString(QStringLiteral("dd-MM-yy")) +
                  QStringLiteral(").txt"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray lines = log.readAll();
        QVERIFY(lines.contains("---Code901---Lancement du Port DNC\r\n"));
        // The stop is the journal's last word.
        QCOMPARE(lines.mid(lines.lastIndexOf("---Code")),
                 QByteArray("---Code902---Arret du Port DNC\r\n"));
    }

    void badCommandLines_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no command") << QStringList{QStringLiteral("--port"), QStringLiteral("5")};
        QTest::newRow("unknown command")
            << QStringList{QStringLiteral("--port"), QStringLiteral("5"), QStringLiteral("dance")};
        QTest::newRow("send without keyword")
            << QStringList{QStringLiteral("--port"), QStringLiteral("5"), QStringLiteral("send")};
        QTest::newRow("no server named") << QStringList{QStringLiteral("ping")};
        QTest::newRow("base without port") << QStringList{
            QStringLiteral("--base"), QStringLiteral("/nonexistent"), QStringLiteral("ping")};
    }

    void badCommandLines()
    {
        QFETCH(QStringList, args);
        const Result r = ctl(args);
        QCOMPARE(r.code, 64);
        QVERIFY(r.err.startsWith("nodalisctl: "));
    }
};

QTEST_GUILESS_MAIN(TestControlProcess)
#include "tst_control_process.moc"
