// The server window under the offscreen platform: what the engine reports
// shows up, each command button runs its operation and the engine's masks
// enable the buttons, the close box follows the running mode, and the tray
// quits.

#include "dnc/ControlProtocol.h"
#include "dnc/EventMessages.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "platform/AnsiText.h"
#include "platform/Clock.h"
#include "server/ServerHost.h"
#include "server/window/StatePictures.h"
#include "server/window/frmNodaliseur.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"
#include "store/TextUtils.h"

#include "support/ProcessHelpers.h"
#include "support/ProcessReset.h"
#include "support/ScriptedPrompt.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

using namespace nodalis;
using namespace nodalis::test;
using namespace Qt::StringLiterals;

class TestFrmNodaliseur : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ServerHost> m_host;
    std::unique_ptr<frmNodaliseur> m_window;
    int m_ended = 0;
    QStringList m_opened;

    QToolButton* button(int i) const
    {
        return m_window->findChild<QToolButton*>(u"imgCmd%1"_s.arg(i));
    }

    QByteArray enabledMask() const
    {
        QByteArray mask;
        for (int i = 0; i < 4; ++i)
            mask += button(i)->isEnabled() ? '1' : '0';
        return mask;
    }

    QString text(const char* name) const
    {
        const QString n = QString::fromLatin1(name);
        if (auto* edit = m_window->findChild<QLineEdit*>(n))
            return edit->text();
        return m_window->findChild<QLabel*>(n)->text();
    }

    bool logged(int code) const
    {
        return readFile(EventLogPath()).contains("Code" + QByteArray::number(code) + "---");
    }

private slots:
    void init()
    {
        Clock::setScale(0.01);
        m_dir = std::make_unique<QTemporaryDir>();
        ResetProcessState(m_dir->path());
        QDir().mkpath(Paths().tempFolder);
        QDir().mkpath(FolderOf(Paths().sendFile));
        Config().RefMO = "TOUR-12";
        Config().DncAppMode = 1;
        m_host = std::make_unique<ServerHost>();
        m_window = std::make_unique<frmNodaliseur>(*m_host);
        m_ended = 0;
        m_opened.clear();
        m_window->setProgramEnd([this] { ++m_ended; });
        m_window->setFileOpener([this](const QString& path) { m_opened << path; });
        SetView(m_window.get());
    }

    void cleanup()
    {
        m_window.reset();
        m_host.reset();
        m_dir.reset();
        Clock::setScale(1.0);
    }

    void statusTextFollowsSetStatus_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("shown");
        QTest::newRow("driven by the application") << 0 << false;
        QTest::newRow("both") << 2 << true;
    }

    void statusTextFollowsSetStatus()
    {
        QFETCH(int, mode);
        QFETCH(bool, shown);
        Config().DncAppMode = mode;
        SetStatus(902);
        const QString expected = fromAnsi(EventText(902));
        QVERIFY(!expected.isEmpty());
        QCOMPARE(text("TxtEtat"), shown ? expected : QString());
    }

    void gaugeAndPictureFollowNotifications_data()
    {
        QTest::addColumn<QByteArray>("tag");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("gauge");
        QTest::addColumn<QString>("percent");
        QTest::addColumn<int>("state");
        const auto row = [](const char* name, const char* tag, const char* value, int gauge,
                            const QString& percent, int state) {
            QTest::newRow(name) << QByteArray(tag) << QByteArray(value) << gauge << percent
                                << state;
        };
        row("progress", "{%}", "42", 42, u"42 %"_s, 0);
        row("cleared", "{%}", "0", 0, QString(), 0);
        row("out of range", "{%}", "250", 100, u"100 %"_s, 0);
        row("sending", "{a}", "2", 0, QString(), 2);
    }

    void gaugeAndPictureFollowNotifications()
    {
        QFETCH(QByteArray, tag);
        QFETCH(QByteArray, value);
        QFETCH(int, gauge);
        QFETCH(QString, percent);
        QFETCH(int, state);
        SendInfoMessage(BuildInfoMessage(tag, {value}), 0);
        QCOMPARE(m_window->findChild<QProgressBar*>(u"pctJauge"_s)->value(), gauge);
        QCOMPARE(text("lblPercent"), percent);
        QCOMPARE(m_window->stateShown(), state);
        const QImage shown = m_window->findChild<QLabel*>(u"imgEtat"_s)->pixmap().toImage();
        QCOMPARE(shown, DrawPicture(StatePicture(state), 48).toImage());
    }

    void statePicturesAreAllDifferent()
    {
        QList<QImage> seen;
        for (int state : {0, 1, 2, 3, 5, 6}) {
            const QImage image = DrawPicture(StatePicture(state), 32).toImage();
            QVERIFY2(!seen.contains(image), qPrintable(QString::number(state)));
            seen << image;
        }
        QCOMPARE(DrawPicture(StatePicture(9), 32).toImage(), seen.first());
    }

    void startMaskAndHideAndShowCommands()
    {
        m_window->show();
        QCOMPARE(m_window->size(), QSize(373, 281));
        QCOMPARE(enabledMask(), QByteArray("1110"));
        View().setWindowVisible(false);
        QVERIFY(!m_window->isVisible());
        View().setWindowVisible(true);
        QVERIFY(m_window->isVisible());
        QCOMPARE(m_ended, 0);
    }

    void closeBoxFollowsTheMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("ends");
        QTest::addColumn<bool>("stopsTransfer");
        QTest::newRow("driven: unloads") << 0 << true << false;
        QTest::newRow("stand-alone: stops and quits") << 1 << true << true;
        QTest::newRow("both: keeps serving") << 2 << false << false;
    }

    void closeBoxFollowsTheMode()
    {
        QFETCH(int, mode);
        QFETCH(bool, ends);
        QFETCH(bool, stopsTransfer);
        Config().DncAppMode = mode;
        Channel().channelState = ChannelReceiving;
        m_window->show();
        m_window->close();
        QCOMPARE(m_ended, ends ? 1 : 0);
        QCOMPARE(State().quitAtStart, ends);
        QCOMPARE(State().stopRequested, stopsTransfer);
        QCOMPARE(Events().lastRequested, stopsTransfer ? 902 : 0);
        if (!ends) {
            // No tray icon here: the window stays reachable in the task bar.
            QVERIFY(m_window->isVisible());
            QVERIFY(m_window->isMinimized());
        }
    }

    // The block display shows 20 characters on one line, until the stop.
    void stopButtonStopsTheTransfer()
    {
        m_window->show();
        View().setCommandButtons("0001"); // the engine's mask during a transfer
        QCOMPARE(enabledMask(), QByteArray("0001"));
        View().setBlockDisplay("%\r\nO1234 (ARBRE \xC9TAG\xC9 - PHASE 2)");
        QCOMPARE(text("txtBloc"), u"%  O1234 (ARBRE ÉTAG"_s);
        Channel().channelState = ChannelSending;
        QTest::mouseClick(button(3), Qt::LeftButton);
        QCOMPARE(text("txtBloc"), QString());
        QCOMPARE(State().stopRequested, true);
        QCOMPARE(int(Channel().channelState), int(ChannelIdle));
        QCOMPARE(Events().lastRequested, 902);
        QCOMPARE(enabledMask(), QByteArray("1110"));
        QCOMPARE(m_window->stateShown(), 0);
    }

    void listenButtonRestartsListening_data()
    {
        QTest::addColumn<bool>("modeEcoute");
        QTest::newRow("permanent listening: stop first") << true;
        QTest::newRow("on request") << false;
    }

    void listenButtonRestartsListening()
    {
        QFETCH(bool, modeEcoute);
        Config().IsModeEcoute = modeEcoute;
        m_window->show();
        QTest::mouseClick(button(2), Qt::LeftButton);
        QCOMPARE(logged(902), modeEcoute);
        // Listening ran: it reported how opening the line went.
        QVERIFY(Events().lastRequested != 0);
        QVERIFY(Events().lastRequested != 902);
    }

    void sendButtonSendsTheChosenPrograms_data()
    {
        QTest::addColumn<QStringList>("chosen");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("one file") << QStringList{u"a.nc"_s} << QByteArray("%A\r\n");
        QTest::newRow("three files in dialog order")
            << QStringList{u"c.nc"_s, u"a.nc"_s, u"b.nc"_s} << QByteArray("%C\r\n%A\r\n%B\r\n");
        QTest::newRow("the send file itself") << QStringList{u"<send>"_s} << QByteArray();
        QTest::newRow("cancelled") << QStringList() << QByteArray();
        QTest::newRow("missing file") << QStringList{u"gone.nc"_s} << QByteArray();
    }

    void sendButtonSendsTheChosenPrograms()
    {
        QFETCH(QStringList, chosen);
        QFETCH(QByteArray, sent);
        const QString folder = m_dir->path() + u"/progs/"_s;
        QDir().mkpath(folder);
        for (const char* name : {"a", "b", "c"})
            writeFile(folder + QString::fromLatin1(name) + u".nc"_s,
                      "%" + QByteArray(name).toUpper() + "\r\n");
        const QByteArray before = "%OLD\r\n";
        writeFile(Paths().sendFile, before);
        QStringList paths;
        for (const QString& c : chosen) {
            if (c == u"<send>"_s)
                paths << Paths().sendFile;
            else
                paths << folder + c;
        }
        Config().PathFileProgOpen = folder;
        ScriptedPrompt prompt;
        prompt.queueFiles(paths);
        m_window->show();
        View().setBlockDisplay("%");
        QTest::mouseClick(button(1), Qt::LeftButton);

        QCOMPARE(prompt.fileRequests().size(), 1);
        QCOMPARE(prompt.fileRequests().first().startFolder, folder);
        QVERIFY(prompt.fileRequests().first().several);
        const bool sends = !sent.isEmpty();
        QCOMPARE(readFile(Paths().sendFile), sends ? sent : before);
        // A send took over the buttons; after it the displays are cleared.
        QCOMPARE(button(3)->isEnabled(), sends);
        QCOMPARE(text("txtBloc"), sends ? QString() : u"%"_s);
        QCOMPARE(Events().lastRequested != 0, sends);
    }

    void journalOpensOnlyWhenItExists()
    {
        m_window->show();
        auto* picture = m_window->findChild<QLabel*>(u"imgEtat"_s);
        QTest::mouseClick(picture, Qt::LeftButton);
        QVERIFY(m_opened.isEmpty());
        Config().DncAppMode = 0;
        SetStatus(901);
        QVERIFY(QFile::exists(EventLogPath()));
        QTest::mouseClick(picture, Qt::LeftButton);
        QCOMPARE(m_opened, QStringList{EventLogPath()});
    }

    // The tray's Quitter and a stop of the whole server both stop the
    // transfer and end the program once; the stop shows its state.
    void quittingEndsTheProgramOnce_data()
    {
        QTest::addColumn<bool>("fromTray");
        QTest::addColumn<int>("state");
        QTest::newRow("tray's Quitter") << true << 0;
        QTest::newRow("server stopped") << false << 2;
    }

    void quittingEndsTheProgramOnce()
    {
        QFETCH(bool, fromTray);
        Config().IconTray = true;
        m_window->AddTrayIcon();
        m_window->show();
        QSystemTrayIcon* tray = m_window->trayIcon();
        QVERIFY(tray);
        QCOMPARE(tray->toolTip(), u"TOUR-12"_s);
        SendInfoMessage(BuildInfoMessage("{a}", {"3"}), 0);
        QCOMPARE(tray->icon().pixmap(32).toImage(),
                 PictureIcon(Picture::Listening).pixmap(32).toImage());
        QAction* quit = m_window->trayMenu()->actions().value(0);
        QVERIFY(quit);
        QCOMPARE(quit->text(), u"Quitter TOUR-12"_s);
        if (fromTray)
            quit->trigger();
        else
            m_window->ArretNodalis();
        QCOMPARE(m_ended, 1);
        QVERIFY(logged(902));
        QVERIFY(State().stopRequested && State().quitAtStart);
        QVERIFY(!tray->isVisible() && !m_window->isVisible());
        QTEST(m_window->stateShown(), "state");
        // The window is gone: closing again does not end the program twice.
        m_window->close();
        QCOMPARE(m_ended, 1);
    }

    // Where there is no notification area the window takes the icon's place
    // in the task bar (closing it then: closeBoxFollowsTheMode).
    void withoutATrayTheWindowStaysReachable()
    {
        if (QSystemTrayIcon::isSystemTrayAvailable())
            QSKIP("this platform has a notification area");
        Config().DncAppMode = 2;
        Config().IconTray = true;
        m_window->AddTrayIcon();
        QVERIFY(m_window->isVisible() && m_window->isMinimized());
    }

    void rendersToAPicture()
    {
        m_window->setCaption(u"DNC Server TOUR-12"_s);
        m_window->show();
        auto* status = m_window->findChild<QLabel*>(u"TxtEtat"_s);
        const QRect area(status->mapTo(m_window.get(), QPoint(0, 0)), status->size());
        const QImage blank = m_window->grab().toImage().copy(area);

        SetStatus(102);
        SendInfoMessage(BuildInfoMessage("{a}", {"2"}), 0);
        SendInfoMessage(BuildInfoMessage("{%}", {"64"}), 0);
        View().setBlockDisplay("%\r\nO1234 (ARBRE)");
        View().setCommandButtons("1001");
        const QImage shot = m_window->grab().toImage();
        QVERIFY2(shot.copy(area) != blank, "the status text is not drawn");
        // The README's screenshot is made by running this test with the variable set.
        const QString keep = qEnvironmentVariable("NODALIS_WINDOW_PNG");
        if (!keep.isEmpty())
            QVERIFY(shot.save(keep));
    }

    void backgroundComesFromSplash()
    {
        QDir().mkpath(Paths().depFolder);
        QImage splash(40, 40, QImage::Format_RGB32);
        splash.fill(QColor(0x12, 0x34, 0x56));
        QVERIFY(splash.save(Paths().depFolder + u"Splash.jpg"_s));
        m_window->LoadIcones();
        const QImage shot = m_window->grab().toImage();
        const QColor corner = shot.pixelColor(shot.width() - 2, 2);
        QVERIFY2(qAbs(corner.blue() - 0x56) < 12 && qAbs(corner.red() - 0x12) < 12,
                 qPrintable(corner.name()));
    }
};

QTEST_MAIN(TestFrmNodaliseur)
#include "tst_frmnodaliseur.moc"
