// What start-up does with the server window in each running mode: the title,
// the pictures, showing it, and the tray icon.

#include "app/Startup.h"
#include "platform/Clock.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace nodalis;
using namespace Qt::StringLiterals;

namespace {

class StepsWindow : public StartupWindow
{
public:
    void setCaption(const QString& title) override { steps << u"title "_s + title; }
    void LoadIcones() override { steps << u"pictures"_s; }
    void showWindow() override { steps << u"show"_s; }
    void AddTrayIcon() override { steps << u"tray"_s; }

    QStringList steps;
};

} // namespace

class TestWindowStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Clock::setScale(0.01); }

    void windowStepsFollowTheMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("methode");
        QTest::addColumn<bool>("tray");
        QTest::addColumn<QStringList>("steps");
        const QString title = u"title DNC Server TOUR-12"_s;
        const QString pictures = u"pictures"_s, show = u"show"_s, tray = u"tray"_s;
        QTest::newRow("driven, tray") << 0 << 0 << true << QStringList{title, tray};
        QTest::newRow("driven, no tray") << 0 << 0 << false << QStringList{title};
        QTest::newRow("stand-alone") << 1 << 0 << false << QStringList{title, pictures, show};
        QTest::newRow("stand-alone, tray")
            << 1 << 0 << true << QStringList{title, pictures, show, tray};
        QTest::newRow("stand-alone over FTP") << 1 << 4 << false << QStringList{title};
        QTest::newRow("both, tray") << 2 << 0 << true << QStringList{title, pictures, tray};
    }

    void windowStepsFollowTheMode()
    {
        QFETCH(int, mode);
        QFETCH(int, methode);
        QFETCH(bool, tray);
        QFETCH(QStringList, steps);
        QTemporaryDir dir;
        QFile ini(dir.filePath(u"Nodalis.ini"_s));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[NODALIS]\r\nDncAppMode=" + QByteArray::number(mode) +
                  "\r\nFirstExe=0\r\nIconTray=" + (tray ? "1" : "0") +
                  "\r\n[DNC]\r\nRefMO=TOUR-12\r\nIsModeEcoute=0\r\nMethode=" +
                  QByteArray::number(methode) + "\r\n");
        ini.close();

        StepsWindow window;
        Startup startup;
        startup.setWindow(&window);
        const StartOutcome outcome = startup.Main(dir.path(), QString());
        QVERIFY(outcome.keepRunning);
        QCOMPARE(window.steps, steps);
    }
};

QTEST_MAIN(TestWindowStartup)
#include "tst_windowstartup.moc"
