// Removable drives coming and going: with method 12 the drive plugged in
// becomes the channel's folder, and its removal clears it.

#include "dnc/EventMessages.h"
#include "dnc/PortState.h"
#include "server/ServerHost.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"

#include "support/ProcessReset.h"
#include "support/RecordingView.h"

#include <QTemporaryDir>
#include <QTest>

using namespace nodalis;

class TestRemovableDrives : public QObject
{
    Q_OBJECT

private slots:
    void driveFollowsThePlug_data()
    {
        QTest::addColumn<int>("methode");
        QTest::addColumn<QString>("folderWhilePlugged");
        QTest::newRow("USB method") << 12 << QStringLiteral("/media/KEY/");
        QTest::newRow("serial method ignores drives") << 0 << QString();
    }

    void driveFollowsThePlug()
    {
        QFETCH(int, methode);
        QFETCH(QString, folderWhilePlugged);
        QTemporaryDir dir;
        ResetProcessState(dir.path());
        Config().DncAppMode = 1;
        Config().Port.Methode = methode;
        RecordingView view;
        ServerHost host;
        QStringList volumes = {QStringLiteral("/media/OTHER/")};
        host.drives().setVolumeList([&volumes] { return volumes; });
        host.ApplySettings();

        volumes.append(QStringLiteral("/media/KEY/"));
        host.drives().poll();
        QCOMPARE(Channel().removableFolder, folderWhilePlugged);

        volumes.removeAll(QStringLiteral("/media/OTHER/"));
        host.drives().poll();
        QCOMPARE(Channel().removableFolder, folderWhilePlugged); // another drive left

        const int announced = int(view.icons.size());
        volumes.clear();
        host.drives().poll();
        QCOMPARE(Channel().removableFolder, QString());
        if (methode == 12)
            QCOMPARE(int(view.icons.size()), announced + 1);
    }
};

QTEST_GUILESS_MAIN(TestRemovableDrives)
#include "tst_removabledrives.moc"
