// A Mazak control end to end (Methode 5): a headless server on a
// pseudo-terminal, and nodalis-sim playing the control with its own
// handshake. Uploads stored (hybrid ones as ISO text with ConvertMazIso,
// as records without), a call by program 8888 served by a download whose
// records arrive byte for byte, and S in the middle of a transfer.

#include "sim/MachineSimulator.h"
#include "sim/MazatrolPeer.h"
#include "support/ProcessHelpers.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace nodalis::test;
using nodalis::sim::MazatrolPeer;

namespace {

QByteArray padded(const QByteArray& start)
{
    return start.leftJustified(128, '0');
}

// A record file as the PC keeps it.
QByteArray recordFile(const QList<QByteArray>& records)
{
    QByteArray out = "xVb\r\n";
    for (const QByteArray& r : records)
        out += r + "\r\n";
    return out + "xVb\r\n";
}

// A hybrid program: Mazatrol records holding one record of ISO text.
QByteArray hybrid(int model)
{
    const QByteArray text = "N10 G0 X0\nN20 M30\n%";
    return recordFile({padded("3121000000001"), padded("300004D2"),
                       MazatrolPeer::programHeader(model, 1234, "UP"),
                       padded("100000" + QByteArray::number(text.size(), 16).toUpper() + text),
                       padded("12"), padded("20")});
}

// P1234: records of every kind a download picks from or leaves out, one
// longer than a short frame carries.
QByteArray p1234(int model)
{
    return recordFile({padded("3121000000001"), padded("300004D2"), padded("32"),
                       MazatrolPeer::programHeader(model, 1234, "P1234"),
                       QByteArray("3400").leftJustified(200, 'A'), padded("1300ABCDEF"),
                       padded("12"), padded("20")});
}

// P1234 kept as ISO text, and the records it goes out as.
const QByteArray IsoP1234 = "%\r\nO1234(P1234)\r\nN10 G0 X0\r\nM30\r\n%\r\n";
QByteArray isoP1234Records()
{
    return recordFile({padded("3121000000001"), padded("300004D2"), padded("32"),
                       padded("11000200500032"
                              "04D2"
                              "0000"
                              "50313233340000000000" +
                              QByteArray(82, '0') + "2101"),
                       padded("1000000F" + QByteArray("N10 G0 X0\nM30\n%").leftJustified(120, '0')),
                       padded("12"), padded("20")});
}

} // namespace

class TestMazatrolProcess : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    QString m_base;
    QProcess m_server;
    QProcess m_sim;

    QString tty() const { return m_base + u"/machine.tty"_s; }

    // With iso, an upload is kept as ISO text (ConvertMazIso) and P1234 is
    // kept as ISO text.
    void configure(int model, bool iso, int timeOut = 2)
    {
        const QByteArray b = m_base.toLocal8Bit();
        writeFile(m_base + u"/Nodalis.ini"_s,
                  "[NODALIS]\r\nPortListen=0\r\nDncAppMode=2\r\n[DNC]\r\nRefMO=FR1\r\nMethode=5\r\n"
                  "IsModeEcoute=1\r\nUseRPC=1\r\nCallSyntax=(APPEL $$$$)\r\nPathFileProgOpen=" +
                      b + "/Programmes\r\nPathFileProgSave=" + b +
                      "/Remontes\r\n[COMM]\r\nPortName=" + tty().toLocal8Bit() +
                      "\r\nBauds=115200\r\nDataBit=8\r\nParite=N\r\nStopBit=1\r\nTimeOut=" +
                      QByteArray::number(timeOut) +
                      "\r\nTimeOutEnvoi=3\r\n[OPTION_DNC]\r\nConvertMazIso=" + (iso ? "1" : "0") +
                      "\r\n[SYNTAXE_MO]\r\nCodeCN=" + QByteArray::number(model) + "\r\n");
        writeFile(m_base + u"/up.maz"_s, hybrid(model));
        QList<QByteArray> big; // a long upload
        for (int i = 0; i < 30; ++i)
            big.append(padded("1000" + QByteArray::number(i)));
        writeFile(m_base + u"/big.maz"_s, recordFile(big));
        writeFile(m_base + u"/Programmes/P1234"_s, iso ? IsoP1234 : p1234(model));
        // What the control compares with.
        writeFile(m_base + u"/P1234"_s, iso ? isoP1234Records() : p1234(model));
    }

    // The control first (it makes the line), then the server.
    bool start(int model, const QString& steps)
    {
        return startControl(model, steps) && startHeadless(m_server, m_base);
    }
    bool startControl(int model, const QString& steps)
    {
        m_sim.setWorkingDirectory(m_base);
        m_sim.setProcessChannelMode(QProcess::MergedChannels);
        m_sim.start(bin("nodalis-sim"), {u"--peer"_s, u"mazatrol"_s, u"--model"_s,
                                         QString::number(model), u"--link"_s, tty(), steps});
        return m_sim.waitForStarted() && waitFor([&] { return QFile::exists(tty()); }, 5000);
    }

    int simResult()
    {
        if (!m_sim.waitForFinished(60000))
            m_sim.kill();
        const QByteArray out = m_sim.readAll();
        if (m_sim.exitCode() != 0)
            qWarning("%s", out.constData());
        return m_sim.exitStatus() == QProcess::NormalExit ? m_sim.exitCode() : -1;
    }

    // The uploads kept, one after the other.
    QByteArray stored() const
    {
        QByteArray all;
        for (const QFileInfo& f :
             QDir(m_base + u"/Receiv"_s).entryInfoList({u"FromCN_(*"_s}, QDir::Files, QDir::Time))
            all += readFile(f.filePath());
        return all;
    }
    int count(const QByteArray& code) const
    {
        return int(journalOf(m_base).count("---Code" + code + "---"));
    }

private slots:
    void init()
    {
        static int n = 0;
        m_base = m_tmp.filePath(QString::number(++n));
        m_server.setProcessEnvironment(scaledTime(1));
    }

    void cleanup()
    {
        m_sim.kill();
        m_sim.waitForFinished();
        m_server.kill();
        m_server.waitForFinished();
    }

    // The upload stored (as ISO text when converted), then the call served
    // record for record, as the model's download carries them, whether
    // P1234 is kept as ISO text or as records.
    void uploadAndCall_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<bool>("iso");
        QTest::addColumn<int>("timeOut");
        QTest::newRow("703, ISO") << 703 << true << 2;
        QTest::newRow("701, records, TimeOut 0") << 701 << false << 0;
    }

    void uploadAndCall()
    {
        QFETCH(int, model);
        QFETCH(bool, iso);
        QFETCH(int, timeOut);
        configure(model, iso, timeOut);
        QVERIFY(start(model, u"upload up.maz;call P1234"_s));
        QCOMPARE(simResult(), 0);
        QCOMPARE(count("703"), 1);
        if (iso)
            QVERIFY2(stored().startsWith("%\r\nO1234(UP)\r\nN10 G0 X0\r\nN20 M30\r\n%"),
                     stored().constData());
        else
            QCOMPARE(stored(), hybrid(model));
        QCOMPARE(count("411"), iso ? 1 : 0);
        QVERIFY(journalOf(m_base).contains("---Code705---"));
        QCOMPARE(count("412"), iso ? 1 : 0);
    }

    // Faults on the line: noise, a frame without ETX (sent again whole), a
    // NUL in a message, a slow machine; then a download the machine leaves
    // halfway, which the server ends after TimeOutEnvoi, and serves again.
    void faults()
    {
        configure(703, false);
        QVERIFY(start(703, u"noise 200;nul-burst;wait 2500;no-etx;slow 400;upload up.maz;"
                           u"slow 150;silent;call P1234;wait 6000;call P1234"_s));
        QCOMPARE(simResult(), 0);
        QVERIFY(stored().contains(hybrid(703)));
        QVERIFY(count("109") >= 1);
        QVERIFY(count("907") >= 1);
    }

    // S while the machine uploads: the server ends the transfer, leaves what
    // came in the reception file, and serves the next call after M.
    void stopDuringATransfer()
    {
        configure(703, false);
        nodalis::sim::MachineSimulator machine;
        QVERIFY(machine.open() && machine.linkAt(tty()));
        QVERIFY(startHeadless(m_server, m_base));
        QVERIFY(waitFor([&] { return count("404") >= 1; }));
        MazatrolPeer control(machine, 703);
        QSignalSpy done(&control, &MazatrolPeer::finished);
        QDir::setCurrent(m_base);
        QVERIFY(control.start(u"slow 200;upload big.maz"_s));
        QVERIFY(waitFor([&] { return count("413") >= 8; }));
        QCOMPARE(ctlOn(m_base, {u"send"_s, u"S"_s}), 0);
        QVERIFY(waitFor([&] { return !done.isEmpty(); }, 30000));
        QCOMPARE(done.first().at(0).toBool(), false); // the server stopped answering
        // What came before the stop is kept.
        QVERIFY(waitFor([&] { return count("952") >= 1; }));
        QVERIFY(readFile(m_base + u"/Receiv/FromCN.txt"_s).startsWith("xVb\r\n" + padded("10000")));
        QVERIFY(waitFor([&] { return journalOf(m_base).contains("interrompue, gard"); }));
        QDir receiv(m_base + u"/Receiv"_s);
        const QStringList kept = receiv.entryList({u"FromCN_*"_s}, QDir::Files);
        QCOMPARE(kept.size(), 1);
        QVERIFY(readFile(receiv.filePath(kept.first())).startsWith("xVb\r\n" + padded("10000")));

        ctlOn(m_base, {u"send"_s, u"M"_s});
        QVERIFY(control.start(u"call P1234"_s));
        QVERIFY(waitFor([&] { return done.size() == 2; }, 30000));
        QVERIFY2(done.last().at(0).toBool(), qPrintable(done.last().at(1).toString()));
    }

    // The machine's line vanishes mid-upload: the server lives on and listens
    // on the line again once it is back. A control model
    // it has no handler for is said once, and the server keeps running.
    void lineVanishesAndUnknownModel()
    {
        // The line is looked for again every 30 s; a fifth of that here.
        m_server.setProcessEnvironment(scaledTime(0.2));
        configure(703, false);
        QVERIFY(start(703, u"slow 200;upload big.maz"_s));
        QVERIFY(waitFor([&] { return count("413") >= 6; }));
        m_sim.kill();
        m_sim.waitForFinished();
        QVERIFY(waitFor([&] { return !QFile::exists(tty()); }));
        QTest::qWait(1500);
        QCOMPARE(m_server.state(), QProcess::Running);
        const int listened = count("404");
        QVERIFY(startControl(703, u"wait 20000"_s));
        QVERIFY(waitFor([&] { return count("404") > listened; }, 15000));
        m_sim.kill();
        m_sim.waitForFinished();

        m_server.kill();
        m_server.waitForFinished();
        configure(799, false);
        QVERIFY(start(703, u"wait 20000"_s));
        QVERIFY(waitFor([&] { return journalOf(m_base).contains("CodeCN 799 : mod"); }));
        QCOMPARE(ctlOn(m_base, {u"send"_s, u"PING"_s}), 0);
        QCOMPARE(m_server.state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(TestMazatrolProcess)
#include "tst_mazatrol_process.moc"
