// The server's small FTP client: the replies no scripted job below meets,
// PORT's argument, whole jobs against a scripted server (replies cut,
// coalesced or multi-line, refusals, failures, silence) and against pyftpdlib.

#include "dnc/InfoNotifier.h"
#include "dnc/LineFiles.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "platform/Clock.h"
#include "protocols/FtpSocketClient.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"

#include "support/FtpServer.h"
#include "support/ProcessHelpers.h"
#include "support/ProcessReset.h"
#include "support/RecordingView.h"
#include "support/ScriptedFtpPeer.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace nodalis;
using namespace nodalis::test;
using namespace Qt::StringLiterals;

namespace {

using Client = FtpSocketClient;

class RecordingNotifier : public InfoNotifier
{
public:
    // Nobody to pace: statuses do not pause.
    int send(const QByteArray& message, int) override
    {
        messages.append(message);
        return 0;
    }
    quint16 port() const override { return 0; }

    // What the {l} messages carried, one after the other; each must end a line.
    QByteArray listing() const
    {
        QByteArray all;
        for (const QByteArray& m : messages) {
            if (m.startsWith("{l}"))
                all += m.mid(3) + (m.endsWith('|') ? "" : "<cut>");
        }
        return all;
    }

    QByteArrayList messages;
};

// Every byte value, CR LF and NUL included.
QByteArray binaryBytes(int size)
{
    QByteArray b(size, 0);
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 7 + i / 251) & 0xff);
    return b;
}

} // namespace

class TestFtpSocketClient : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    RecordingView m_view;
    RecordingNotifier m_notes;

    void target(quint16 port)
    {
        Config().RemoteHost = "127.0.0.1";
        Config().RemotePort = QByteArray::number(port);
    }

    // Runs a job to its end; its outcome, or -1 when it did not end.
    int run(Client& client, int job, int ms = 15000)
    {
        QSignalSpy done(&client, &Client::finished);
        if (!client.ExeCMD(job))
            return -1;
        if (!waitFor([&] { return !done.isEmpty(); }, ms))
            return -1;
        return done.first().first().toBool() ? 1 : 0;
    }

    bool shown(const QString& start) const
    {
        for (const QString& t : m_view.statusTexts) {
            if (t.startsWith(start))
                return true;
        }
        return false;
    }

private slots:
    void initTestCase() { SetNotifier(&m_notes); }
    void cleanupTestCase() { SetNotifier(nullptr); }

    void init()
    {
        ResetProcessState(m_tmp.filePath(u"base"_s));
        Config().DncAppMode = 2; // notified and shown
        Config().ReseauUserName = "cnc";
        Config().UserPassword = "secret";
        Config().DefaultDirHostSend = "/send";
        Config().DefaultDirHostReceiv = "/recv";
        Channel().targetName = "O1000.nc";
        // 30 s of silence last 1.5 s.
        Clock::setScale(0.05);
        m_view.statusTexts.clear();
        m_notes.messages.clear();
    }

    void cleanup()
    {
        Clock::setScale(1);
        State().stopRequested = false;
    }

    // Replies whose meaning depends on the job, in jobs no scripted run below meets.
    void replyTable_data()
    {
        QTest::addColumn<int>("job");
        QTest::addColumn<QByteArray>("code");
        QTest::addColumn<QByteArray>("command"); // a new login, or nothing at all
        QTest::newRow("332 list") << 1 << QByteArray("332") << QByteArray();
        QTest::newRow("532 send") << 2 << QByteArray("532") << QByteArray("USER u");
        QTest::newRow("426 fetch") << 3 << QByteArray("426") << QByteArray();
        QTest::newRow("550 send") << 2 << QByteArray("550") << QByteArray();
    }

    void replyTable()
    {
        QFETCH(int, job);
        QFETCH(QByteArray, code);
        QFETCH(QByteArray, command);
        const Client::Step step =
            Client::StepFor(job, code, {"u", "p", "/s", "/r", "n", "1,2,3,4,5,6"});
        QCOMPARE(step.command, command);
        QCOMPARE(step.status, 0);
        QCOMPARE(step.effect, command.isEmpty() ? Client::Nothing : Client::NewLogin);
    }

    // The listing test below sees a plain IPv4 address go out.
    void portArgument_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("port");
        QTest::addColumn<QByteArray>("argument");
        QTest::newRow("mapped") << u"::ffff:10.0.0.5"_s << 256 << QByteArray("10,0,0,5,1,0");
        QTest::newRow("none") << QString() << 65535 << QByteArray("127,0,0,1,255,255");
    }

    void portArgument()
    {
        QFETCH(QString, address);
        QFETCH(int, port);
        QTEST(Client::PortArgument(QHostAddress(address), quint16(port)), "argument");
    }

    // A whole listing whatever the shape of the replies: the listing comes
    // in small pieces, a line cut across two of them.
    void listing_data()
    {
        QTest::addColumn<QByteArrayList>("login"); // the writes answering PASS
        QTest::addColumn<bool>("coalesced");       // 150 and 226 in one write
        QTest::newRow("150+226 together") << QByteArrayList{"230 ok\r\n"} << true;
        QTest::newRow("multi-line 230")
            << QByteArrayList{"230-Welcome\r\n230-to the machine\r\n230 ok\r\n"} << false;
        QTest::newRow("multi-line across arrivals")
            << QByteArrayList{"230-Welcome\r\n230-to the", " machine\r\n230 ok\r\n"} << false;
        QTest::newRow("reply cut in two") << QByteArrayList{"230 Logged", " in\r\n"} << false;
    }

    void listing()
    {
        QFETCH(QByteArrayList, login);
        QFETCH(bool, coalesced);
        ScriptedFtpPeer peer;
        peer.on["PASS"] = [&](const QByteArray&) {
            for (const QByteArray& w : login)
                peer.say(w);
        };
        peer.on["LIST"] = [&](const QByteArray&) {
            if (!coalesced)
                peer.say("150 Here it comes\r\n");
            peer.openData();
            peer.sendData({"a.nc\r\nb", ".nc\r", "\nc.nc\r\n", "last"});
            peer.closeData();
            peer.say(coalesced ? "150 Here it comes\r\n226 Done\r\n" : "226 Done\r\n");
        };
        target(peer.port());
        Client client;
        QCOMPARE(run(client, 1), 1);
        QCOMPARE(m_notes.listing(), QByteArray("a.nc|b.nc|c.nc|last|"));
        QCOMPARE(peer.commands.size(), 6);
        QCOMPARE(peer.commands.mid(0, 3), (QByteArrayList{"USER cnc", "PASS secret", "CWD /recv"}));
        QVERIFY(peer.commands[3].startsWith("PORT 127,0,0,1,"));
        QCOMPARE(peer.commands.mid(4), (QByteArrayList{"LIST ", "QUIT "}));
        QVERIFY(shown(u">PC>QUIT "_s) && shown(u">PC>PASS ****"_s));
        QVERIFY(!m_view.statusTexts.join(u'|').contains(u"secret"));
        QCOMPARE(Channel().programText, QByteArray("QUIT "));
        QVERIFY(shown(u"! Connexion au port FTP"_s) && shown(u"! Déconnexion du port FTP"_s));
    }

    // Jobs that end without a transfer: what is shown and what is sent last.
    void endings_data()
    {
        QTest::addColumn<int>("job");
        QTest::addColumn<QByteArray>("word");  // the command answered ("": none reached)
        QTest::addColumn<QByteArray>("reply"); // with this
        QTest::addColumn<QString>("status");
        QTest::addColumn<QByteArray>("last"); // the last command sent
        const QString silence = u"! Erreur tcpComTCP n° 10060:"_s;
        QTest::newRow("530") << 1 << QByteArray("PASS") << QByteArray("530 Login incorrect\r\n")
                             << u"Erreur de login"_s << QByteArray("QUIT ");
        QTest::newRow("550 fetch") << 3 << QByteArray("RETR") << QByteArray("550 No file\r\n")
                                   << u"Fichier non présent"_s << QByteArray("QUIT ");
        QTest::newRow("501 fetch") << 3 << QByteArray("RETR") << QByteArray("501 Bad\r\n")
                                   << u"! Déconnexion du port FTP"_s << QByteArray("QUIT ");
        // Ignored: the silence ends the job.
        QTest::newRow("501 list") << 1 << QByteArray("LIST") << QByteArray("501 Bad\r\n") << silence
                                  << QByteArray("LIST ");
        QTest::newRow("silent server")
            << 1 << QByteArray("USER") << QByteArray() << silence << QByteArray("USER cnc");
        QTest::newRow("server down") << 1 << QByteArray() << QByteArray()
                                     << u"! Erreur tcpComTCP n° 10061:"_s << QByteArray();
        QTest::newRow("stop") << 1 << QByteArray() << QByteArray() << QString() << QByteArray();
    }

    void endings()
    {
        QFETCH(int, job);
        QFETCH(QByteArray, word);
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, last);
        QFETCH(QString, status);
        QVERIFY(writeFile(TempFilePath(u"O1000.nc"_s), "G0 X0\r\n"));
        auto peer = std::make_unique<ScriptedFtpPeer>();
        peer->on[word] = [&](const QByteArray&) { peer->say(reply); };
        target(peer->port());
        if (status.isEmpty()) { // stopped while the server says nothing
            peer->greeting.clear();
            QTimer::singleShot(100, [] { State().stopRequested = true; });
        }
        if (word.isEmpty() && !status.isEmpty())
            peer.reset();
        QElapsedTimer t;
        t.start();
        Client client;
        QCOMPARE(run(client, job), 0);
        if (word.isEmpty()) {
            QVERIFY(t.elapsed() < 1000); // sooner than the silence
            QCOMPARE(shown(u"! Erreur"_s), !status.isEmpty());
        }
        if (!status.isEmpty())
            QVERIFY2(shown(status), qPrintable(m_view.statusTexts.join(u'\n')));
        if (peer) {
            QVERIFY(peer->commands.value(peer->commands.size() - 1).startsWith(last));
            QVERIFY(waitFor([&] { return peer->controlEnded; })); // closed
        }
    }

    // The file arrives whole, whether the server opens the data connection
    // before or after its 150.
    void send_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("connectFirst");
        QTest::newRow("empty") << 0 << false;
        QTest::newRow("many blocks, connect first") << 300000 << true;
    }

    void send()
    {
        QFETCH(int, size);
        QFETCH(bool, connectFirst);
        const QByteArray program = binaryBytes(size);
        QVERIFY(writeFile(TempFilePath(u"O1000.nc"_s), program));
        ScriptedFtpPeer peer;
        peer.on["STOR"] = [&](const QByteArray&) {
            if (connectFirst)
                peer.openData();
            peer.say("150 Send it\r\n");
            if (!connectFirst)
                peer.openData();
        };
        target(peer.port());
        Client client;
        QSignalSpy done(&client, &Client::finished);
        QVERIFY(client.ExeCMD(2));
        QVERIFY(waitFor([&] { return peer.dataEnded; }));
        peer.say("226 Stored\r\n");
        QVERIFY(waitFor([&] { return !done.isEmpty(); }));
        QCOMPARE(done.first().first().toBool(), true);
        QCOMPARE(peer.uploaded, program);
        QCOMPARE(peer.commands.value(2), QByteArray("CWD /send"));
        QCOMPARE(peer.commands.value(4), QByteArray("STOR O1000.nc"));
        QCOMPARE(peer.commands.last(), QByteArray("QUIT"));
    }

    // The server ends the transfer while the file is going out: the rest is
    // not sent, and the job ends.
    void sendCut_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("status");
        QTest::newRow("421") << QByteArray("421 Going down\r\n") << u"! Déconnexion du port FTP"_s;
        QTest::newRow("426") << QByteArray("426 Aborted\r\n") << u"! Erreur tcpComTCP n° 10060:"_s;
    }

    void sendCut()
    {
        QFETCH(QByteArray, reply);
        const QByteArray program = binaryBytes(32 * 1024 * 1024);
        QVERIFY(writeFile(TempFilePath(u"O1000.nc"_s), program));
        ScriptedFtpPeer peer;
        peer.holdUpload = true;
        peer.on["STOR"] = [&](const QByteArray&) {
            peer.say("150 Send it\r\n");
            peer.openData();
        };
        peer.onUpload = [&] {
            peer.say(reply);
            if (reply.startsWith("421"))
                peer.then([&] { peer.hangUp(); });
        };
        target(peer.port());
        Client client;
        QCOMPARE(run(client, 2), 0);
        QFETCH(QString, status);
        QVERIFY2(shown(status), qPrintable(m_view.statusTexts.join(u'\n')));
        peer.releaseUpload();
        QVERIFY(waitFor([&] { return peer.dataEnded; }));
        QVERIFY(peer.uploaded.size() < program.size());
        QVERIFY(!peer.commands.contains("QUIT"));
    }

    // Against a real server, in ASCII type (no TYPE is sent): the lines come
    // with CR LF; a reception file that cannot be written fails the job.
    void realServer_data()
    {
        QTest::addColumn<QString>("reception"); // empty: the usual file
        QTest::addColumn<QString>("status");    // shown on the way
        QTest::newRow("fetch") << QString() << u"! Déconnexion du port FTP"_s;
        QTest::newRow("disk full")
            << u"/dev/full"_s << u"Erreur lors de la remontée du programme : "_s;
    }

    void realServer()
    {
        if (!FtpServer::available())
            QSKIP("no python3 with pyftpdlib: apt-get install python3-pyftpdlib");
        QFETCH(QString, reception);
        QFETCH(QString, status);
        const QString home = m_tmp.filePath(u"home"_s);
        QVERIFY(writeFile(home + u"/O1000.nc"_s, "G0 X1\nG1 Y2\n"));
        FtpServer server;
        QVERIFY2(server.start(home), qPrintable(server.why()));
        target(quint16(server.port()));
        Config().UserPassword = "cnc";
        Config().DefaultDirHostReceiv = "/";
        if (!reception.isEmpty())
            Paths().receptionFile = reception;
        Client client;
        QCOMPARE(run(client, 3), int(reception.isEmpty()));
        QVERIFY2(shown(status), qPrintable(m_view.statusTexts.join(u'\n')));
        if (reception.isEmpty())
            QCOMPARE(readFile(Paths().receptionFile), QByteArray("G0 X1\r\nG1 Y2\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestFtpSocketClient)
#include "tst_ftpsocketclient.moc"
