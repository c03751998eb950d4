// Method 9, the Psion gateway, on two folders of a temporary base: the
// program dropped as ToPsion.txt, the wait before a send, the take-over of
// FROMPSION files and the listening cycle around it.

#include "dnc/EventMessages.h"
#include "dnc/PortEngine.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "dnc/ProgramSender.h"
#include "dnc/PsionGateway.h"
#include "dnc/ReceivedDataExaminer.h"
#include "platform/Clock.h"
#include "platform/SerialControl.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"

#include "support/ProcessHelpers.h"
#include "support/ProcessReset.h"

#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>

using namespace nodalis;
using namespace nodalis::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kProgram = "%\r\n\r\nO1234\r\nN10 G0 X0\r\n\r\nN20 M30\r\n%\r\n";
// What the send preparation leaves of it: no empty lines.
const QByteArray kPrepared = "%\r\nO1234\r\nN10 G0 X0\r\nN20 M30\r\n%\r\n";
const QByteArray kUpload = "%\r\nO5678 (REPRISE)\r\nN10 M30\r\n%\r\n";

// Notes what the reception file holds at each examination.
class NotingExaminer : public ReceivedDataExaminer
{
public:
    void ExamineReceivedData() override
    {
        received.append(QFile::exists(Paths().receptionFile) ? readFile(Paths().receptionFile)
                                                             : QByteArray("<none>"));
        Channel().channelState = ChannelIdle;
    }
    QList<QByteArray> received;
};

} // namespace

class TestPsionGateway : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_run = 0;
    QString m_base;
    QString m_send;
    QString m_receive;
    SerialControl m_com;
    std::unique_ptr<PortEngine> m_engine;
    std::unique_ptr<ProgramSender> m_sender;
    std::unique_ptr<PsionGateway> m_gateway;
    NotingExaminer m_examiner;
    std::unique_ptr<QObject> m_scope; // owns the timers of one test

    static bool logged(int code)
    {
        return readFile(EventLogPath()).contains("---Code" + QByteArray::number(code) + "---");
    }

    // Runs fn after ms real milliseconds, unless the test is over by then.
    void at(int ms, std::function<void()> fn) { QTimer::singleShot(ms, m_scope.get(), fn); }
    void stopAt(int ms)
    {
        at(ms, [] { State().stopRequested = true; });
    }

private slots:
    void init()
    {
        Clock::setScale(0.05);
        m_base = m_dir.filePath(QString::number(++m_run));
        ResetProcessState(m_base);
        Settings& s = Config();
        s.DncAppMode = 1;
        s.Port.Methode = 9;
        m_send = m_base + u"/gateway/send"_s;
        m_receive = m_base + u"/gateway/receive"_s;
        QDir().mkpath(m_send);
        QDir().mkpath(m_receive);
        s.DefaultDirHostSend = m_send.toLocal8Bit();
        s.DefaultDirHostReceiv = m_receive.toLocal8Bit();
        m_engine = std::make_unique<PortEngine>(m_com);
        m_sender = std::make_unique<ProgramSender>(*m_engine);
        m_gateway = std::make_unique<PsionGateway>(*m_engine, *m_sender);
        m_examiner.received.clear();
        m_engine->setExaminer(&m_examiner);
        m_scope = std::make_unique<QObject>();
        // A loop that never ends fails its test instead of hanging it.
        stopAt(5000);
    }

    void cleanup()
    {
        m_scope.reset();
        m_gateway.reset();
        m_sender.reset();
        m_engine.reset();
        Clock::setScale(1.0);
    }

    // A program the gateway has not taken yet is replaced, companion
    // folder included.
    void send_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<bool>("companion");
        QTest::addColumn<bool>("sent");
        QTest::newRow("replaces one not taken yet, and its folder") << u"plain"_s << true << true;
        QTest::newRow("UNC share under UncRoot") << u"unc"_s << false << true;
        QTest::newRow("missing send folder") << u"missing"_s << false << false;
    }

    void send()
    {
        QFETCH(QString, where);
        QFETCH(bool, companion);
        QFETCH(bool, sent);
        QString folder = m_send;
        if (where == u"unc"_s) {
            Config().UncRoot = (m_base + u"/unc/"_s).toLocal8Bit();
            Config().DefaultDirHostSend = "\\\\atelier\\psion\\envoi\\";
            folder = m_base + u"/unc/atelier/psion/envoi"_s;
            QDir().mkpath(folder);
        } else if (where == u"missing"_s) {
            folder = m_base + u"/nowhere"_s;
            Config().DefaultDirHostSend = folder.toLocal8Bit();
        }
        const QString target = folder + u"/ToPsion.txt"_s;
        QVERIFY(writeFile(Paths().sendFile, kProgram));
        if (companion) {
            Config().ModeGestionBD = 1;
            QVERIFY(writeFile(target, "OLD"));
            QVERIFY(writeFile(Paths().sendFile + u".dir/plan.pdf"_s, "PLAN"));
            QVERIFY(writeFile(target + u".dir/stale.pdf"_s, "STALE"));
        }

        QCOMPARE(m_sender->SendDispatcher(), sent);
        QVERIFY(logged(sent ? 903 : 855));
        QCOMPARE(readFile(target), sent ? kPrepared : QByteArray());
        QCOMPARE(logged(907), !sent);
        if (companion) {
            QCOMPARE(readFile(target + u".dir/plan.pdf"_s), QByteArray("PLAN"));
            QVERIFY(!QFile::exists(target + u".dir/stale.pdf"_s));
        }
    }

    void take_data()
    {
        QTest::addColumn<QString>("name"); // FROMPSION in any case
        QTest::addColumn<bool>("copyFails");
        QTest::addColumn<bool>("companion");
        QTest::newRow("copy fails: the gateway keeps it") << u"FromPsion.txt"_s << true << false;
        QTest::newRow("companion folder comes along") << u"xFROMPSIONx.txt"_s << false << true;
    }

    void take()
    {
        QFETCH(QString, name);
        QFETCH(bool, copyFails);
        QFETCH(bool, companion);
        // Neither another file nor a folder named like a gateway file is taken.
        QVERIFY(writeFile(m_receive + u"/other.txt"_s, "OTHER"));
        QVERIFY(QDir().mkpath(m_receive + u"/AFROMPSION"_s));
        QString reception = Paths().receptionFile;
        if (copyFails) {
            QVERIFY(writeFile(m_base + u"/blocker"_s, "a file where a folder should be"));
            reception = m_base + u"/blocker/FromCN.txt"_s;
        }
        QVERIFY(writeFile(Paths().receptionFile, "STALE"));
        const QString gatewayFile = m_receive + u'/' + name;
        if (companion) {
            Config().ModeGestionBD = 1;
            QVERIFY(writeFile(gatewayFile + u".dir/plan.pdf"_s, "PLAN"));
            QVERIFY(writeFile(reception + u".dir/stale.pdf"_s, "STALE"));
        }
        QVERIFY(writeFile(gatewayFile, kUpload));

        QVERIFY(m_gateway->TakeFromPsion(reception));
        QCOMPARE(readFile(reception), copyFails ? QByteArray() : kUpload);
        QCOMPARE(readFile(gatewayFile), copyFails ? kUpload : QByteArray());
        QCOMPARE(logged(858), copyFails);
        QCOMPARE(readFile(m_receive + u"/other.txt"_s), QByteArray("OTHER"));
        QVERIFY(QDir(m_receive + u"/AFROMPSION"_s).exists());
        if (companion) {
            QCOMPARE(readFile(reception + u".dir/plan.pdf"_s), QByteArray("PLAN"));
            QVERIFY(!QFile::exists(reception + u".dir/stale.pdf"_s));
            QVERIFY(!QDir(gatewayFile + u".dir"_s).exists());
        }
    }

    void listen_data()
    {
        QTest::addColumn<int>("dropAtMs"); // real time; -1: nothing comes
        QTest::addColumn<int>("stopAtMs");
        QTest::addColumn<int>("relistenAtMs"); // a send's return to listening
        QTest::addColumn<QList<QByteArray>>("examined");
        QTest::addColumn<bool>("gatewayKeepsIt");
        QTest::addColumn<bool>("folderGone"); // the receive folder
        const QList<QByteArray> none{"<none>"};
        QTest::newRow("a file dropped later is taken and examined")
            << 100 << -1 << -1 << QList<QByteArray>{kUpload} << false << false;
        QTest::newRow("stop on an empty folder examines once")
            << -1 << 100 << -1 << none << false << false;
        QTest::newRow("stop while the gateway writes") << 0 << 60 << -1 << none << true << false;
        QTest::newRow("listening again meanwhile: one loop")
            << 60 << 600 << 20 << QList<QByteArray>{kUpload} << false << false;
        // An old reception is not served a second time.
        QTest::newRow("missing receive folder: nothing examined")
            << -1 << -1 << -1 << QList<QByteArray>{} << false << true;
    }

    void listen()
    {
        QFETCH(int, dropAtMs);
        QFETCH(int, stopAtMs);
        QFETCH(int, relistenAtMs);
        QFETCH(QList<QByteArray>, examined);
        QFETCH(bool, gatewayKeepsIt);
        QFETCH(bool, folderGone);
        const QString gatewayFile = m_receive + u"/FromPsion.txt"_s;
        QVERIFY(writeFile(Paths().receptionFile, "AN OLD RECEPTION"));
        if (folderGone)
            QDir(m_receive).removeRecursively();
        if (dropAtMs >= 0)
            at(dropAtMs, [=] { writeFile(gatewayFile, kUpload); });
        if (stopAtMs >= 0)
            stopAt(stopAtMs);
        if (relistenAtMs >= 0)
            at(relistenAtMs, [this] { m_engine->StartListening(); });

        m_engine->StartListening();
        QCOMPARE(m_examiner.received, examined);
        QCOMPARE(QFile::exists(gatewayFile), gatewayKeepsIt);
        QVERIFY(logged(864));
        QCOMPARE(logged(856), folderGone);
        if (folderGone)
            QCOMPARE(Channel().channelState, qint16(ChannelIdle));
    }
};

QTEST_GUILESS_MAIN(TestPsionGateway)
#include "tst_psiongateway.moc"
