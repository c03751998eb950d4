// Call resolution without a line: what a frame is, how a call text splits,
// and how the programs of a call are assembled.

#include "dnc/CallResolution.h"
#include "dnc/LineFiles.h"
#include "dnc/ProgramSender.h"

#include "support/ProcessHelpers.h"
#include "support/SimulatedLine.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace nodalis;
using namespace nodalis::test;

namespace {

const QByteArray kO1 = "%\r\nO0001 (PLAQUE)\r\nN10 G0 X0\r\nN20 G1 X5\r\nN30 M30\r\n%\r\n";
const QByteArray kO2 = "%\r\nO0002 (AXE)\r\nN10 T1\r\nN20 M30\r\n%\r\n";

} // namespace

class TestCallResolution : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    SimulatedLine m_line;
    std::unique_ptr<ProgramSender> m_sender;
    std::unique_ptr<CallResolution> m_calls;

    QString file(const QString& name, const QByteArray& text)
    {
        const QString path = m_dir.filePath(name);
        writeFile(path, text);
        return path;
    }

private slots:
    void init()
    {
        QVERIFY(m_line.open(m_dir.path()));
        Settings& s = Config();
        s.CallSyntax = "(APPEL$$$$)";
        s.CarDebProg = "O";
        s.BlocDeb = "%";
        s.BlocFin = "%";
        s.Port.IsMultiAppel = true;
        s.Port.SepCarMultiAppel = ",";
        s.Port.CarSepAppel = "#";
        m_sender = std::make_unique<ProgramSender>(*m_line.engine);
        m_calls = std::make_unique<CallResolution>(*m_line.engine, *m_sender);
    }

    void cleanup()
    {
        m_calls.reset();
        m_sender.reset();
        m_line.close();
    }

    void frames_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("callText");
        QTest::addColumn<bool>("multiLine");
        QTest::newRow("too short") << QByteArray("(A)\r") << 0 << QByteArray() << false;
        QTest::newRow("call, blanks and case")
            << QByteArray(" ( appel  O 12 ) \r\n") << 1 << QByteArray("O12") << false;
        QTest::newRow("suffix missing: not a call")
            << QByteArray("(APPEL O12\r\nG0 X1\r\n") << 3 << QByteArray() << false;
        QTest::newRow("two call lines")
            << QByteArray("%\r\n(APPEL O1)\r\nG0\r\n(APPEL O2)\r\n%\r\n") << 1
            << QByteArray("O1,O2") << true;
        QTest::newRow("program") << QByteArray("%\r\nO0001\r\nG0 X1\r\nM30\r\n%\r\n") << 3
                                 << QByteArray() << false;
        QTest::newRow("over 400 bytes is an upload")
            << QByteArray("(APPEL O1)\r\n" + QByteArray(400, 'G') + "\r\n") << 3 << QByteArray()
            << false;
    }

    void frames()
    {
        QFETCH(QByteArray, frame);
        QFETCH(int, kind);
        QFETCH(QByteArray, callText);
        QFETCH(bool, multiLine);
        QByteArray text;
        bool multi = false;
        QCOMPARE(int(m_calls->ExamineFrame(file(QStringLiteral("frame.txt"), frame), text, multi)),
                 kind);
        QCOMPARE(text, callText);
        QCOMPARE(multi, multiLine);
    }

    void callLists()
    {
        QVERIFY(m_calls->SplitCallList("O1 , O2#N20#N40"));
        const QList<CalledProgram>& calls = m_calls->Calls();
        QCOMPARE(calls.size(), 2);
        QCOMPARE(calls[0].Name, QByteArray("O1"));
        QVERIFY(!calls[0].HasRange);
        QCOMPARE(calls[1].Name, QByteArray("O2"));
        QCOMPARE(calls[1].StartText, QByteArray("N20"));
        QCOMPARE(calls[1].EndText, QByteArray("N40"));
        QVERIFY(calls[1].HasRange);
        Config().Port.IsMultiAppel = false;
        QVERIFY(!m_calls->SplitCallList("O1,O2"));
        QCOMPARE(m_calls->Calls().first().Name, QByteArray("O1,O2"));
    }

    void assembly()
    {
        const QStringList paths = {file(QStringLiteral("O1"), kO1),
                                   file(QStringLiteral("O2"), kO2)};
        const QString out = m_dir.filePath(QStringLiteral("out.txt"));

        m_calls->SplitCallList("O1#N20,O2");
        QVERIFY(m_calls->ConcatCalledPrograms(paths, out));
        QCOMPARE(readFile(out),
                 QByteArray("%\r\nO0001 (PLAQUE)\r\nN20 G1 X5\r\nN30 M30\r\nO0002 (AXE)\r\n"
                            "N10 T1\r\nN20 M30\r\n%\r\n"));

        // Call lines inside a program are replaced by the programs they name.
        const QString frame =
            file(QStringLiteral("frame.txt"),
                 "%\r\nO9000 (GAMME)\r\n (APPEL O1)\r\nG0 Z100\r\n (APPEL O2#N20)\r\nM30\r\n%\r\n");
        m_calls->SplitCallList("O1,O2#N20");
        QVERIFY(m_calls->AssembleMultiLine(paths, frame, out));
        QCOMPARE(readFile(out),
                 QByteArray("%\r\nO9000 (GAMME)\r\nO0001 (PLAQUE)\r\nN10 G0 X0\r\nN20 G1 X5\r\n"
                            "N30 M30\r\nG0 Z100\r\nN20 M30\r\nM30\r\n%\r\n"));
    }

    void callTextMergedIntoTheProgram()
    {
        Config().Port.MarqueurDebAppel = "(DEBUT)";
        Config().Port.MarqueurFinAppel = "(FIN)";
        const QString frame =
            file(QStringLiteral("frame.txt"),
                 "(DEBUT)\r\n#1=25\r\n(APPEL O1)\r\n#2=3\r\n(FIN)\r\nignored\r\n");
        QString path = file(QStringLiteral("O1"), kO1);
        m_calls->MergeCallText(path, frame);
        QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("ProgConcat.txt"));
        QCOMPARE(readFile(path),
                 QByteArray("%\r\nO0001 (PLAQUE)\r\n#1=25\r\nN10 G0 X0\r\nN20 G1 X5\r\nN30 M30\r\n"
                            "%\r\n#2=3\r\n"));
    }

    void namesStayInTheProgramFolder_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("found");
        QTest::newRow("plain") << QByteArray("O1") << true;
        QTest::newRow("in a sub-folder, any extension") << QByteArray("O2") << true;
        QTest::newRow("parent folder") << QByteArray("../secret") << false;
        QTest::newRow("root") << QByteArray("/etc/passwd") << false;
        QTest::newRow("drive") << QByteArray("C:secret") << false;
        QTest::newRow("missing") << QByteArray("O3") << false;
    }

    void namesStayInTheProgramFolder()
    {
        QFETCH(QByteArray, name);
        QFETCH(bool, found);
        Config().PathFileProgOpen = m_dir.filePath(QStringLiteral("progs")) + QLatin1Char('/');
        file(QStringLiteral("progs/O1"), kO1);
        file(QStringLiteral("progs/sub/O2.nc"), kO2);
        file(QStringLiteral("secret"), "SECRET");
        QString path;
        int error = 0;
        QCOMPARE(m_calls->FindCalledProgramFile(name, path, error), found);
        QCOMPARE(error, found ? 0 : 551);
        if (found)
            QVERIFY(path.startsWith(Config().PathFileProgOpen));
    }
};

QTEST_GUILESS_MAIN(TestCallResolution)
#include "tst_callresolution.moc"
