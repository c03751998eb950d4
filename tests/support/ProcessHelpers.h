#pragma once

#include <QByteArray>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QTest>

namespace nodalis::test {

using namespace Qt::StringLiterals;

// A program of the build (nodalis, nodalisctl...).
inline QString bin(const char* name)
{
    return qEnvironmentVariable("NODALIS_BIN_DIR") + QLatin1Char('/') + QLatin1String(name);
}

// A file's bytes; empty when it cannot be read.
inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Writes a file, with its missing folders.
inline bool writeFile(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

// Today's event log of a base folder.
inline QByteArray journalOf(const QString& base)
{
    return readFile(base + u"/LogFiles/Journal ("_s + QDate::currentDate().toString(u"dd-MM-yy"_s) +
                    u").txt"_s);
}

// Lets events run until done() holds or ms have passed; done()'s last answer.
template <class Done> bool waitFor(Done done, int ms = 15000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QTest::qWait(20);
    return done();
}

// The system's environment with every wait of the server scaled.
inline QProcessEnvironment scaledTime(double scale)
{
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(u"NODALIS_TIME_SCALE"_s, QString::number(scale));
    return e;
}

struct Run
{
    int code = -1; // -1: killed when it did not end in time
    QByteArray out;
    QByteArray err;
};

inline Run runToEnd(const QString& program, const QStringList& args,
                    const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

// nodalisctl on a base folder; its exit status.
inline int ctlOn(const QString& base, const QStringList& args)
{
    return runToEnd(bin("nodalisctl"), QStringList{u"--base"_s, base} + args).code;
}

// Starts a server on a base folder (with its windows, on the platform of
// QT_QPA_PLATFORM, unless headless); unless told not to, waits until it says
// it serves.
inline bool startServer(QProcess& p, const QString& base, bool headless,
                        const QStringList& more = {}, bool untilServing = true)
{
    p.start(bin("nodalis"), (headless ? QStringList{u"--headless"_s} : QStringList()) +
                                QStringList{u"--base"_s, base} + more);
    if (!p.waitForStarted(5000))
        return false;
    QByteArray out;
    QElapsedTimer t;
    t.start();
    while (untilServing && !out.contains("serving from") && p.state() == QProcess::Running &&
           t.elapsed() < 20000) {
        p.waitForReadyRead(200);
        out += p.readAllStandardOutput();
    }
    return !untilServing || out.contains("serving from");
}

inline bool startHeadless(QProcess& p, const QString& base, const QStringList& more = {},
                          bool untilServing = true)
{
    return startServer(p, base, true, more, untilServing);
}

} // namespace nodalis::test
