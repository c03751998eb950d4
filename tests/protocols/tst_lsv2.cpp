// The LSV2 link and its AGIE owner: telegrams against bytes
// captured from a real control, the AGIE command table and blocks, uploads
// stored, and the link's handshakes on a pseudo-terminal.

#include "dnc/EventMessages.h"
#include "dnc/SerialLine.h"
#include "protocols/ClsAGIE.h"
#include "protocols/ClsLSV2.h"
#include "protocols/SerialBursts.h"

#include "support/ProcessHelpers.h"
#include "support/RecordingView.h"
#include "support/SimulatedLine.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace nodalis;
using nodalis::test::readFile;
using Bytes = QList<QByteArray>;

namespace {

QByteArray ctl(const char* text)
{
    // "<DLE>" style names for the control bytes, to keep the rows readable.
    QByteArray out(text);
    out.replace("<STX>", "\x02").replace("<ETX>", "\x03").replace("<EOT>", "\x04");
    out.replace("<ENQ>", "\x05").replace("<DLE>", "\x10").replace("<NAK>", "\x15");
    out.replace("<NUL>", QByteArray(1, '\0'));
    return out;
}

} // namespace

class TestLsv2 : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    SimulatedLine m_line;
    Bytes m_answers;
    Bytes m_found;
    int m_reinits = 0;
    int m_case = 0;

    void connectAgie(ClsAGIE& agie)
    {
        agie.setAnswerSink([this](const QByteArray& text) { m_answers.append(text); });
        connect(&agie, &ClsAGIE::FindThisProg, this,
                [this](const QByteArray& name) { m_found.append(name); });
        connect(&agie, &ClsAGIE::ReinitEcoute, this, [this] { ++m_reinits; });
    }

    // The port opened, and the control's side scripted: its bursts, 60 ms apart.
    bool script(const Bytes& bursts)
    {
        if (!OpenControlPort(*m_line.com, Config().Port, false))
            return false;
        for (const QByteArray& burst : bursts) {
            m_line.sim->wait(60);
            m_line.sim->send(burst);
        }
        return true;
    }

    // What the machine end received, once the line has been quiet a while.
    QByteArray settledOutput()
    {
        QByteArray seen;
        do {
            seen = m_line.sim->receivedBytes();
            QTest::qWait(150);
        } while (seen != m_line.sim->receivedBytes());
        return seen;
    }

private slots:
    void init()
    {
        QVERIFY(m_line.open(m_dir.path()));
        // A folder of its own for each case's uploads.
        Config().PathFileProgOpen = m_dir.filePath(QStringLiteral("progs%1/").arg(++m_case));
        m_answers.clear();
        m_found.clear();
        m_reinits = 0;
    }

    void cleanup() { m_line.close(); }

    void telegrams_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("telegram");
        QTest::addColumn<QByteArray>("extracted");
        // Captured from a control on its serial line.
        QTest::newRow("login") << ctl("A_LGINSPECT<NUL>")
                               << ctl("<DLE><STX>A_LGINSPECT<NUL><DLE><ETX>\x40")
                               << QByteArray("A_LGINSPECT");
        QTest::newRow("version") << QByteArray("R_VR") << ctl("<DLE><STX>R_VR<DLE><ETX>\x0a")
                                 << QByteArray("R_VR");
        // A DLE inside the text is not doubled and stays out of the check,
        // but a leading one counts: 'A' ^ ETX, then DLE ^ 'A' ^ ETX.
        QTest::newRow("DLE inside")
            << ctl("A<DLE>") << ctl("<DLE><STX>A<DLE><DLE><ETX>\x42") << ctl("A<DLE>");
        QTest::newRow("DLE leading")
            << ctl("<DLE>A") << ctl("<DLE><STX><DLE>A<DLE><ETX>\x52") << ctl("<DLE>A");
        QTest::newRow("spaces and NULs around")
            << ctl(" <NUL>R PP X <NUL> ") << ctl("<DLE><STX> <NUL>R PP X <NUL> <DLE><ETX>\x29")
            << QByteArray("R PP X");
    }

    void telegrams()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, telegram);
        QFETCH(QByteArray, extracted);
        QCOMPARE(ClsLSV2::MakeTelegram(text), telegram);
        QCOMPARE(ClsLSV2::ExtractCmd(telegram), extracted);
    }

    void agieCommands_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("reinits");
        QTest::newRow("download closed") << QByteArray("R MDDW FD") << QByteArray("R MDDW FC") << 1;
        QTest::newRow("first match wins")
            << QByteArray("R MJDW R MDDW FD") << QByteArray("R MDW OK") << 0;
        QTest::newRow("upload opened") << QByteArray("R MJUP") << QByteArray("R MUP OK") << 0;
        QTest::newRow("upload closed") << QByteArray("R MDUP FD") << QByteArray() << 1;
        QTest::newRow("next-block prompt") << QByteArray("R BM I311004") << QByteArray("T NB") << 0;
        QTest::newRow("block request before block")
            << QByteArray("T NB R PPX") << QByteArray("R PP\r\n") << 0;
        QTest::newRow("announced upload")
            << QByteArray("RDPP  TNC:\\A\\UP1.H") << QByteArray("PTPP  TNC:\\A\\UP1.H") << 0;
        QTest::newRow("unknown") << QByteArray("R XY") << QByteArray() << 0;
    }

    void agieCommands()
    {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, answer);
        QFETCH(int, reinits);
        ClsAGIE agie;
        connectAgie(agie);
        agie.Interpret(command);
        QCOMPARE(m_answers, answer.isEmpty() ? Bytes() : Bytes{answer});
        QCOMPARE(m_reinits, reinits);
    }

    void agieDownloadBlocks_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<Bytes>("blocks");
        QTest::newRow("two short lines and the empty last")
            << QByteArray("a\r\nb\r\n") << Bytes{"a\r\nb\r\n\r\n"};
        const QByteArray l40(40, 'L');
        QTest::newRow("under 100 per block, bare LF, no last line end")
            << l40 + "\n" + l40 + "\n" + l40 << Bytes{l40 + "\r\n" + l40 + "\r\n", l40 + "\r\n"};
        QTest::newRow("missing program") << QByteArray() << Bytes{"\r\n"};
        const QByteArray mega(1 << 20, 'G');
        QTest::newRow("a 1 MB line") << mega + "\r\n" << Bytes{mega + "\r\n", "\r\n"};
    }

    void agieDownloadBlocks()
    {
        QFETCH(QByteArray, file);
        QFETCH(Bytes, blocks);
        ClsAGIE agie;
        connectAgie(agie);
        agie.Interpret("TDPP  TNC:\\NC\\PART7.H");
        QCOMPARE(m_answers.value(0), QByteArray("PRPP") + "PART7");
        QCOMPARE(m_found, Bytes{"TNC:\\NC\\PART7.H"});
        if (!file.isEmpty()) {
            QVERIFY(test::writeFile(m_dir.filePath(QStringLiteral("PART7")), file));
            agie.SendProg(m_dir.filePath(QStringLiteral("PART7")));
        }
        m_answers.clear();
        agie.Interpret("R BM I311005");
        for (int i = 1; i <= blocks.size(); ++i)
            agie.Interpret("T NB");
        Bytes expected;
        for (const QByteArray& b : blocks)
            expected.append("R PP" + b);
        expected.append("T FD");
        QCOMPARE(m_answers, expected);
    }

    // Each case's upload folder does not exist yet: storing makes it. An
    // upload that cannot be stored stays in the reception file.
    void agieUpload_data()
    {
        QTest::addColumn<QByteArray>("announced");
        QTest::addColumn<QString>("stored"); // empty: a dated name; "-": none
        QTest::newRow("out of the folder, extension kept")
            << QByteArray("RDPP  TNC:\\..\\..\\UP1.H") << "UP1.H";
        QTest::newRow("slashes, drive") << QByteArray("RDPP  C:/up/../UP2") << "UP2";
        QTest::newRow("no name left") << QByteArray("RDPP  ..") << QString();
        QTest::newRow("never announced") << QByteArray() << QString();
        QTest::newRow("folder taken by a file") << QByteArray("RDPP  UP3") << "-";
    }

    void agieUpload()
    {
        QFETCH(QByteArray, announced);
        QFETCH(QString, stored);
        const QByteArray text = "%\r\nN10 G0\r\nN20 M30\r\n";
        if (stored == u'-') // nothing can be written there
            QVERIFY(test::writeFile(Config().PathFileProgOpen.chopped(1), {}));
        ClsAGIE agie;
        connectAgie(agie);
        if (!announced.isEmpty())
            agie.Interpret(announced);
        agie.Interpret("R PP%\r\nN10 G0\r\n");
        agie.Interpret("R PPN20 M30\r\n");
        agie.Interpret("T FD");
        QCOMPARE(m_reinits, 1);
        QCOMPARE(Events().lastRequested, 683);
        if (stored == u'-') {
            QVERIFY(readFile(EventLogPath()).contains("---Code713---"));
            QCOMPARE(readFile(Paths().receptionFile), text);
            // The next reception keeps it under a dated name.
            ReceptionFile next;
            QVERIFY(next.open());
            next.close();
            QCOMPARE(QDir(QFileInfo(Paths().receptionFile).absolutePath())
                         .entryList({QStringLiteral("FromCN_(*")}, QDir::Files)
                         .size(),
                     1);
            return;
        }
        const QDir folder(Config().PathFileProgOpen);
        const QStringList files = folder.entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        if (stored.isEmpty())
            QVERIFY2(files[0].startsWith(QStringLiteral("AGIE_(")), qPrintable(files[0]));
        else
            QCOMPARE(files[0], stored);
        QCOMPARE(readFile(folder.filePath(files[0])), text);
    }

    // The control's side scripted byte for byte; the link waits on the line.
    void linkReceives_data()
    {
        QTest::addColumn<Bytes>("bursts");
        QTest::addColumn<QByteArray>("answers");
        QTest::addColumn<Bytes>("commands");
        QTest::addColumn<int>("beeps");
        const QByteArray login = ctl("<DLE><STX>A_LGINSPECT<NUL><DLE><ETX>\x40");
        const QByteArray version = ctl("<DLE><STX>R_VR<DLE><ETX>\x0a");
        const QByteArray enq = ctl("<ENQ>"), eot = ctl("<EOT>"), nak = ctl("<NAK>");
        const QByteArray ready = ctl("<DLE>0"), accepted = ctl("<DLE>1");
        QTest::newRow("one transmission")
            << Bytes{enq, login, eot} << ready + accepted << Bytes{"A_LGINSPECT"} << 0;
        QTest::newRow("wrong BCC accepted") << Bytes{enq, ctl("<DLE><STX>R_VR<DLE><ETX>\x77"), eot}
                                            << ready + accepted << Bytes{"R_VR"} << 0;
        QTest::newRow("NAK gets the last answer again")
            << Bytes{enq, nak, login, nak, eot} << ready + ready + accepted + accepted
            << Bytes{"A_LGINSPECT"} << 0;
        QTest::newRow("split telegram dropped, EOT gives the last command")
            << Bytes{enq, login, eot, enq, version.left(4), version.mid(4), eot}
            << ready + accepted + ready << Bytes{"A_LGINSPECT", "A_LGINSPECT"} << 0;
        QTest::newRow("EOT and ENQ in one burst")
            << Bytes{enq, login, eot + enq, version, eot} << ready + accepted + ready + accepted
            << Bytes{"A_LGINSPECT", "R_VR"} << 0;
        QTest::newRow("ENQ glued to other bytes ignored")
            << Bytes{enq + "x", QByteArray("\x00\x13\xff\x00", 4), enq, version, eot}
            << ready + accepted << Bytes{"R_VR"} << 0;
        QTest::newRow("N276 beeps") << Bytes{enq, ctl("<DLE><STX>N276<DLE><ETX>\x7e"), eot}
                                    << ready + accepted << Bytes{"N276"} << 1;
    }

    void linkReceives()
    {
        QFETCH(Bytes, bursts);
        QFETCH(QByteArray, answers);
        QFETCH(Bytes, commands);
        QFETCH(int, beeps);
        RecordingView view;
        QVERIFY(script(bursts));
        ClsLSV2 link;
        link.Init(*m_line.com);
        Bytes received;
        connect(&link, &ClsLSV2::ReceiveCmd, this, [&](QByteArray& command) {
            received.append(command);
            if (received.size() == commands.size())
                QTimer::singleShot(100, [&link] { link.setCancel(true); });
        });
        QTimer::singleShot(10000, [&link] { link.setCancel(true); });
        link.Wait();
        QCOMPARE(received, commands);
        QCOMPARE(settledOutput(), answers);
        QCOMPARE(view.beeps, beeps);
    }

    // The server's own transmission, against scripted replies.
    void linkSends_data()
    {
        QTest::addColumn<Bytes>("replies");
        QTest::addColumn<int>("timeOutEnvoi");
        QTest::addColumn<bool>("sent");
        QTest::addColumn<int>("telegrams");
        QTest::addColumn<int>("event");
        const QByteArray ready = ctl("<DLE>0"), accepted = ctl("<DLE>1"), nak = ctl("<NAK>");
        QTest::newRow("handshake") << Bytes{ready, accepted} << 0 << true << 1 << 0;
        QTest::newRow("NAK repeats") << Bytes{ready, nak, accepted} << 0 << true << 2 << 0;
        QTest::newRow("noise is no answer")
            << Bytes{ctl("x<DLE>0"), ready, accepted} << 0 << true << 1 << 0;
        QTest::newRow("control takes the line") << Bytes{ctl("<ENQ>")} << 0 << false << 0 << 0;
        QTest::newRow("six NAKs") << Bytes{ready, nak, nak, nak, nak, nak, nak} << 0 << false << 6
                                  << 107;
        QTest::newRow("silence past TimeOutEnvoi") << Bytes{ready} << 3 << false << 1 << 109;
    }

    void linkSends()
    {
        QFETCH(Bytes, replies);
        QFETCH(int, timeOutEnvoi);
        QFETCH(bool, sent);
        QFETCH(int, telegrams);
        QFETCH(int, event);
        Config().Port.TimeOutEnvoi = timeOutEnvoi; // 50 ms a second at this scale
        QVERIFY(script(replies));
        ClsLSV2 link;
        link.Init(*m_line.com);
        Events().lastRequested = 0;
        if (!sent && event == 0)
            QTimer::singleShot(3000, [&link] { link.setCancel(true); });
        QCOMPARE(link.Send("T_OK"), sent);
        QCOMPARE(Events().lastRequested, event);
        const QByteArray out = settledOutput();
        QVERIFY(out.startsWith(ctl("<ENQ>")));
        QCOMPARE(out.count(ClsLSV2::MakeTelegram("T_OK")), telegrams);
        QCOMPARE(out.endsWith(ctl("<EOT>")), sent);
    }

    // A wait ends on Cancel, and when the line goes away.
    void waitEnds()
    {
        QVERIFY(script({}));
        ClsAGIE agie;
        agie.Init(*m_line.com);
        QTimer::singleShot(200, [&agie] { agie.Cancel(); });
        agie.WaitForMsg();
        QVERIFY(!agie.lineLost());
        agie.Init(*m_line.com);
        QTimer::singleShot(200, [&] { m_line.sim->close(); });
        QTimer::singleShot(5000, [&agie] { agie.Cancel(); });
        agie.WaitForMsg();
        QVERIFY(agie.lineLost());
        QCOMPARE(m_line.sim->receivedBytes(), QByteArray());
    }

    // A control that never pauses gets its bytes handed over 1 MB at a
    // time, the cut told once.
    void endlessBurstIsCut()
    {
        Clock::setScale(1.0); // the real 80 ms: no gap in the sending may pass for an end
        QVERIFY(script({}));
        m_line.sim->send(QByteArray(3 << 20, 'N'), 64 * 1024, 1);
        BurstReader reader(*m_line.com, [] { return false; });
        qsizetype total = 0;
        QList<qsizetype> sizes;
        while (total < (3 << 20)) {
            sizes.append(reader.ReadPort(10000).size());
            QVERIFY(sizes.last() > 0);
            total += sizes.last();
        }
        QVERIFY2(sizes.size() >= 3 && sizes[0] >= MaxBurstBytes,
                 qPrintable(QString::number(sizes[0])));
        QCOMPARE(readFile(EventLogPath()).count("sans pause"), 1);
    }
};

QTEST_GUILESS_MAIN(TestLsv2)
#include "tst_lsv2.moc"
