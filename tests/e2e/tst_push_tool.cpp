// nodalis-push, the push component the server runs as a child process, on
// a pseudo-terminal whose other end is the pyserial machine: whole files
// byte for byte with and without flow control, a machine that holds XOFF
// mid-file, failures told on one stderr line, and a push cancelled while
// the machine holds the line.

#include "support/ProcessHelpers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace nodalis::test;

namespace {

const char* const kMachineScript = QT_TESTCASE_SOURCEDIR "/support/serial_machine.py";

// About 1 MB of program written with LF alone, so that any translation of
// line ends on the way shows; far more than the pseudo-terminal buffers.
QByteArray bigProgram()
{
    QByteArray text = "%\nO1000\n";
    for (int i = 1; text.size() < 1000000; ++i)
        text += "N" + QByteArray::number(i) + " G1 X" + QByteArray::number(i % 997) + ".5 Y" +
                QByteArray::number(i % 331) + " F800\n";
    return text + "M30\n%\n";
}

} // namespace

class TestPushTool : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    QString m_dir;
    QProcess m_machine;

    QString path(const QString& name) const { return m_dir + QLatin1Char('/') + name; }

    // The machine answers each step with one line.
    bool answered(const QByteArray& word)
    {
        while (!m_machine.canReadLine()) {
            if (!m_machine.waitForReadyRead(10000))
                return false;
        }
        return m_machine.readLine().trimmed() == word;
    }

    // Starts the machine, then gives it a command unless empty.
    bool startMachine(const QByteArray& command = {})
    {
        m_machine.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_machine.start(u"/usr/bin/python3"_s,
                        {QLatin1String(kMachineScript), u"--link"_s, path(u"machine.tty"_s),
                         u"--out"_s, path(u"machine.out"_s), u"--buffer"_s, u"4096"_s});
        if (!answered("ready"))
            return false;
        if (command.isEmpty())
            return true;
        m_machine.write(command + "\n");
        return answered("ok");
    }

    qint64 received() const { return QFileInfo(path(u"machine.out"_s)).size(); }

    QStringList pushArgs(int flow, const QString& file) const
    {
        return u"--device|%1|COM1|9600|%2|0|8|1|%3"_s.arg(path(u"machine.tty"_s))
            .arg(flow)
            .arg(file)
            .split(u'|');
    }

private slots:
    void init()
    {
        m_dir = m_tmp.filePath(QString::fromLatin1(QTest::currentTestFunction()) +
                               QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'_'));
        QDir().mkpath(m_dir);
    }

    void cleanup()
    {
        m_machine.kill();
        m_machine.waitForFinished();
    }

    // With a flow mode that honours XOFF, a machine holding the line mid-file
    // keeps the push waiting until it lets go; nothing is lost either way.
    void pushesTheWholeFile_data()
    {
        QTest::addColumn<int>("flow");
        QTest::addColumn<int>("holdSeconds");
        QTest::newRow("no flow control") << 0 << 0;
        QTest::newRow("XON/XOFF, held") << 1 << 2;
        QTest::newRow("RTS/CTS and XON/XOFF, held") << 3 << 2;
    }

    void pushesTheWholeFile()
    {
        QFETCH(int, flow);
        QFETCH(int, holdSeconds);
        const QByteArray program = bigProgram();
        QVERIFY(writeFile(path(u"O1000.nc"_s), program));
        QVERIFY(startMachine(holdSeconds ? "holdat 200000 " + QByteArray::number(holdSeconds)
                                         : QByteArray()));

        QProcess push;
        QElapsedTimer t;
        t.start();
        push.start(bin("nodalis-push"), pushArgs(flow, path(u"O1000.nc"_s)));
        QVERIFY(push.waitForFinished(60000));
        const qint64 elapsed = t.elapsed();
        QCOMPARE(push.exitStatus(), QProcess::NormalExit);
        QVERIFY2(push.exitCode() == 0, push.readAllStandardError().constData());
        QVERIFY2(elapsed >= holdSeconds * 1000, QByteArray::number(elapsed).constData());

        QTRY_COMPARE_WITH_TIMEOUT(received(), qint64(program.size()), 10000);
        QVERIFY(readFile(path(u"machine.out"_s)) == program);
    }

    // A failure is one line on stderr and the exit status that names its
    // kind; an unreadable file fails before the line is looked at.
    void failsWithOneLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        const QString missing = u"/nonexistent/ttyNODALIS"_s;
        const QString file = QCoreApplication::applicationFilePath(); // any readable file
        const QStringList line{u"COM1"_s, u"9600"_s, u"1"_s, u"2"_s, u"7"_s, u"1"_s};
        QTest::newRow("missing device")
            << QStringList{u"--device"_s, missing} + line + QStringList{file} << 4 << missing;
        QTest::newRow("unreadable file")
            << QStringList{u"--device"_s, missing} + line + QStringList{u"/nonexistent/O1.nc"_s}
            << 3 << u"/nonexistent/O1.nc"_s;
        QTest::newRow("argument missing") << line << 2 << u"argument"_s;
        QTest::newRow("unknown flow mode")
            << QStringList{u"COM1"_s, u"9600"_s, u"7"_s, u"2"_s, u"7"_s, u"1"_s, file} << 2
            << u"flow"_s;
        QTest::newRow("not a COM port")
            << QStringList{u"ttyS0"_s, u"9600"_s, u"1"_s, u"2"_s, u"7"_s, u"1"_s, file} << 2
            << u"ttyS0"_s;
    }

    void failsWithOneLine()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, says);
        const Run run = runToEnd(bin("nodalis-push"), args);
        QCOMPARE(run.code, code);
        QVERIFY2(run.err.startsWith("nodalis-push: ") && run.err.count('\n') == 1 &&
                     run.err.endsWith('\n') && QString::fromLocal8Bit(run.err).contains(says),
                 run.err.constData());
    }

    // The line stays the held push's own: a second push on it is refused as
    // busy. Cancelling (SIGTERM, as the server does) ends the push at once.
    void heldPushKeepsTheLineAndDiesOnTerminate()
    {
        QVERIFY(writeFile(path(u"O1000.nc"_s), bigProgram()));
        QVERIFY(startMachine("holdat 1000 60"));
        QProcess push;
        push.start(bin("nodalis-push"), pushArgs(1, path(u"O1000.nc"_s)));
        QTRY_VERIFY_WITH_TIMEOUT(received() >= 1000, 10000);
        QTest::qWait(300);
        QCOMPARE(push.state(), QProcess::Running);

        const Run second = runToEnd(bin("nodalis-push"), pushArgs(1, path(u"O1000.nc"_s)));
        QCOMPARE(second.code, 4);
        QVERIFY2(second.err.startsWith("nodalis-push: ") && second.err.contains("busy"),
                 second.err.constData());

        QElapsedTimer t;
        t.start();
        push.terminate();
        QVERIFY(push.waitForFinished(5000));
        QVERIFY2(t.elapsed() < 1000, QByteArray::number(t.elapsed()).constData());
        QVERIFY(received() < QFileInfo(path(u"O1000.nc"_s)).size());
    }
};

QTEST_GUILESS_MAIN(TestPushTool)
#include "tst_push_tool.moc"
