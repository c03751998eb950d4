// Loading Nodalis.ini: conversions, defaults and fall-backs, seen through
// the settings dump that --check-config prints; and --check-config's
// judgement of a file: the exact line each fault prints, whether it fails the
// check, and that what loads stays as the loader makes it.

#include "startup/ConfigCheck.h"
#include "startup/ConfigLoader.h"
#include "startup/SettingsDump.h"

#include "support/ScriptedPrompt.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace nodalis;
using namespace Qt::StringLiterals;

class TestConfigLoader : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_count = 0;

    // Each in a folder of its own: the findings name the file.
    QString iniFile(const QByteArray& content)
    {
        const QString folder = m_dir.filePath(QString::number(++m_count));
        QDir().mkpath(folder);
        QFile f(folder + u"/Nodalis.ini"_s);
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            qFatal("cannot write test file");
        return f.fileName();
    }

    static QList<QByteArray> dumpLines(const Settings& s)
    {
        QList<QByteArray> lines = DumpSettings(s).split('\n');
        lines.removeAll(QByteArray());
        return lines;
    }

private slots:
    void minimalFileLoadsDefaults()
    {
        Settings s;
        const ConfigLoadResult r =
            ReadConfiguration(iniFile("[NODALIS]\r\nPortListen=2000\r\n"), s);
        QVERIFY(r.loaded);
        QVERIFY(r.problems.isEmpty());
        const QList<QByteArray> expectedSet = {
            "NODALIS.PortListen=\"2000\"", "NODALIS.IconTray=\"true\"",
            "OPTION_T.ApercuProgLocal=\"true\"", "CANAUX.NbCanaux=\"1\"",
            "RESEAU.FtpMode=\"passive\"", "RESEAU.UncRoot=\"/mnt/unc\"",
            // Derived from an empty PathData.
            "DNC.PathDataBase=\"Talmiron.mdb\"", "DNC.PathDataJournal=\"JournalProg.mdb\"",
            QByteArray("DNC.PathProgCN=\"ProgCN") + QDir::separator().toLatin1() + "\""};
        for (const QByteArray& line : dumpLines(s)) {
            if (expectedSet.contains(line))
                continue;
            const bool neutral =
                line.endsWith("=\"\"") || line.endsWith("=\"0\"") || line.endsWith("=\"false\"");
            QVERIFY2(neutral, line.constData());
        }
        QCOMPARE(s.Canaux.size(), 1);
        QVERIFY(!s.IsCanaux);
    }

    void conversions_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QList<QByteArray>>("expected");
        const auto row = [](const char* name, const QByteArray& ini,
                            const QList<QByteArray>& expected) {
            QTest::newRow(name) << ini << expected;
        };
        row("explicit send values win",
            "[COMM]\r\nBauds=9600\r\nBaudsEnvoi=4800\r\nCtrlFlux=2\r\nCtrlFluxSend=0\r\n",
            {"COMM.BaudsEnvoi=\"4800\"", "COMM.CtrlFluxSend=\"0\""});
        row("EOB codes", "[COMM]\nEOB=13,10\n", {"COMM.EOB=\"\\r\\n\""});
        // A folder as the dump prints it on this system (backslashes escaped).
        const auto folder = [](const char* path) {
            return QDir::toNativeSeparators(QString::fromLatin1(path))
                .toLatin1()
                .replace("\\", "\\\\");
        };
        row("folder gets its separator", "[DNC]\nPathData=/data/orva  \n",
            {"DNC.PathData=\"" + folder("/data/orva/") + "\"",
             "DNC.PathDataBase=\"" + folder("/data/orva/Talmiron.mdb") + "\""});
        row("Windows folder on this system", "[DNC]\nPathData=C:\\Data\n",
            {"DNC.PathData=\"" + folder("C:/Data/") + "\"",
             "DNC.PathDataBase=\"" + folder("C:/Data/Talmiron.mdb") + "\""});
        row("raw texts keep spaces, others are trimmed",
            "[DNC]\nRefMO=  M1  \n[OPTION_DNC]\nCarSepAppel= \nSepCarMultiAppel= ; \n",
            {"DNC.RefMO=\"M1\"", "OPTION_DNC.CarSepAppel=\" \"",
             "OPTION_DNC.SepCarMultiAppel=\";\""});
        row("halves go to even",
            "[NODALIS]\nPortListen=2000.5\nDncAppMode=2.5\n[COMM]\nNumPort=3."
            "5\nTimeOut=2000.6\n",
            {"NODALIS.PortListen=\"2000\"", "NODALIS.DncAppMode=\"2\"", "COMM.NumPort=\"4\"",
             "COMM.TimeOut=\"2001\""});
        row("leading number of the text, but strict DataAccess",
            "[COMM]\nTimeOut=12 s\nNumPort=abc\n[TEMPO]\nTempoBloc=0.25sec\nTempoCar=  -3.25e2x\n"
            "[OPTION_T]\nTempoBeforeSend=.5\nTempoAfterSend=1,5\n[DNC]\nDataAccess= 1 \n",
            {"COMM.TimeOut=\"12\"", "COMM.NumPort=\"0\"", "TEMPO.TempoBloc=\"0.25\"",
             "TEMPO.TempoCar=\"-325\"", "OPTION_T.TempoBeforeSend=\"0.5\"",
             "OPTION_T.TempoAfterSend=\"1\"", "DNC.DataAccess=\"1\""});
        row("booleans are exactly 1, empty takes the default",
            "[DNC]\nIsModeEcoute=1\nUseRPC=true\nFiltreCarSpec= 1 \n[NODALIS]\nIconTray=0\n"
            "[OPTION_T]\nApercuProgLocal=\n",
            {"DNC.IsModeEcoute=\"true\"", "DNC.UseRPC=\"false\"", "DNC.FiltreCarSpec=\"true\"",
             "NODALIS.IconTray=\"false\"", "OPTION_T.ApercuProgLocal=\"true\""});
        row("comma list", "[DNC]\nListRefMOShared=M2, M3,M4\n",
            {"DNC.ListRefMOShared=\"M2,M3,M4\""});
        row("channels in file order, comments skipped, blanks dropped",
            "[CANAUX]\r\nCanal1 = A \r\n'Canal9=old\r\n=B\r\nCanal3=C\r\n",
            {"CANAUX.1=\"Canal1=A\"", "CANAUX.2=\"=B\"", "CANAUX.3=\"Canal3=C\"",
             "CANAUX.NbCanaux=\"3\"", "CANAUX.IsCanaux=\"true\""});
        row("send speed and flow fall back on reception values, on either line",
            "[CALL_COMM]\nCallMethode=7\nBauds=19200\nCtrlFlux=1\n[COMM]\nBauds=9600\nCtrlFlux=2\n",
            {"CALL_COMM.CallMethode=\"7\"", "CALL_COMM.BaudsEnvoi=\"19200\"",
             "COMM.BaudsEnvoi=\"9600\"", "COMM.CtrlFluxSend=\"2\""});
        row("escaped bytes", "[DNC]\nCallSyntax=\"a\\b\t\xE9\"\n",
            {"DNC.CallSyntax=\"a\\\\b\\t\\xE9\""});
        row("workshop activities",
            "[WORKSHOP ACTIVITY]\nNbActivity=1\nCodeActivity1=1001\nRefActivity1=Start\n"
            "CarActivity1=D\nCodeActivity2=1002\n",
            {"WORKSHOP ACTIVITY.CodeActivity1=\"1001\"", "WORKSHOP ACTIVITY.CarActivity1=\"D\""});
    }

    void conversions()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QList<QByteArray>, expected);
        Settings s;
        const ConfigLoadResult r = ReadConfiguration(iniFile(ini), s);
        QVERIFY(r.loaded);
        QVERIFY2(r.problems.isEmpty(), qPrintable(r.problems.join(QLatin1Char(';'))));
        const QList<QByteArray> lines = dumpLines(s);
        for (const QByteArray& line : expected)
            QVERIFY2(lines.contains(line), line.constData());
    }

    void recordFieldsReadExactlyTheirCount()
    {
        Settings s;
        QVERIFY(
            ReadConfiguration(iniFile("[RECORDFIELDS]\nNbBDFields=2\nRefChamp1=F1\n"
                                      "RefChamp2=F2\nIsNumProg2=1\nRefChamp3=F3\nIsInfoProg3=1\n"),
                              s)
                .loaded);
        QCOMPARE(s.RecordFields.size(), 3); // element 0 and the two fields
        QCOMPARE(s.RecordFields[1].RefChamp + s.RecordFields[2].RefChamp, QByteArray("F1F2"));
        QCOMPARE(s.NumProgFieldIndex(), 2);
        QCOMPARE(s.InfoProgFieldIndex(), 0); // field 3 is not read
    }

    // Start-up tells the operator of a missing file, and of the values it
    // cannot use (each left at its default: see checkConfig) while the rest loads.
    void operatorHearsOfLoadProblems()
    {
        ScriptedPrompt prompt;
        QVERIFY(!LoadConfiguration(m_dir.filePath(u"absent/Nodalis.ini"_s)));
        QVERIFY(LoadConfiguration(
            iniFile("[DNC]\nDataAccess=1x\n[COMM]\nNumPort=40000\nTimeOut=1e12\nEOB=13,300\n"
                    "[RECORDFIELDS]\nNbBDFields=2000000000\n[USER]\nUserName=M9\n")));
        QCOMPARE(prompt.messages().size(), 2);
        const QString message = u"Problème durant l'ouverture du fichier Nodalis.ini"_s;
        QCOMPARE(prompt.messages()[0].text, message);
        QCOMPARE(prompt.messages()[0].title, u"Erreur "_s);
        QVERIFY(prompt.messages()[1].text.startsWith(message + u'\n'));
        QCOMPARE(prompt.messages()[1].text.count(u'\n'), 5); // one line a value
        QCOMPARE(Config().UserName, QByteArray("M9"));
    }

    void checkConfig_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("findings"); // one a line
        QTest::addColumn<int>("exitStatus");
        QTest::addColumn<QList<QByteArray>>("loaded"); // lines of the dump that matter
        const auto row = [](const char* name, const QByteArray& ini, const QString& findings,
                            int exitStatus, const QList<QByteArray>& loaded = {}) {
            QTest::newRow(name) << ini << findings << exitStatus << loaded;
        };
        QByteArray noise(4096, '\0');
        QRandomGenerator random(7);
        for (char& c : noise)
            c = char(random.bounded(256));
        row("random bytes", noise, u"Nodalis.ini: not a text file (477 control characters)"_s, 1);
        row("keys without a section", "PortListen=2000\r\n",
            u"Nodalis.ini: no [section] header, nothing is read"_s, 1);
        row("speed not a number", "[COMM]\r\nNumPort=1\r\nBauds=fast\r\n",
            u"Nodalis.ini:3: [COMM] Bauds: \"fast\" is not a number"_s, 1, {"COMM.Bauds=\"fast\""});
        row("number outside its set", "[CALL_COMM]\nCallMethode=13\n",
            u"Nodalis.ini:2: [CALL_COMM] CallMethode: \"13\" is not one of 0, 1, 2, 3, 4, 5, 6, 7, "
            "8, 9, 10, 12, 14, 15, 16, 17, 18, 19, 20, 21"_s,
            1);
        row("serial line values, in file order",
            "[COMM]\nDataBit=12\nParite=e\nEOB=13,300\nNumPort=40000\nIsModePassant=true\n",
            u"Nodalis.ini:2: [COMM] DataBit: \"12\" is not one of 5, 6, 7, 8\n"
            "Nodalis.ini:3: [COMM] Parite: \"e\" is not one of N, E, O, M, S\n"
            "Nodalis.ini:4: [COMM] EOB: \"13,300\" is not a list of character codes 0..255\n"
            "Nodalis.ini:5: [COMM] NumPort: \"40000\" is outside 0..16383\n"
            "Nodalis.ini:6: [COMM] IsModePassant: \"true\" is not 0 or 1"_s,
            1, {"COMM.EOB=\"\"", "COMM.NumPort=\"0\""});
        row("numbers as the loader reads them",
            "[DNC]\nDataAccess=yes\n[COMM]\nTimeOut=12 "
            "s\nTimeOutEnvoi=1e12\n[TEMPO]\nTempoBloc=-1\n",
            u"Nodalis.ini:2: [DNC] DataAccess: \"yes\" is not a number\n"
            "Nodalis.ini:4: [COMM] TimeOut: \"12 s\" is not a number\n"
            "Nodalis.ini:5: [COMM] TimeOutEnvoi: \"1e12\" is outside 0..2147483647\n"
            "Nodalis.ini:7: [TEMPO] TempoBloc: \"-1\" is below 0"_s,
            1, {"DNC.DataAccess=\"0\"", "COMM.TimeOut=\"12\"", "COMM.TimeOutEnvoi=\"0\""});
        row("wild list count", "[RECORDFIELDS]\nNbBDFields=2000000000\n",
            u"Nodalis.ini:2: [RECORDFIELDS] NbBDFields: \"2000000000\" is outside 0..1000"_s, 1,
            {"RECORDFIELDS.NbBDFields=\"1000\""});
        row("port out of range, after a UTF-8 mark",
            "\xEF\xBB\xBF[NODALIS]\r\nPortListen=99999\r\n",
            u"Nodalis.ini:2: [NODALIS] PortListen: \"99999\" is outside 0..65535"_s, 1,
            {"NODALIS.PortListen=\"99999\""});
        row("typos and strays are warnings",
            "[COMM]\nBaud=9600\nBauds=9600\nBauds=19200\n[DNC]\nBauds=1\n[COM]\nX=1\n"
            "[RECORDFIELDS]\nNbBDFields=1\nRefChamp1=A\nRefChmp1=B\nRefChamp2=C\n",
            u"Nodalis.ini:2: [COMM] Baud: warning: unknown key (did you mean Bauds?)\n"
            "Nodalis.ini:4: [COMM] Bauds: warning: repeated key, not read (line 3 is)\n"
            "Nodalis.ini:6: [DNC] Bauds: warning: unknown key (a key of [COMM])\n"
            "Nodalis.ini:7: [COM]: warning: unknown section (did you mean COMM?)\n"
            "Nodalis.ini:12: [RECORDFIELDS] RefChmp1: warning: unknown key (did you mean "
            "RefChamp1?)\n"
            "Nodalis.ini:13: [RECORDFIELDS] RefChamp2: warning: not read, NbBDFields is 1"_s,
            0, {"COMM.Bauds=\"9600\""});
        row("missing folder is a warning", "[DNC]\nPathArchive=/nodalis-none/archive\n",
            u"Nodalis.ini:2: [DNC] PathArchive: warning: folder \"/nodalis-none/archive\" does "
            "not exist"_s,
            0);
        row("what the server reads elsewhere or writes is known",
            "[NODALIS]\nPortListen=2000.6\nDncAppMode=2\nPID=42\nSocket=4100\n[Tempo]\n"
            "TimeOutSend=600\n[CANAUX]\nCanal1=A\n=B\n[COMM]\nBauds=\nParite=E\nStopBit=1.5\n",
            QString(), 0, {"NODALIS.PortListen=\"2001\""});
    }

    void checkConfig()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, findings);
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
        QCOMPARE(printed.join(u'\n'), findings);
        QCOMPARE(failed ? 1 : 0, exitStatus);
        const QList<QByteArray> dump = DumpSettings(s).split('\n');
        for (const QByteArray& line : loaded)
            QVERIFY2(dump.contains(line), line.constData());
    }
};

QTEST_GUILESS_MAIN(TestConfigLoader)
#include "tst_configloader.moc"
