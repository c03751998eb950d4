#include "platform/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>

namespace nodalis {

SingleInstance::SingleInstance(const QString& baseFolder)
{
    QFileInfo info(baseFolder);
    QString key = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
#ifdef Q_OS_WIN
    key = key.toLower();
#endif
    const QByteArray hash =
        QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    m_lockPath = QDir::temp().filePath(QStringLiteral("nodalis-%1.lock").arg(QLatin1String(hash)));
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::acquire()
{
    m_lock = std::make_unique<QLockFile>(m_lockPath);
    // A lock left by a crashed instance is taken over by QLockFile once its
    // process is gone.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0))
        return true;
    qint64 pid = 0;
    QString host;
    QString application;
    if (m_lock->getLockInfo(&pid, &host, &application))
        m_holder = pid;
    m_lock.reset();
    return false;
}

QString SingleInstance::lockPath() const
{
    return m_lockPath;
}

} // namespace nodalis
