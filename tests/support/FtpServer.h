#pragma once

// A machine's FTP server for a test: tests/support/ftp_server.py (pyftpdlib)
// on 127.0.0.1, user cnc / password cnc, serving a home folder, with the
// faults its options ask for. Stopped when destroyed.

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <csignal>

namespace nodalis::test {

class FtpServer
{
public:
    FtpServer() = default;
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;
    ~FtpServer()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // No python3 with pyftpdlib was found when the build was configured.
    static bool available() { return !QByteArray(FTP_PYTHON).isEmpty(); }

    // Starts the server on home; false with why() when it does not listen.
    bool start(const QString& home, const QStringList& options = {})
    {
        m_process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        m_process.start(QStringLiteral(FTP_PYTHON),
                        QStringList{QStringLiteral(FTP_SERVER), QStringLiteral("-d"), home} +
                            options);
        const QByteArray banner = ">>> starting FTP server on 127.0.0.1:";
        QByteArray said;
        QElapsedTimer t;
        t.start();
        while (!said.contains('\n') && m_process.state() != QProcess::NotRunning &&
               t.elapsed() < 15000) {
            m_process.waitForReadyRead(200);
            said += m_process.readAllStandardError();
        }
        const qsizetype at = said.indexOf(banner);
        m_port = at < 0 ? 0 : said.mid(at + banner.size()).split(' ').first().toInt();
        m_why = QString::fromLocal8Bit(said);
        return m_port > 0;
    }

    // The server stops answering, as a machine switched off.
    void freeze() { ::kill(pid_t(m_process.processId()), SIGSTOP); }

    // Logins so far (each one is a new connection).
    int logins()
    {
        m_process.waitForReadyRead(100);
        m_said += m_process.readAllStandardError();
        return int(m_said.count("login cnc\n"));
    }

    int port() const { return m_port; }
    const QString& why() const { return m_why; }

private:
    QProcess m_process;
    int m_port = 0;
    QString m_why;
    QByteArray m_said;
};

} // namespace nodalis::test
