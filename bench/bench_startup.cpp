// Process start to ready, headless: from launching nodalis on a base folder
// holding the demo configuration to its "serving" line.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString nodalis = QCoreApplication::applicationDirPath() + QStringLiteral("/nodalis");
    QTemporaryDir dir;
    QFile::copy(QStringLiteral(NODALIS_DEMO_INI), dir.filePath(QStringLiteral("Nodalis.ini")));
    QFile(dir.filePath(QStringLiteral("Nodalis.ini")))
        .setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("xdg")));

    const int runs = 20;
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        p.setProcessEnvironment(env);
        QElapsedTimer t;
        t.start();
        p.start(nodalis, {QStringLiteral("--headless"), QStringLiteral("--base"), dir.path()});
        QByteArray out;
        while (!out.contains("serving from") && p.state() != QProcess::NotRunning) {
            p.waitForReadyRead(1000);
            out += p.readAllStandardOutput();
        }
        if (!out.contains("serving from")) {
            std::fprintf(stderr, "nodalis did not start: %s\n",
                         p.readAllStandardError().constData());
            return 1;
        }
        times.push_back(double(t.nsecsElapsed()) / 1e6);
        ::kill(pid_t(p.processId()), SIGTERM);
        p.waitForFinished(5000);
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "process start to ready (headless), %d runs: median %.1f ms   p95 %.1f ms   max %.1f ms\n",
        runs, times[times.size() / 2], times[times.size() * 95 / 100], times.back());
    return 0;
}
