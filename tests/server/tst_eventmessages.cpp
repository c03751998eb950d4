// Event texts with their variable parts, SetStatus and the daily event log.

#include "dnc/EventMessages.h"
#include "dnc/PortState.h"
#include "platform/AnsiText.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"

#include "support/ProcessReset.h"
#include "support/RecordingView.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace nodalis;

class TestEventMessages : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    static QByteArray log()
    {
        QFile f(EventLogPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void init()
    {
        ResetProcessState(m_dir.path());
        QDir(Paths().logFolder).removeRecursively();
        Config().DncAppMode = 1; // window only: no link needed
    }

    void texts_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("p0");
        QTest::addColumn<QByteArray>("p1");
        QTest::addColumn<bool>("progIndice");
        QTest::addColumn<QString>("expected");

        QTest::newRow("903") << 903 << QByteArray() << QByteArray() << false
                             << QStringLiteral("Envoi terminé...");
        QTest::newRow("P0 quoted") << 250 << QByteArray("O1234") << QByteArray() << false
                                   << QStringLiteral("Envoi du programme \"O1234\"");
        QTest::newRow("P0 and P1") << 256 << QByteArray("A.NC") << QByteArray("B.NC") << false
                                   << QStringLiteral("Fichier \"A.NC\" renommé en \"B.NC\"");
        QTest::newRow("library error with P1")
            << 215 << QByteArray() << QByteArray("sio_ioctl") << false
            << QStringLiteral("Mauvais paramètres. (sio_ioctl)");
        QTest::newRow("unknown library error")
            << 219 << QByteArray("-9") << QByteArray("sio_open") << false
            << QStringLiteral("Erreur inconnue : -9 (sio_open)");
        QTest::newRow("machine name")
            << 102 << QByteArray() << QByteArray() << false
            << QStringLiteral("ENVOI d'un programme en mode RS232 sur la CNC TOUR-3");
        QTest::newRow("machine name and index")
            << 102 << QByteArray() << QByteArray() << true
            << QStringLiteral("ENVOI d'un programme en mode RS232 sur la CNC TOUR-3 : B");
        QTest::newRow("IP-serial address")
            << 385 << QByteArray() << QByteArray() << false
            << QStringLiteral("Connexion du Port DNC au serveur IP Serial 10.1.2.3 du socket 4001");
        QTest::newRow("P0 alone") << 999 << QByteArray("N9000 reprise") << QByteArray() << false
                                  << QStringLiteral("N9000 reprise");
        QTest::newRow("P0 holding a marker is not expanded")
            << 909 << QByteArray("%P1%") << QByteArray("x") << false
            << QStringLiteral("Erreur pendant l'ouverture du fichier %P1%");
        QTest::newRow("DSR wait")
            << 106 << QByteArray("30") << QByteArray() << false
            << QStringLiteral(
                   "Déconnexion détectée : ligne RS232 en attente de DSR... Attente : 30sec.");
        QTest::newRow("unlisted code")
            << 123 << QByteArray("x") << QByteArray() << false << QString();
        QTest::newRow("empty code of a range")
            << 119 << QByteArray() << QByteArray() << false << QString();
    }

    void texts()
    {
        QFETCH(int, code);
        QFETCH(QByteArray, p0);
        QFETCH(QByteArray, p1);
        QFETCH(bool, progIndice);
        QFETCH(QString, expected);
        Config().RefMO = "TOUR-3";
        Config().ProgIndice = progIndice;
        Config().RemoteHost = "10.1.2.3";
        Config().RemotePort = "4001";
        Channel().programIndex = "B";
        QCOMPARE(EventText(code, {p0, p1}), toAnsi(expected));
    }

    void workshopActivityCodes()
    {
        Config().Activities = {WorkshopActivity(), {1001, "Debut de serie", "D"}};
        QCOMPARE(EventText(1234), QByteArray());
        Channel().matchedActivity = 1;
        QCOMPARE(EventText(1001), QByteArray("Debut de serie"));
        // Shown and logged even with an empty text.
        Channel().matchedActivity = 0;
        RecordingView view;
        SetStatus(1234);
        QCOMPARE(view.statusTexts, QList<QString>{QString()});
        QVERIFY(log().endsWith("---Code1234---\r\n"));
    }

    void repeatShowsAgainButLogsOnce()
    {
        RecordingView view;
        SetStatus(906);
        SetStatus(906);
        QCOMPARE(view.statusTexts.size(), 1);
        SetStatus(906, {}, true);
        QCOMPARE(view.statusTexts.size(), 2);
        SetStatus(0);
        QCOMPARE(view.statusTexts.size(), 2);
        QCOMPARE(Events().lastRequested, 0);
        QCOMPARE(Events().lastShown, 906);
        SetStatus(903);
        const QList<QByteArray> lines = log().split('\n');
        QCOMPARE(lines.size(), 3); // two lines and the empty rest
        QVERIFY(lines[0].endsWith("---Code906---Le Port DNC est en \xe9"
                                  "coute...\r"));
    }

    void logLineFormatAndDailyFile()
    {
        QCOMPARE(QFileInfo(EventLogPath(QDate(2024, 3, 5))).fileName(),
                 QStringLiteral("Journal (05-03-24).txt"));
        QCOMPARE(QFileInfo(EventLogPath()).absolutePath(),
                 QFileInfo(m_dir.filePath(QStringLiteral("LogFiles"))).absoluteFilePath());
        SetStatus(903);
        const QByteArray content = log();
        static const QRegularExpression line(QStringLiteral(
            "^---\\d\\d:\\d\\d:\\d\\d---Code903---Envoi termin\u00e9\\.\\.\\.\r\n$"));
        QVERIFY2(line.match(fromAnsi(content)).hasMatch(), content.constData());
        QVERIFY(content.contains("Envoi termin\xe9...")); // single-byte code page
    }

    void unwritableLogLosesOnlyTheLine()
    {
        QFile blocker(Paths().logFolder.chopped(1));
        QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the folder should be
        blocker.close();
        RecordingView view;
        SetStatus(903);
        QCOMPARE(view.statusTexts.size(), 1);
        QFile::remove(blocker.fileName());
    }
};

QTEST_GUILESS_MAIN(TestEventMessages)
#include "tst_eventmessages.moc"
