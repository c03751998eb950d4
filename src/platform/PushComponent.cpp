#include "platform/PushComponent.h"

#include "platform/Clock.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

namespace nodalis {

namespace {

// How long a cancelled push may take to end before it is killed.
constexpr int kEndMs = 100;

} // namespace

ProcessPushComponent::ProcessPushComponent(const QByteArray& deviceName) : m_device(deviceName) {}

ProcessPushComponent::~ProcessPushComponent()
{
    Cancel();
}

QString ProcessPushComponent::ProgramPath()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("nodalis-push"));
}

void ProcessPushComponent::initcom(const QByteArray& port, qint32 baud, qint16 flow, qint32 parity,
                                   qint16 dataBits, qint16 stopBits)
{
    m_settings = {QString::fromLatin1(port), QString::number(baud),     QString::number(flow),
                  QString::number(parity),   QString::number(dataBits), QString::number(stopBits)};
}

bool ProcessPushComponent::SendProg(const QString& path)
{
    m_error.clear();
    m_cancelled = false;
    QStringList args;
    if (!m_device.isEmpty())
        args << QStringLiteral("--device") << QString::fromLocal8Bit(m_device);
    args << m_settings << path;
    QProcess process;
    m_process = &process;
    process.start(ProgramPath(), args);
    if (!process.waitForStarted(5000)) {
        m_process = nullptr;
        m_error = ProgramPath() + QStringLiteral(" : ") + process.errorString();
        return false;
    }
    // The file is on the wire when the program ends; events run meanwhile,
    // and the process's end wakes the wait.
    while (process.state() != QProcess::NotRunning)
        WaitForEvents(-1);
    m_process = nullptr;
    if (m_cancelled) {
        m_error = QStringLiteral("envoi annulé");
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        const QByteArray said = process.readAllStandardError().trimmed();
        m_error = said.isEmpty() ? QStringLiteral("nodalis-push : code %1").arg(process.exitCode())
                                 : QString::fromLocal8Bit(said.split('\n').last());
        return false;
    }
    return true;
}

void ProcessPushComponent::Cancel()
{
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return;
    m_cancelled = true;
    m_process->terminate();
    if (!m_process->waitForFinished(kEndMs)) {
        m_process->kill();
        m_process->waitForFinished(1000);
    }
}

} // namespace nodalis
