// A headless server on a pseudo-terminal whose other end is a machine
// written with pyserial: it cuts at a fixed byte rate from a 256-byte
// buffer and paces the server with XOFF/XON, which the server's kernel
// honours. Drip feeds held for long, a line that goes away mid-send, a
// server killed mid-upload, uploads that mention tracking words, and
// programs written with LF alone.

#include "support/ProcessHelpers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <QScopeGuard>

#include <csignal>
#include <unistd.h>

using namespace nodalis::test;

namespace {

const char* const kMachineScript = QT_TESTCASE_SOURCEDIR "/support/serial_machine.py";

// A program as a CAM system on Linux writes it: LF alone, `lines` blocks.
QByteArray camProgram(int lines, const QByteArray& number)
{
    QByteArray text = "%\n" + number + " (PLAQUE SUPPORT - EBAUCHE)\nG21 G90 G94 G17\nT1 M6\n";
    for (int i = 1; i <= lines; ++i) {
        text += "N" + QByteArray::number(i * 10) + " G1 X" + QByteArray::number(i % 400) + ".25 Y" +
                QByteArray::number((i * 7) % 300) + ".5 F" + QByteArray::number(800 + i % 7) + "\n";
    }
    return text + "M30\n%\n";
}

QByteArray withCrLf(QByteArray text)
{
    return text.replace("\n", "\r\n");
}

} // namespace

class TestSerialMachineProcess : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    QString m_base;
    QProcess m_machine;
    QProcess m_server;

    QString path(const char* name) const { return m_base + QLatin1Char('/') + QLatin1String(name); }

    QByteArray log() const { return journalOf(m_base); }

    // Gives the machine a command and waits for its "ok".
    bool command(const QByteArray& line)
    {
        m_machine.write(line + "\n");
        return answered("ok");
    }

    bool answered(const QByteArray& word, int ms = 60000)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            if (!m_machine.canReadLine() && !m_machine.waitForReadyRead(100))
                continue;
            while (m_machine.canReadLine()) {
                if (m_machine.readLine().trimmed() == word)
                    return true;
            }
        }
        return false;
    }

    bool startMachine(int rate)
    {
        m_machine.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_machine.start(u"/usr/bin/python3"_s,
                        {QLatin1String(kMachineScript), u"--link"_s, path("machine.tty"),
                         u"--out"_s, path("machine.out"), u"--rate"_s, QString::number(rate)});
        return answered("ready", 10000);
    }

    bool startServer(const QByteArray& settings)
    {
        writeFile(path("Nodalis.ini"),
                  "[NODALIS]\r\nPortListen=0\r\nDncAppMode=2\r\n[DNC]\r\nRefMO=FR2\r\nMethode=0\r\n"
                  "IsModeEcoute=1\r\nUseRPC=1\r\nCallSyntax=(APPEL $$$$)\r\nPathFileProgOpen=" +
                      m_base.toLocal8Bit() +
                      "/Programmes\r\n[COMM]\r\nPortName=" + path("machine.tty").toLocal8Bit() +
                      "\r\nBauds=9600\r\nDataBit=8\r\nParite=N\r\nStopBit=1\r\nTimeOut=1\r\n"
                      "EOB=13,10\r\n[OPTION_DNC]\r\nCarSepAppel=#\r\n[OPTION_T]\r\nBOT=18\r\n"
                      "EOT=20\r\n[SYNTAXE_MO]\r\nCarDebProg=O\r\nBlocDeb=%\r\nBlocFin=%\r\n" +
                      settings);
        // Serving once it listens on the line.
        const qsizetype cycles = log().count("---Code105---");
        m_server.start(bin("nodalis"), {u"--headless"_s, u"--base"_s, m_base});
        return m_server.waitForStarted() &&
               waitFor([&] { return log().count("---Code105---") > cycles; });
    }

    // The machine calls a program and waits until what it received ends
    // with EOT, or the line is given up.
    QByteArray call(const QByteArray& name)
    {
        writeFile(path("call.txt"), "(APPEL " + name + ")\r\n");
        command("send " + path("call.txt").toLocal8Bit() + " 64 0");
        waitFor(
            [&] {
                return readFile(path("machine.out")).endsWith("\x14\r\n") ||
                       log().contains("---Code907---");
            },
            60000);
        return readFile(path("machine.out"));
    }

private slots:
    void init()
    {
        m_base = m_tmp.filePath(QString::fromLatin1(QTest::currentTestFunction()) +
                                QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'_'));
        QDir().mkpath(m_base);
    }

    void cleanup()
    {
        if (m_server.state() != QProcess::NotRunning) {
            m_server.kill();
            m_server.waitForFinished(5000);
        }
        if (m_machine.state() != QProcess::NotRunning) {
            m_machine.write("quit\n");
            if (!m_machine.waitForFinished(3000)) {
                m_machine.kill();
                m_machine.waitForFinished(3000);
            }
        }
    }

    // A machine that holds XOFF longer than TimeOutEnvoi while it cuts gets
    // the whole program once it sends XON; its XOFF/XON never come back
    // as noise, with XON/XOFF alone or alongside RTS/CTS.
    void dripFeedHeldLongerThanTheSendTimeOut_data()
    {
        QTest::addColumn<int>("flow");
        QTest::newRow("XON/XOFF") << 1;
        QTest::newRow("RTS/CTS and XON/XOFF") << 3;
    }

    void dripFeedHeldLongerThanTheSendTimeOut()
    {
        QFETCH(int, flow);
        const QByteArray program = camProgram(1200, "O1000");
        writeFile(path("Programmes/O1000"), program);
        QVERIFY(startMachine(20000));
        QVERIFY(startServer("[OPTION_DNC]\r\nCtrlFlux=" + QByteArray::number(flow) +
                            "\r\nCtrlFluxSend=" + QByteArray::number(flow) +
                            "\r\nTimeOutEnvoi=2\r\n"));
        QVERIFY(command("holdat 8000 4"));
        const QByteArray got = call("O1000");
        QCOMPARE(got.size(), program.size() + program.count('\n') + 6);
        QVERIFY(got == "\x12\r\n" + withCrLf(program) + "\x14\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(log().contains("---Code903---"), 10000);
        QTest::qWait(2500); // a listening cycle or two after the send
        const QByteArray events = log();
        QVERIFY2(!events.contains("---Code109---") && !events.contains("---Code907---") &&
                     !events.contains("---Code704---"),
                 events.constData());
    }

    // The line goes away mid-send: a failure, never "Envoi terminé".
    void lineGoneMidSend()
    {
        writeFile(path("Programmes/O1000"), camProgram(3000, "O1000"));
        QVERIFY(startMachine(20000));
        QVERIFY(startServer("[OPTION_DNC]\r\nCtrlFluxSend=1\r\n"));
        QVERIFY(command("closeat 20000"));
        writeFile(path("call.txt"), "(APPEL O1000)\r\n");
        m_machine.write("send " + path("call.txt").toLocal8Bit() + " 64 0\n");
        QVERIFY(m_machine.waitForFinished(60000));
        QTRY_VERIFY_WITH_TIMEOUT(log().contains("---Code907---"), 15000);
        QTest::qWait(1000);
        QVERIFY2(!log().contains("---Code903---"), log().constData());
    }

    // Killed mid-upload: the lines that came are on the disk, and the next
    // run keeps them under a dated name instead of overwriting them.
    void killedMidUpload()
    {
        const QByteArray program = camProgram(400, "O2000");
        writeFile(path("upload.txt"), program);
        QVERIFY(startMachine(0));
        QVERIFY(startServer({}));
        m_machine.write("send " + path("upload.txt").toLocal8Bit() + " 32 5\n");
        const QString reception = path("Receiv/FromCN.txt");
        QTRY_VERIFY_WITH_TIMEOUT(readFile(reception).count('\n') >= 201, 30000);
        ::kill(pid_t(m_server.processId()), SIGKILL);
        QVERIFY(m_server.waitForFinished(5000));
        const QByteArray kept = readFile(reception);
        QVERIFY(kept.count('\n') >= 201);
        QVERIFY(withCrLf(program).startsWith(kept));

        QVERIFY(startServer({}));
        const QStringList dated = QDir(path("Receiv")).entryList({QStringLiteral("FromCN_(*")});
        QCOMPARE(dated.size(), 1);
        QCOMPARE(readFile(path("Receiv/") + dated[0]), kept);
        QVERIFY(log().contains("---Code713---"));
    }

    // A reception folder on a disk that fills up: one clear event, no
    // noise, what fitted is kept, and serving resumes once there is room.
    void fullDisk()
    {
        const QString receiv = path("Receiv");
        QDir().mkpath(receiv);
        if (::geteuid() != 0 ||
            QProcess::execute(QStringLiteral("mount"),
                              {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                               QStringLiteral("size=16k"), QStringLiteral("tmpfs"), receiv}) != 0)
            QSKIP("no small disk to fill (needs root); the failing sink covers it");
        const auto unmount = qScopeGuard([&] {
            cleanup();
            QProcess::execute(QStringLiteral("umount"), {receiv});
        });
        writeFile(path("upload.txt"), camProgram(2000, "O5000"));
        writeFile(path("small.txt"), camProgram(20, "O5001"));
        QVERIFY(startMachine(0));
        QVERIFY(startServer({}));
        QVERIFY(command("send " + path("upload.txt").toLocal8Bit() + " 512 2"));
        QTRY_VERIFY_WITH_TIMEOUT(log().contains("No space left on device"), 20000);
        QTest::qWait(3000);
        QCOMPARE(log().count("No space left on device"), 1);
        QVERIFY2(!log().contains("---Code704---"), log().constData());
        // The operator makes room: the cut reception, kept aside, goes.
        for (const QString& name : QDir(receiv).entryList({QStringLiteral("FromCN*")}, QDir::Files))
            QFile::remove(receiv + QLatin1Char('/') + name);
        QVERIFY(command("send " + path("small.txt").toLocal8Bit() + " 256 2"));
        QTRY_VERIFY_WITH_TIMEOUT(log().contains("---Code703---"), 20000);
    }

    // A program that mentions tracking words, its lines ended by LF alone,
    // is an upload, stored whole.
    void uploadWithTrackingWords()
    {
        QByteArray suivi = camProgram(600, "O3000");
        suivi.replace("T1 M6\n", "T1 M6\n(SUIVI DU CONTOUR - PASSE DE FINITION)\n");
        writeFile(path("upload.txt"), suivi);
        QVERIFY(startMachine(0));
        QVERIFY(startServer({}));
        QVERIFY(command("send " + path("upload.txt").toLocal8Bit() + " 256 2"));
        QTRY_VERIFY_WITH_TIMEOUT(log().contains("---Code703---"), 20000);
        const QStringList stored = QDir(path("Receiv")).entryList({QStringLiteral("FromCN_(*")});
        QCOMPARE(stored.size(), 1);
        QCOMPARE(readFile(path("Receiv/") + stored[0]), withCrLf(suivi));
        QVERIFY(!QDir(path("Suivi")).exists() || QDir(path("Suivi")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSerialMachineProcess)
#include "tst_serial_machine_process.moc"
