#include "platform/RemovableDrives.h"

#include "platform/Clock.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

namespace nodalis {

RemovableDrives::RemovableDrives(QObject* parent)
    : QObject(parent), m_list(&MountedRemovableVolumes)
{
    connect(&m_timer, &QTimer::timeout, this, &RemovableDrives::poll);
}

void RemovableDrives::start(int intervalMs)
{
    m_known = m_list();
    m_timer.start(Clock::realMs(intervalMs));
}

void RemovableDrives::setVolumeList(VolumeList list)
{
    m_list = list ? std::move(list) : VolumeList(&MountedRemovableVolumes);
    m_known = m_list();
}

void RemovableDrives::poll()
{
    const QStringList now = m_list();
    for (const QString& root : now) {
        if (!m_known.contains(root))
            emit arrived(root);
    }
    for (const QString& root : std::as_const(m_known)) {
        if (!now.contains(root))
            emit removed(root);
    }
    m_known = now;
}

QStringList RemovableDrives::MountedRemovableVolumes()
{
    QStringList roots;
    // Volumes stood in for by folders (tests, hosts that mount keys
    // elsewhere): each sub-folder is a plugged volume.
    if (const QString stand = qEnvironmentVariable("NODALIS_VOLUMES"); !stand.isEmpty()) {
        for (const QFileInfo& folder : QDir(stand).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
            roots.append(QDir::toNativeSeparators(folder.absoluteFilePath()) + QDir::separator());
    }
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady())
            continue;
        QString root = QDir::toNativeSeparators(volume.rootPath());
#ifdef Q_OS_WIN
        // Every drive but the system's own may be a key.
        if (volume.isRoot())
            continue;
#else
        if (!root.startsWith(QLatin1String("/media/")) &&
            !root.startsWith(QLatin1String("/run/media/")) &&
            !root.startsWith(QLatin1String("/mnt/")))
            continue;
#endif
        if (!root.endsWith(QDir::separator()))
            root += QDir::separator();
        roots.append(root);
    }
    return roots;
}

} // namespace nodalis
