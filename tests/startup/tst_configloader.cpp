// Loading Nodalis.ini: conversions, defaults and fall-backs, seen through
// the settings dump that --check-config prints.

#include "startup/ConfigLoader.h"
#include "startup/SettingsDump.h"

#include "support/ScriptedPrompt.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace nodalis;

class TestConfigLoader : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_count = 0;

    QString iniFile(const QByteArray& content)
    {
        const QString path = m_dir.filePath(QStringLiteral("n%1.ini").arg(++m_count));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            qFatal("cannot write test file");
        f.write(content);
        return path;
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

        QTest::newRow("speed and flow fall back on reception values")
            << QByteArray("[COMM]\r\nBauds=9600\r\nCtrlFlux=2\r\n")
            << QList<QByteArray>{"COMM.BaudsEnvoi=\"9600\"", "COMM.CtrlFluxSend=\"2\""};
        QTest::newRow("explicit send values win")
            << QByteArray(
                   "[COMM]\r\nBauds=9600\r\nBaudsEnvoi=4800\r\nCtrlFlux=2\r\nCtrlFluxSend=0\r\n")
            << QList<QByteArray>{"COMM.BaudsEnvoi=\"4800\"", "COMM.CtrlFluxSend=\"0\""};
        QTest::newRow("EOB CR LF")
            << QByteArray("[COMM]\nEOB=13,10\n") << QList<QByteArray>{"COMM.EOB=\"\\r\\n\""};
        QTest::newRow("EOB LF") << QByteArray("[COMM]\nEOB=10\n")
                                << QList<QByteArray>{"COMM.EOB=\"\\n\""};
        QTest::newRow("EOB empty")
            << QByteArray("[COMM]\nEOB=\n") << QList<QByteArray>{"COMM.EOB=\"\""};
        // A folder as the dump prints it on this system (backslashes escaped).
        const auto folder = [](const char* path) {
            return QDir::toNativeSeparators(QString::fromLatin1(path))
                .toLatin1()
                .replace("\\", "\\\\");
        };
        QTest::newRow("folder gets its separator")
            << QByteArray("[DNC]\nPathData=/data/orva  \n")
            << QList<QByteArray>{"DNC.PathData=\"" + folder("/data/orva/") + "\"",
                                 "DNC.PathDataBase=\"" + folder("/data/orva/Talmiron.mdb") + "\""};
        QTest::newRow("Windows folder on this system")
            << QByteArray("[DNC]\nPathData=C:\\Data\n")
            << QList<QByteArray>{"DNC.PathData=\"" + folder("C:/Data/") + "\"",
                                 "DNC.PathDataBase=\"" + folder("C:/Data/Talmiron.mdb") + "\""};
        QTest::newRow("raw texts keep spaces, others are trimmed")
            << QByteArray(
                   "[DNC]\nRefMO=  M1  \n[OPTION_DNC]\nCarSepAppel= \nSepCarMultiAppel= ; \n")
            << QList<QByteArray>{"DNC.RefMO=\"M1\"", "OPTION_DNC.CarSepAppel=\" \"",
                                 "OPTION_DNC.SepCarMultiAppel=\";\""};
        QTest::newRow("halves go to even")
            << QByteArray("[NODALIS]\nPortListen=2000.5\nDncAppMode=2.5\n[COMM]\nNumPort=3."
                          "5\nTimeOut=2000.6\n")
            << QList<QByteArray>{"NODALIS.PortListen=\"2000\"", "NODALIS.DncAppMode=\"2\"",
                                 "COMM.NumPort=\"4\"", "COMM.TimeOut=\"2001\""};
        QTest::newRow("leading number of the text")
            << QByteArray("[COMM]\nTimeOut=12 s\nNumPort=abc\n[TEMPO]\nTempoBloc=0.25sec\n")
            << QList<QByteArray>{"COMM.TimeOut=\"12\"", "COMM.NumPort=\"0\"",
                                 "TEMPO.TempoBloc=\"0.25\""};
        QTest::newRow("booleans are exactly 1")
            << QByteArray(
                   "[DNC]\nIsModeEcoute=1\nUseRPC=true\nFiltreCarSpec= 1 \n[NODALIS]\nIconTray=0\n")
            << QList<QByteArray>{"DNC.IsModeEcoute=\"true\"", "DNC.UseRPC=\"false\"",
                                 "DNC.FiltreCarSpec=\"true\"", "NODALIS.IconTray=\"false\""};
        QTest::newRow("empty boolean takes its default")
            << QByteArray("[NODALIS]\nIconTray=\n")
            << QList<QByteArray>{"NODALIS.IconTray=\"true\""};
        QTest::newRow("strict DataAccess")
            << QByteArray("[DNC]\nDataAccess= 1 \n") << QList<QByteArray>{"DNC.DataAccess=\"1\""};
        QTest::newRow("comma list") << QByteArray("[DNC]\nListRefMOShared=M2, M3,M4\n")
                                    << QList<QByteArray>{"DNC.ListRefMOShared=\"M2,M3,M4\""};
        QTest::newRow("channels in file order, comments skipped, blanks dropped")
            << QByteArray("[CANAUX]\r\nCanal1 = A \r\n'Canal9=old\r\n=B\r\nCanal3=C\r\n")
            << QList<QByteArray>{"CANAUX.1=\"Canal1=A\"", "CANAUX.2=\"=B\"",
                                 "CANAUX.3=\"Canal3=C\"", "CANAUX.NbCanaux=\"3\"",
                                 "CANAUX.IsCanaux=\"true\""};
        QTest::newRow("call line record")
            << QByteArray(
                   "[CALL_COMM]\nCallMethode=7\nBauds=19200\nCtrlFlux=1\n[COMM]\nBauds=9600\n")
            << QList<QByteArray>{"CALL_COMM.CallMethode=\"7\"", "CALL_COMM.BaudsEnvoi=\"19200\"",
                                 "COMM.BaudsEnvoi=\"9600\""};
        QTest::newRow("serial device name") << QByteArray("[COMM]\nPortName=/dev/ttyUSB0\n")
                                            << QList<QByteArray>{"COMM.PortName=\"/dev/ttyUSB0\""};
        QTest::newRow("escaped bytes") << QByteArray("[DNC]\nCallSyntax=\"a\\b\t\xE9\"\n")
                                       << QList<QByteArray>{"DNC.CallSyntax=\"a\\\\b\\t\\xE9\""};
        QTest::newRow("workshop activities")
            << QByteArray(
                   "[WORKSHOP ACTIVITY]\nNbActivity=1\nCodeActivity1=1001\nRefActivity1=Start\n"
                   "CarActivity1=D\nCodeActivity2=1002\n")
            << QList<QByteArray>{"WORKSHOP ACTIVITY.CodeActivity1=\"1001\"",
                                 "WORKSHOP ACTIVITY.CarActivity1=\"D\""};
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
        QByteArray ini = "[RECORDFIELDS]\nNbBDFields=2\n";
        for (int i = 1; i <= 3; ++i) {
            const QByteArray n = QByteArray::number(i);
            ini += "RefChamp" + n + "=F" + n + "\nIsNumProg" + n + "=" + (i == 2 ? "1" : "0") +
                   "\nIsInfoProg" + n + "=" + (i == 3 ? "1" : "0") + "\n";
        }
        Settings s;
        QVERIFY(ReadConfiguration(iniFile(ini), s).loaded);
        QCOMPARE(s.RecordFields.size(), 3); // element 0 and the two fields
        QCOMPARE(s.RecordFields[1].RefChamp, QByteArray("F1"));
        QCOMPARE(s.RecordFields[2].RefChamp, QByteArray("F2"));
        QCOMPARE(s.NumProgFieldIndex(), 2);
        QCOMPARE(s.InfoProgFieldIndex(), 0); // field 3 is not read
        QCOMPARE(s.UniqueIdFieldIndex(), 0);
    }

    void unusableValuesLeaveTheRestLoading()
    {
        // Their fall-back values are in tst_configcheck's table.
        Settings s;
        const ConfigLoadResult r = ReadConfiguration(
            iniFile("[DNC]\nDataAccess=1x\n[COMM]\nNumPort=40000\nTimeOut=1e12\nEOB=13,300\n"
                    "[RECORDFIELDS]\nNbBDFields=2000000000\n[USER]\nUserName=M9\n"),
            s);
        QVERIFY(r.loaded);
        QCOMPARE(r.problems.size(), 5);
        QCOMPARE(s.UserName, QByteArray("M9"));
    }

    void missingFileIsReportedToTheOperator()
    {
        ScriptedPrompt prompt;
        QVERIFY(!LoadConfiguration(m_dir.filePath(QStringLiteral("absent/Nodalis.ini"))));
        QCOMPARE(prompt.messages().size(), 1);
        QCOMPARE(prompt.messages().first().text,
                 QStringLiteral("Problème durant l'ouverture du fichier Nodalis.ini"));
        QCOMPARE(prompt.messages().first().title, QStringLiteral("Erreur "));
    }
};

QTEST_GUILESS_MAIN(TestConfigLoader)
#include "tst_configloader.moc"
