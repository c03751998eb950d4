// --check-config's judgement of a file: the exact line each fault prints,
// whether it fails the check, and that what loads stays as the loader makes it.

#include "startup/ConfigCheck.h"
#include "startup/ConfigLoader.h"
#include "startup/SettingsDump.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace nodalis;

class TestConfigCheck : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_count = 0;

    QString iniFile(const QByteArray& content)
    {
        const QString folder = m_dir.filePath(QString::number(++m_count));
        QDir().mkpath(folder);
        QFile f(folder + QStringLiteral("/Nodalis.ini"));
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            qFatal("cannot write test file");
        return f.fileName();
    }

private slots:
    void check_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("exitStatus");
        QTest::addColumn<QList<QByteArray>>("loaded"); // lines of the dump that matter

        QByteArray noise(4096, '\0');
        QRandomGenerator random(7);
        for (char& c : noise)
            c = char(random.bounded(256));
        const QString noSection =
            QStringLiteral("Nodalis.ini: no [section] header, nothing is read");
        QTest::newRow("random bytes")
            << noise
            << QStringList{QStringLiteral("Nodalis.ini: not a text file (477 control characters)")}
            << 1 << QList<QByteArray>{};
        QTest::newRow("keys without a section")
            << QByteArray("PortListen=2000\r\n") << QStringList{noSection} << 1
            << QList<QByteArray>{};

        QTest::newRow("speed not a number")
            << QByteArray("[COMM]\r\nNumPort=1\r\nBauds=fast\r\n")
            << QStringList{QStringLiteral("Nodalis.ini:3: [COMM] Bauds: \"fast\" is not a number")}
            << 1 << QList<QByteArray>{"COMM.Bauds=\"fast\""};
        QTest::newRow("port out of range")
            << QByteArray("[NODALIS]\r\nPortListen=99999\r\n")
            << QStringList{QStringLiteral(
                   "Nodalis.ini:2: [NODALIS] PortListen: \"99999\" is outside 0..65535")}
            << 1 << QList<QByteArray>{"NODALIS.PortListen=\"99999\""};
        QTest::newRow("mode not a number, then outside its set")
            << QByteArray("[NODALIS]\nDncAppMode=abc\n[CALL_COMM]\nCallMethode=13\n")
            << QStringList{QStringLiteral(
                               "Nodalis.ini:2: [NODALIS] DncAppMode: \"abc\" is not a number"),
                           QStringLiteral(
                               "Nodalis.ini:4: [CALL_COMM] CallMethode: \"13\" is not one of "
                               "0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 14, 15, 16, 17, 18, 19, "
                               "20, 21")}
            << 1 << QList<QByteArray>{"NODALIS.DncAppMode=\"0\""};
        QTest::newRow("serial line values, in file order")
            << QByteArray(
                   "[COMM]\nCtrlFlux=7\nDataBit=12\nParite=e\nStopBit=1.5\nBaudsEnvoi=14400\n"
                   "EOB=13,300\nNumPort=40000\nIsModePassant=true\n")
            << QStringList{QStringLiteral("Nodalis.ini:2: [COMM] CtrlFlux: \"7\" is outside 0..6"),
                           QStringLiteral(
                               "Nodalis.ini:3: [COMM] DataBit: \"12\" is not one of 5, 6, 7, 8"),
                           QStringLiteral(
                               "Nodalis.ini:4: [COMM] Parite: \"e\" is not one of N, E, O, M, S"),
                           QStringLiteral(
                               "Nodalis.ini:6: [COMM] BaudsEnvoi: \"14400\" is not one of 50, "
                               "75, 110, 134, 150, 300, 600, 1200, 1800, 2400, 4800, 7200, "
                               "9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600"),
                           QStringLiteral("Nodalis.ini:7: [COMM] EOB: \"13,300\" is not a list of "
                                          "character codes 0..255"),
                           QStringLiteral(
                               "Nodalis.ini:8: [COMM] NumPort: \"40000\" is outside 0..16383"),
                           QStringLiteral(
                               "Nodalis.ini:9: [COMM] IsModePassant: \"true\" is not 0 or 1")}
            << 1 << QList<QByteArray>{"COMM.EOB=\"\"", "COMM.NumPort=\"0\""};
        QTest::newRow("numbers as the loader reads them")
            << QByteArray(
                   "[DNC]\nDataAccess=yes\n[COMM]\nTimeOut=12 s\nTimeOutEnvoi=1e12\n[TEMPO]\n"
                   "TempoBloc=-1\n")
            << QStringList{QStringLiteral(
                               "Nodalis.ini:2: [DNC] DataAccess: \"yes\" is not a number"),
                           QStringLiteral(
                               "Nodalis.ini:4: [COMM] TimeOut: \"12 s\" is not a number"),
                           QStringLiteral("Nodalis.ini:5: [COMM] TimeOutEnvoi: \"1e12\" is "
                                          "outside 0..2147483647"),
                           QStringLiteral("Nodalis.ini:7: [TEMPO] TempoBloc: \"-1\" is below 0")}
            << 1
            << QList<QByteArray>{"DNC.DataAccess=\"0\"", "COMM.TimeOut=\"12\"",
                                 "COMM.TimeOutEnvoi=\"0\""};
        QTest::newRow("wild list count")
            << QByteArray("[RECORDFIELDS]\nNbBDFields=2000000000\n")
            << QStringList{QStringLiteral("Nodalis.ini:2: [RECORDFIELDS] NbBDFields: "
                                          "\"2000000000\" is outside 0..1000")}
            << 1 << QList<QByteArray>{"RECORDFIELDS.NbBDFields=\"1000\""};
        QTest::newRow("UTF-8 mark before the first section")
            << QByteArray("\xEF\xBB\xBF[NODALIS]\r\nPortListen=99999\r\n")
            << QStringList{QStringLiteral(
                   "Nodalis.ini:2: [NODALIS] PortListen: \"99999\" is outside 0..65535")}
            << 1 << QList<QByteArray>{};

        QTest::newRow("typos and strays are warnings")
            << QByteArray("[COMM]\nBaud=9600\nBauds=9600\nBauds=19200\n[DNC]\nBauds=1\n[COM]\nX=1\n"
                          "[RECORDFIELDS]\nNbBDFields=1\nRefChamp1=A\nRefChmp1=B\nRefChamp2=C\n")
            << QStringList{QStringLiteral("Nodalis.ini:2: [COMM] Baud: warning: unknown key (did "
                                          "you mean Bauds?)"),
                           QStringLiteral("Nodalis.ini:4: [COMM] Bauds: warning: repeated key, not "
                                          "read (line 3 is)"),
                           QStringLiteral("Nodalis.ini:6: [DNC] Bauds: warning: unknown key (a key "
                                          "of [COMM])"),
                           QStringLiteral("Nodalis.ini:7: [COM]: warning: unknown section (did you "
                                          "mean COMM?)"),
                           QStringLiteral(
                               "Nodalis.ini:12: [RECORDFIELDS] RefChmp1: warning: unknown key "
                               "(did you mean RefChamp1?)"),
                           QStringLiteral(
                               "Nodalis.ini:13: [RECORDFIELDS] RefChamp2: warning: not read, "
                               "NbBDFields is 1")}
            << 0 << QList<QByteArray>{"COMM.Bauds=\"9600\""};
        QTest::newRow("missing folder is a warning")
            << QByteArray("[DNC]\nPathArchive=/nodalis-none/archive\n")
            << QStringList{QStringLiteral("Nodalis.ini:2: [DNC] PathArchive: warning: folder "
                                          "\"/nodalis-none/archive\" does not exist")}
            << 0 << QList<QByteArray>{};
        QTest::newRow("what the server reads elsewhere or writes is known")
            << QByteArray("[NODALIS]\nPortListen=2000.6\nDncAppMode=2\nPID=42\nSocket=4100\n"
                          "[Tempo]\nTimeOutSend=600\n[CANAUX]\nCanal1=A\n=B\n[COMM]\nBauds=\n"
                          "Parite=E\nStopBit=1.5\n")
            << QStringList{} << 0 << QList<QByteArray>{"NODALIS.PortListen=\"2001\""};
    }

    void check()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QStringList, lines);
        QFETCH(int, exitStatus);
        QFETCH(QList<QByteArray>, loaded);
        const QString path = iniFile(ini);
        Settings s;
        QVERIFY(ReadConfiguration(path, s).loaded);
        QStringList printed;
        bool failed = false;
        for (const ConfigFinding& f : CheckConfiguration(path, s)) {
            printed.append(f.text);
            failed = failed || f.error;
        }
        QCOMPARE(printed, lines);
        QCOMPARE(failed ? 1 : 0, exitStatus);
        const QList<QByteArray> dump = DumpSettings(s).split('\n');
        for (const QByteArray& line : loaded)
            QVERIFY2(dump.contains(line), line.constData());
    }
};

QTEST_GUILESS_MAIN(TestConfigCheck)
#include "tst_configcheck.moc"
