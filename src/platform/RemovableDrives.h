#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>

namespace nodalis {

// Arrival and removal of removable drives (a USB key plugged in or pulled
// out), seen as mounted volumes coming and going: drive roots on Windows,
// mounts under /media, /run/media and /mnt elsewhere; and the sub-folders of
// the folder NODALIS_VOLUMES names, when set.
class RemovableDrives : public QObject
{
    Q_OBJECT

public:
    using VolumeList = std::function<QStringList()>;

    explicit RemovableDrives(QObject* parent = nullptr);

    // Looks at the volumes every interval (server time) while started.
    void start(int intervalMs = 1000);
    void stop() { m_timer.stop(); }
    // Where the list of volumes comes from (tests give their own).
    void setVolumeList(VolumeList list);
    // One look now.
    void poll();

    static QStringList MountedRemovableVolumes();

signals:
    void arrived(const QString& root);
    void removed(const QString& root);

private:
    QTimer m_timer;
    VolumeList m_list;
    QStringList m_known;
};

} // namespace nodalis
