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
using namespace Qt::StringLiterals;

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

        const auto row = [](const char* name, int code, const char* p0, const char* p1,
                            bool progIndice, const QString& expected) {
            QTest::newRow(name) << code << QByteArray(p0) << QByteArray(p1) << progIndice
                                << expected;
        };
        row("P0 quoted", 250, "O1234", "", false, u"Envoi du programme \"O1234\""_s);
        row("P0 and P1", 256, "A.NC", "B.NC", false, u"Fichier \"A.NC\" renommé en \"B.NC\""_s);
        row("unknown library error", 219, "-9", "sio_open", false,
            u"Erreur inconnue : -9 (sio_open)"_s);
        row("machine name", 102, "", "", false,
            u"ENVOI d'un programme en mode RS232 sur la CNC TOUR-3"_s);
        row("machine name and index", 102, "", "", true,
            u"ENVOI d'un programme en mode RS232 sur la CNC TOUR-3 : B"_s);
        row("IP-serial address", 385, "", "", false,
            u"Connexion du Port DNC au serveur IP Serial 10.1.2.3 du socket 4001"_s);
        row("P0 alone", 999, "N9000 reprise", "", false, u"N9000 reprise"_s);
        row("P0 holding a marker is not expanded", 909, "%P1%", "x", false,
            u"Erreur pendant l'ouverture du fichier %P1%"_s);
        row("unlisted code", 123, "x", "", false, QString());
        row("empty code of a range", 119, "", "", false, QString());
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
                 u"Journal (05-03-24).txt"_s);
        QCOMPARE(QFileInfo(EventLogPath()).absolutePath(),
                 QFileInfo(m_dir.filePath(u"LogFiles"_s)).absoluteFilePath());
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
