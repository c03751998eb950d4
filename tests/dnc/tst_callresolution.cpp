// Call resolution: what a frame is, how a call text splits, how the programs
// of a call are assembled, and the MAZAK FUSION table watch that turns a call
// written into the machine's program table into a served call.

#include "dnc/CallResolution.h"
#include "dnc/MazakWatch.h"
#include "dnc/ProgramSender.h"

#include "support/ProcessHelpers.h"
#include "support/SimulatedLine.h"

#include <QTemporaryDir>

using namespace nodalis;
using namespace nodalis::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kO1 = "%\r\nO0001 (PLAQUE)\r\nN10 G0 X0\r\nN20 G1 X5\r\nN30 M30\r\n%\r\n";
const QByteArray kO2 = "%\r\nO0002 (AXE)\r\nN10 T1\r\nN20 M30\r\n%\r\n";

// A program whose header comment holds the program-start character, with an
// empty line, and a second one whose last line has no line end.
const QByteArray kP1 = "%\r\n(DOSSIER ORVA)\r\nO0001 (PLAQUE)\r\n\r\nN10 G0 X0 (OUTIL O1)\r\n"
                       "N20 G1 X5\r\nN30 M30\r\n%\r\n";
const QByteArray kP2 = "%\r\nO0002 (AXE)\r\nN10 T1\r\nN20 M30\r\n%";

const std::pair<QByteArray, const char*> kLineEnds[] = {
    {"\r\n", "CR LF"}, {"\n", "LF"}, {"\r", "CR"}};

QByteArray withLineEnd(QByteArray text, const QByteArray& eol)
{
    return text.replace("\r\n", eol);
}

// A text brought to size bytes by a last line of G.
QByteArray sized(const QByteArray& text, qsizetype size)
{
    return text + QByteArray(size - text.size() - 2, 'G') + "\r\n";
}

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
        s.PathFileProgOpen = m_dir.filePath(u"progs"_s) + QLatin1Char('/');
        file(u"progs/O1"_s, kO1);
        file(u"progs/O2"_s, kO2);
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
        QTest::addColumn<bool>("concat"); // ConcatProgAppel: no maximum size
        const auto row = [](const QByteArray& name, const QByteArray& frame, int kind,
                            const char* callText = "", bool multi = false, bool concat = false) {
            QTest::newRow(name.constData())
                << frame << kind << QByteArray(callText) << multi << concat;
        };
        const QByteArray suivi = "%\r\nO0001\r\n(SUIVI DU CONTOUR - PASSE DE FINITION)\r\n";
        row("too short", "(A)\r", 0);
        row("call, blanks and case", " ( appel  O 12 ) \r\n", 1, "O12");
        row("suffix missing: not a call", "(APPEL O12\r\nG0 X1\r\n", 3);
        for (const auto& [eol, name] : kLineEnds)
            row("two call lines, " + QByteArray(name),
                withLineEnd("%\r\n(APPEL O1)\r\nG0\r\n(APPEL O2)\r\n%\r\n", eol), 1, "O1,O2", true);
        row("program", "%\r\nO0001\r\nG0 X1\r\nM30\r\n%\r\n", 3);
        row("400 bytes with SUIVI: tracking", sized(suivi, 400), 4);
        row("over 400 bytes with SUIVI: an upload", sized(suivi, 401), 3);
        row("over 400 bytes: a call with ConcatProgAppel", sized("(APPEL O1)\r\n", 401), 1, "O1",
            false, true);
        row("a call and a tracking line: tracking", "(APPEL O1)\r\nSUIVI-INFO1-\r\n", 4, "O1");
    }

    void frames()
    {
        QFETCH(QByteArray, frame);
        QFETCH(int, kind);
        QFETCH(QByteArray, callText);
        QFETCH(bool, multiLine);
        QFETCH(bool, concat);
        Config().Port.ConcatProgAppel = concat;
        QByteArray text;
        bool multi = false;
        QCOMPARE(int(m_calls->ExamineFrame(file(u"frame.txt"_s, frame), text, multi)), kind);
        QCOMPARE(text, callText);
        QCOMPARE(multi, multiLine);
    }

    void callLists()
    {
        QVERIFY(m_calls->SplitCallList("O1 , O2#N20#N40"));
        const QList<CalledProgram>& calls = m_calls->Calls();
        QCOMPARE(calls.size(), 2);
        QVERIFY(calls[0].Name == "O1" && !calls[0].HasRange);
        QVERIFY(calls[1].Name == "O2" && calls[1].HasRange);
        QCOMPARE(calls[1].StartText + '-' + calls[1].EndText, QByteArray("N20-N40"));
        Config().Port.IsMultiAppel = false;
        QVERIFY(!m_calls->SplitCallList("O1,O2"));
        QCOMPARE(m_calls->Calls().first().Name, QByteArray("O1,O2"));
    }

    void assembly_data()
    {
        QTest::addColumn<QByteArray>("eol"); // of the programs and the frame
        QTest::addColumn<QByteArray>("callText");
        // Call lines to replace; none: concatenation; (DEBUT): ConcatProgAppel's merge into O1.
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("carDebProg");
        const auto row = [](const QByteArray& name, const QByteArray& eol, const char* callText,
                            const QByteArray& frame, const QByteArray& sent,
                            const char* carDebProg = "O") {
            QTest::newRow(name.constData())
                << eol << QByteArray(callText) << frame << sent << QByteArray(carDebProg);
        };
        for (const auto& [eol, n] : kLineEnds) {
            const QByteArray name = ", " + QByteArray(n);
            // Every line of the programs but their start and end blocks, after
            // the first program's number line.
            row("concatenation" + name, eol, "O1,O2", {},
                "%\r\nO0001 (PLAQUE)\r\n(DOSSIER ORVA)\r\nO0001 (PLAQUE)\r\n\r\n"
                "N10 G0 X0 (OUTIL O1)\r\nN20 G1 X5\r\nN30 M30\r\nO0002 (AXE)\r\nN10 T1\r\n"
                "N20 M30\r\n%\r\n");
            row("ranges" + name, eol, "O1#N20#N30,O2#N10", {},
                "%\r\nO0001 (PLAQUE)\r\nN20 G1 X5\r\nN30 M30\r\nN10 T1\r\nN20 M30\r\n%\r\n");
            row("call lines in a program" + name, eol, "O1#N20#N30,O2",
                "%\r\nO9000 (GAMME)\r\n (APPEL O1#N20#N30)\r\nG0 Z100\r\n (APPEL O2)\r\n"
                "M30\r\n%\r\n",
                "%\r\nO9000 (GAMME)\r\nN20 G1 X5\r\nN30 M30\r\nG0 Z100\r\nO0002 (AXE)\r\nN10 T1\r\n"
                "N20 M30\r\nM30\r\n%\r\n");
            row("call text merged around the program's blocks" + name, eol, "O1",
                "(DEBUT)\r\n#1=25\r\n(APPEL O1)\r\n#2=3\r\n(FIN)\r\nignored\r\n",
                "%\r\nO0001 (PLAQUE)\r\n#1=25\r\nN10 G0 X0\r\nN20 G1 X5\r\nN30 M30\r\n"
                "%\r\n#2=3\r\n");
        }
        row("concatenation without program-start character", "\r\n", "O1,O2", {},
            "%\r\n(DOSSIER ORVA)\r\nO0001 (PLAQUE)\r\n\r\nN10 G0 X0 (OUTIL O1)\r\nN20 G1 X5\r\n"
            "N30 M30\r\nO0002 (AXE)\r\nN10 T1\r\nN20 M30\r\n%\r\n",
            "");
    }

    void assembly()
    {
        QFETCH(QByteArray, eol);
        QFETCH(QByteArray, callText);
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, carDebProg);
        Config().CarDebProg = carDebProg;
        Config().Port.MarqueurDebAppel = "(DEBUT)";
        Config().Port.MarqueurFinAppel = "(FIN)";
        const bool merge = frame.startsWith("(DEBUT)");
        const QStringList paths = {file(u"O1"_s, withLineEnd(merge ? kO1 : kP1, eol)),
                                   file(u"O2"_s, withLineEnd(kP2, eol))};
        const QString framePath = file(u"frame.txt"_s, withLineEnd(frame, eol));
        QString out = m_dir.filePath(u"out.txt"_s);
        m_calls->SplitCallList(callText);
        if (frame.isEmpty())
            QVERIFY(m_calls->ConcatCalledPrograms(paths, out));
        else if (merge)
            m_calls->MergeCallText(out = paths.first(), framePath);
        else
            QVERIFY(m_calls->AssembleMultiLine(paths, framePath, out));
        QCOMPARE(readFile(out), sent);
    }

    // Method 14: each called program is its own file, named after
    // DefautFileName; a store that cannot be read answers with the error
    // program rather than an empty message.
    void programsSentOneByOne_data()
    {
        QTest::addColumn<QByteArray>("defaultName");
        QTest::addColumn<QByteArray>("fileExt");
        QTest::addColumn<bool>("unreadableStore");
        QTest::addColumn<QList<QByteArray>>("sent"); // remote name | send file
        QTest::newRow("default name split around the program's")
            << QByteArray("PIECE.NC") << QByteArray("H") << false
            << QList<QByteArray>{"PIECE_O1.NC|" + kO1, "PIECE_O2.NC|" + kO2};
        QTest::newRow("no default name: FileExt")
            << QByteArray() << QByteArray("H") << false
            << QList<QByteArray>{"O1.H|" + kO1, "O2.H|" + kO2};
        QTest::newRow("store unreadable")
            << QByteArray("PIECE.NC") << QByteArray() << true
            << QList<QByteArray>{"PIECE.NC|(PROGRAMME O1 INTROUVABLE EN BD)\r\n"};
    }

    void programsSentOneByOne()
    {
        QFETCH(QByteArray, defaultName);
        QFETCH(QByteArray, fileExt);
        QFETCH(bool, unreadableStore);
        QFETCH(QList<QByteArray>, sent);
        Settings& s = Config();
        s.UseRPC = true;
        s.Port.Methode = 14;
        s.DataAccess = unreadableStore ? 1 : 0;
        s.PathData = m_dir.filePath(u"nodata"_s) + QLatin1Char('/');
        s.DefautFileName = defaultName;
        s.FileExt = fileExt;
        s.PathMacroError = file(u"erreur.txt"_s, "($MSGERROR$)\r\n").toLocal8Bit();
        QList<QByteArray> copies;
        PortMethod network;
        network.send = [&copies] {
            copies.append(Config().DefautFileName + '|' + readFile(Paths().sendFile));
            return true;
        };
        m_line.engine->methods().plug({14}, network);
        writeFile(Paths().receptionFile, "(APPEL O1,O2)\r\n");
        m_calls->ExamineReceivedData();
        QCOMPARE(copies, sent);
        QCOMPARE(Config().DefautFileName, defaultName);
        // 509 names the program, then says why the store could not be read.
        const QByteArray log = readFile(EventLogPath());
        const qsizetype at = log.indexOf("---Code509---");
        QVERIFY2((at >= 0 && log.indexOf("illisible", at) > at) == unreadableStore,
                 log.constData());
    }

    void namesStayInTheProgramFolder_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("found");
        QTest::newRow("in a sub-folder, any extension") << QByteArray("O3") << true;
        QTest::newRow("parent folder") << QByteArray("../secret") << false;
        QTest::newRow("root") << QByteArray("/etc/passwd") << false;
        QTest::newRow("drive") << QByteArray("C:secret") << false;
        QTest::newRow("missing") << QByteArray("O4") << false;
    }

    void namesStayInTheProgramFolder()
    {
        QFETCH(QByteArray, name);
        QFETCH(bool, found);
        file(u"progs/sub/O3.nc"_s, kO2);
        file(u"secret"_s, "SECRET");
        QString path;
        int error = 0;
        QCOMPARE(m_calls->FindCalledProgramFile(name, path, error), found);
        QCOMPARE(error, found ? 0 : 551);
        QCOMPARE(path.startsWith(Config().PathFileProgOpen), found);
    }

    // A request for a file that is not there is 365.
    void mazakTableRequests_data()
    {
        QTest::addColumn<QByteArray>("table");
        QTest::addColumn<int>("event");
        QTest::addColumn<QByteArray>("sendFile");
        QTest::newRow("call") << QByteArray("8888.MAZ\t1234\r\n8889.MAZ\t0\r\n") << 503
                              << QByteArray("PROGRAM 1234\r\n");
        QTest::newRow("offered file missing")
            << QByteArray("8888.MAZ\t0\r\n8889.MAZ\t77\r\n") << 365 << QByteArray();
    }

    void mazakTableRequests()
    {
        QFETCH(QByteArray, table);
        QFETCH(int, event);
        QFETCH(QByteArray, sendFile);
        Settings& s = Config();
        s.Port.Methode = 6;
        s.Port.Specificite = "mazak fusion";
        s.UseRPC = true;
        s.DefaultDirHostReceiv = m_dir.filePath(u"cnc"_s).toLocal8Bit();
        file(u"progs/1234"_s, "PROGRAM 1234\r\n");
        file(u"cnc/8888.MAZ"_s, "(table call)\r\n");
        QFile::remove(Paths().sendFile);
        QDir(Paths().logFolder).removeRecursively();
        MazakWatch watch(*m_line.engine, *m_calls);
        m_line.engine->StartListening();
        QVERIFY(watch.isActive());
        QCOMPARE(Events().lastShown, 364);
        file(u"cnc/Index.tbl"_s, table);
        watch.Tick();
        QVERIFY(readFile(EventLogPath()).contains("---Code" + QByteArray::number(event) + "---"));
        QCOMPARE(readFile(Paths().sendFile), sendFile);
    }
};

QTEST_GUILESS_MAIN(TestCallResolution)
#include "tst_callresolution.moc"
