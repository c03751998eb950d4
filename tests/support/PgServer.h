#pragma once

// The private PostgreSQL cluster of a test process, made by
// tests/support/pg_cluster.py in the test's temporary folder on first use.

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QString>

namespace nodalis::test {

class PgServer
{
public:
    static PgServer& instance()
    {
        static PgServer server;
        return server;
    }

    // Starts the cluster once; false with why() when it cannot run here.
    // missing() tells the packages are not installed.
    bool start()
    {
        if (m_port > 0)
            return true;
        if (!m_why.isEmpty())
            return false;
        m_folder =
            QDir::tempPath() + QStringLiteral("/pg-%1").arg(QCoreApplication::applicationPid());
        QProcess p;
        p.start(QStringLiteral("python3"),
                {QStringLiteral(PG_CLUSTER), QStringLiteral("start"), m_folder});
        p.waitForFinished(120000);
        m_port = p.exitCode() == 0 ? p.readAllStandardOutput().trimmed().toInt() : 0;
        m_missing = p.exitCode() == 77;
        if (m_port <= 0)
            m_why = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
        return m_port > 0;
    }
    bool missing() const { return m_missing; }
    const QString& why() const { return m_why; }
    int port() const { return m_port; }

    // Stop it fast and start it again, as a shop's server restarts.
    bool restart() { return run(QStringLiteral("restart")); }

    // Called by the test's cleanupTestCase.
    void stop()
    {
        if (m_port > 0)
            run(QStringLiteral("stop"));
        m_port = 0;
    }

private:
    bool run(const QString& action)
    {
        QProcess p;
        p.start(QStringLiteral("python3"), {QStringLiteral(PG_CLUSTER), action, m_folder});
        return p.waitForFinished(120000) && p.exitCode() == 0;
    }

    QString m_folder;
    QString m_why;
    int m_port = 0;
    bool m_missing = false;
};

} // namespace nodalis::test
