// Call resolution: what a frame is, how a call text splits, how the programs
// of a call are assembled, and the MAZAK FUSION table watch that turns a call
// written into the machine's program table into a served call.

#include "dnc/CallResolution.h"
#include "dnc/LineFiles.h"
#include "dnc/MazakWatch.h"
#include "dnc/MethodTable.h"
#include "dnc/ProgramSender.h"

#include "support/ProcessHelpers.h"
#include "support/SimulatedLine.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

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
        QTest::addColumn<bool>("concat"); // ConcatProgAppel: no maximum size
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("callText");
        QTest::addColumn<bool>("multiLine");
        const QByteArray suivi = "%\r\nO0001\r\n(SUIVI DU CONTOUR - PASSE DE FINITION)\r\n";
        QTest::newRow("too short") << QByteArray("(A)\r") << false << 0 << QByteArray() << false;
        QTest::newRow("call, blanks and case")
            << QByteArray(" ( appel  O 12 ) \r\n") << false << 1 << QByteArray("O12") << false;
        QTest::newRow("suffix missing: not a call")
            << QByteArray("(APPEL O12\r\nG0 X1\r\n") << false << 3 << QByteArray() << false;
        for (const auto& [eol, name] : kLineEnds) {
            QTest::addRow("two call lines, %s", name)
                << withLineEnd("%\r\n(APPEL O1)\r\nG0\r\n(APPEL O2)\r\n%\r\n", eol) << false << 1
                << QByteArray("O1,O2") << true;
        }
        QTest::newRow("program") << QByteArray("%\r\nO0001\r\nG0 X1\r\nM30\r\n%\r\n") << false << 3
                                 << QByteArray() << false;
        QTest::newRow("400 bytes with SUIVI: tracking")
            << sized(suivi, 400) << false << 4 << QByteArray() << false;
        QTest::newRow("over 400 bytes with SUIVI: an upload")
            << sized(suivi, 401) << false << 3 << QByteArray() << false;
        QTest::newRow("over 400 bytes: a call with ConcatProgAppel")
            << sized("(APPEL O1)\r\n", 401) << true << 1 << QByteArray("O1") << false;
        QTest::newRow("a call and a tracking line: tracking")
            << QByteArray("(APPEL O1)\r\nSUIVI-INFO1-\r\n") << false << 4 << QByteArray("O1")
            << false;
    }

    void frames()
    {
        QFETCH(QByteArray, frame);
        QFETCH(bool, concat);
        QFETCH(int, kind);
        QFETCH(QByteArray, callText);
        QFETCH(bool, multiLine);
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

    void assembly_data()
    {
        QTest::addColumn<QByteArray>("eol"); // of the programs and the frame
        QTest::addColumn<QByteArray>("callText");
        QTest::addColumn<QByteArray>("frame"); // call lines to replace; none: concatenation
        QTest::addColumn<QByteArray>("carDebProg");
        QTest::addColumn<QByteArray>("sent");
        for (const auto& [eol, name] : kLineEnds) {
            // Every line of the programs but their start and end blocks, after
            // the first program's number line.
            QTest::addRow("concatenation, %s", name)
                << eol << QByteArray("O1,O2") << QByteArray() << QByteArray("O")
                << QByteArray("%\r\nO0001 (PLAQUE)\r\n(DOSSIER ORVA)\r\nO0001 (PLAQUE)\r\n\r\n"
                              "N10 G0 X0 (OUTIL O1)\r\nN20 G1 X5\r\nN30 M30\r\nO0002 (AXE)\r\n"
                              "N10 T1\r\nN20 M30\r\n%\r\n");
            QTest::addRow("ranges, %s", name)
                << eol << QByteArray("O1#N20#N30,O2#N10") << QByteArray() << QByteArray("O")
                << QByteArray("%\r\nO0001 (PLAQUE)\r\nN20 G1 X5\r\nN30 M30\r\nN10 T1\r\n"
                              "N20 M30\r\n%\r\n");
            QTest::addRow("call lines in a program, %s", name)
                << eol << QByteArray("O1#N20#N30,O2")
                << QByteArray("%\r\nO9000 (GAMME)\r\n (APPEL O1#N20#N30)\r\nG0 Z100\r\n"
                              " (APPEL O2)\r\nM30\r\n%\r\n")
                << QByteArray("O")
                << QByteArray("%\r\nO9000 (GAMME)\r\nN20 G1 X5\r\nN30 M30\r\nG0 Z100\r\n"
                              "O0002 (AXE)\r\nN10 T1\r\nN20 M30\r\nM30\r\n%\r\n");
        }
        QTest::newRow("concatenation without program-start character")
            << QByteArray("\r\n") << QByteArray("O1,O2") << QByteArray() << QByteArray()
            << QByteArray("%\r\n(DOSSIER ORVA)\r\nO0001 (PLAQUE)\r\n\r\nN10 G0 X0 (OUTIL O1)\r\n"
                          "N20 G1 X5\r\nN30 M30\r\nO0002 (AXE)\r\nN10 T1\r\nN20 M30\r\n%\r\n");
    }

    void assembly()
    {
        QFETCH(QByteArray, eol);
        QFETCH(QByteArray, callText);
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, carDebProg);
        QFETCH(QByteArray, sent);
        Config().CarDebProg = carDebProg;
        const QStringList paths = {file(u"O1"_s, withLineEnd(kP1, eol)),
                                   file(u"O2"_s, withLineEnd(kP2, eol))};
        const QString out = m_dir.filePath(u"out.txt"_s);
        m_calls->SplitCallList(callText);
        if (frame.isEmpty())
            QVERIFY(m_calls->ConcatCalledPrograms(paths, out));
        else
            QVERIFY(m_calls->AssembleMultiLine(paths, file(u"frame.txt"_s, withLineEnd(frame, eol)),
                                               out));
        QCOMPARE(readFile(out), sent);
    }

    void callTextMergedIntoTheProgram_data()
    {
        QTest::addColumn<QByteArray>("eol");
        for (const auto& [eol, name] : kLineEnds)
            QTest::newRow(name) << eol;
    }

    void callTextMergedIntoTheProgram()
    {
        QFETCH(QByteArray, eol);
        Config().Port.MarqueurDebAppel = "(DEBUT)";
        Config().Port.MarqueurFinAppel = "(FIN)";
        const QString frame = file(
            u"frame.txt"_s,
            withLineEnd("(DEBUT)\r\n#1=25\r\n(APPEL O1)\r\n#2=3\r\n(FIN)\r\nignored\r\n", eol));
        QString path = file(u"O1"_s, withLineEnd(kO1, eol));
        m_calls->MergeCallText(path, frame);
        QCOMPARE(QFileInfo(path).fileName(), u"ProgConcat.txt"_s);
        QCOMPARE(readFile(path),
                 QByteArray("%\r\nO0001 (PLAQUE)\r\n#1=25\r\nN10 G0 X0\r\nN20 G1 X5\r\nN30 M30\r\n"
                            "%\r\n#2=3\r\n"));
    }

    // Method 14: each called program is its own file, named after
    // DefautFileName; a store that cannot be read answers with the error
    // program rather than an empty message.
    void programsSentOneByOne_data()
    {
        QTest::addColumn<QByteArray>("defaultName");
        QTest::addColumn<QByteArray>("fileExt");
        QTest::addColumn<int>("dataAccess");
        QTest::addColumn<QList<QByteArray>>("sent"); // remote name | send file
        QTest::addColumn<QByteArray>("logged");
        QTest::newRow("default name split around the program's")
            << QByteArray("PIECE.NC") << QByteArray("H") << 0
            << QList<QByteArray>{"PIECE_O1.NC|" + kO1, "PIECE_O2.NC|" + kO2} << QByteArray();
        QTest::newRow("no default name: FileExt")
            << QByteArray() << QByteArray("H") << 0
            << QList<QByteArray>{"O1.H|" + kO1, "O2.H|" + kO2} << QByteArray();
        QTest::newRow("store unreadable")
            << QByteArray("PIECE.NC") << QByteArray() << 1
            << QList<QByteArray>{"PIECE.NC|(PROGRAMME O1 INTROUVABLE EN BD)\r\n"}
            << QByteArray("---Code509---");
    }

    void programsSentOneByOne()
    {
        QFETCH(QByteArray, defaultName);
        QFETCH(QByteArray, fileExt);
        QFETCH(int, dataAccess);
        QFETCH(QList<QByteArray>, sent);
        QFETCH(QByteArray, logged);
        Settings& s = Config();
        s.UseRPC = true;
        s.Port.Methode = 14;
        s.DataAccess = qint16(dataAccess);
        s.PathData = m_dir.filePath(u"nodata"_s) + QLatin1Char('/');
        s.DefautFileName = defaultName;
        s.FileExt = fileExt;
        s.PathFileProgOpen = m_dir.filePath(u"progs"_s) + QLatin1Char('/');
        s.PathMacroError = m_dir.filePath(u"erreur.txt"_s).toLocal8Bit();
        file(u"erreur.txt"_s, "($MSGERROR$)\r\n");
        file(u"progs/O1"_s, kO1);
        file(u"progs/O2"_s, kO2);
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
        if (!logged.isEmpty()) {
            const QByteArray log = readFile(EventLogPath());
            const qsizetype at = log.indexOf(logged);
            QVERIFY2(at >= 0 && log.indexOf("illisible", at) > at, log.constData());
        }
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
        Config().PathFileProgOpen = m_dir.filePath(u"progs"_s) + QLatin1Char('/');
        file(u"progs/O1"_s, kO1);
        file(u"progs/sub/O2.nc"_s, kO2);
        file(u"secret"_s, "SECRET");
        QString path;
        int error = 0;
        QCOMPARE(m_calls->FindCalledProgramFile(name, path, error), found);
        QCOMPARE(error, found ? 0 : 551);
        if (found)
            QVERIFY(path.startsWith(Config().PathFileProgOpen));
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
        s.PathFileProgOpen = m_dir.filePath(u"progs"_s) + QLatin1Char('/');
        file(u"progs/1234"_s, "PROGRAM 1234\r\n");
        file(u"cnc/8888.MAZ"_s, "(table call)\r\n");
        QFile::remove(Paths().sendFile);
        QDir(Paths().logFolder).removeRecursively();
        MazakWatch watch(*m_line.engine, *m_calls);
        m_line.engine->StartListening();
        QVERIFY(watch.isActive());
        QCOMPARE(Channel().channelState, qint16(ChannelListening));
        QCOMPARE(Events().lastShown, 364);
        const QString index = file(u"cnc/Index.tbl"_s, table);
        watch.Tick();
        QVERIFY(readFile(EventLogPath()).contains("---Code" + QByteArray::number(event) + "---"));
        QCOMPARE(readFile(Paths().sendFile), sendFile);
        // The handled request was reset in the table.
        QVERIFY(!readFile(index).contains("8888.MAZ\t1234"));
    }
};

QTEST_GUILESS_MAIN(TestCallResolution)
#include "tst_callresolution.moc"
