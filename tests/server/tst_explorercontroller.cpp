// The network explorer's controller without a window, on a machine that
// shares a temporary folder.

#include "dnc/PortEngine.h"
#include "dnc/ReceivedDataExaminer.h"
#include "platform/SerialControl.h"
#include "server/ExplorerController.h"
#include "store/ProgramRecords.h"

#include "store/StoreFixture.h"
#include "support/RecordingView.h"
#include "support/ScriptedPrompt.h"

#include <QSqlRecord>

#include <algorithm>
#include <functional>
#include <memory>

using namespace nodalis;
using namespace nodalis::test;
using namespace Qt::StringLiterals;

namespace {

// Runs a hook (a click arriving meanwhile) while a question waits.
class HookPrompt : public ScriptedPrompt
{
public:
    std::function<void()> onQuestion;
    bool askYesNo(const QString& title, const QString& text, bool defaultAnswer) override
    {
        if (auto hook = std::exchange(onQuestion, {}))
            hook();
        return ScriptedPrompt::askYesNo(title, text, defaultAnswer);
    }
};

class Examiner : public ReceivedDataExaminer
{
public:
    void ExamineReceivedData() override
    {
        receptions.append(readFile(Paths().receptionFile));
        if (afterFirst)
            std::exchange(afterFirst, {})();
        Channel().channelState = ChannelIdle;
    }
    QList<QByteArray> receptions;
    std::function<void()> afterFirst;
};

const QString kReplace = u"Fichier déjà existant. Voulez vous le remplacer ?"_s;

} // namespace

class TestExplorerController : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    Examiner m_examiner;
    // A case's controller and all it runs on, gone in the reverse order.
    struct Rig
    {
        RecordingView view;
        SerialControl com;
        PortEngine engine{com};
        NetworkTransfer net{engine};
        ExplorerController ctl{net};
    };
    std::unique_ptr<Rig> m_rig;

    QString machine(const QString& name = {}) const { return m_dir.filePath(u"machine/"_s + name); }
    QString local(const QString& name = {}) const { return m_dir.filePath(u"local/"_s + name); }
    // Status texts shown that hold this fragment.
    qsizetype shown(const QString& fragment) const
    {
        return std::count_if(m_rig->view.statusTexts.cbegin(), m_rig->view.statusTexts.cend(),
                             [&](const QString& t) { return t.contains(fragment); });
    }
    void start(int methode = 6)
    {
        Config().Port.Methode = methode;
        m_rig->ctl.setMode(1, methode);
        m_rig->ctl.refresh();
        m_rig->view.statusTexts.clear();
        m_rig->view.icons.clear();
    }

private slots:
    void init()
    {
        Clock::setScale(0.001);
        QDir(m_dir.path()).removeRecursively();
        ResetProcessState(m_dir.filePath(u"base"_s));
        m_rig = std::make_unique<Rig>();
        Settings& s = Config();
        s.DncAppMode = 1;
        s.DefaultDirHostSend = machine().toLocal8Bit();
        s.PathFileProgOpen = local();
        s.PathFileProgSave = m_dir.filePath(u"saved/"_s);
        s.PathData = m_dir.filePath(u"data/"_s);
        s.RefMO = "M1";
        QVERIFY(QDir().mkpath(machine()) && QDir().mkpath(local()) &&
                QDir().mkpath(s.PathFileProgSave));
        m_examiner = Examiner();
        m_rig->engine.setExaminer(&m_examiner);
    }

    void cleanup() { m_rig.reset(); }

    // A stop ends the loop at the next file; a machine gone mid-way fails
    // each file left, the progress stays at the share received and the
    // listing that fails leaves the last good one.
    void receive_data()
    {
        QTest::addColumn<int>("methode");
        QTest::addColumn<bool>("basic");
        QTest::addColumn<QString>("cut");
        QTest::addColumn<int>("examined");
        QTest::addColumn<int>("failed");
        QTest::addColumn<int>("progress");
        QTest::newRow("examined, left on the machine") << 6 << false << QString() << 2 << 0 << 100;
        QTest::newRow("TransfertBasic deletes on the machine")
            << 6 << true << QString() << 2 << 0 << 100;
        QTest::newRow("method 19 lands in the local folder")
            << 19 << false << QString() << 0 << 0 << 100;
        QTest::newRow("stop after the first") << 6 << false << u"stop"_s << 1 << 0 << 50;
        QTest::newRow("machine gone after the first") << 6 << false << u"gone"_s << 1 << 1 << 50;
    }

    void receive()
    {
        QFETCH(int, methode);
        QFETCH(bool, basic);
        QFETCH(QString, cut);
        QFETCH(int, examined);
        QFETCH(int, failed);
        QFETCH(int, progress);
        Config().TransfertBasic = basic;
        writeFile(machine(u"A.nc"_s), "O1");
        writeFile(machine(u"B.nc"_s), "O2");
        start(methode);
        m_examiner.afterFirst = [&] {
            if (cut == u"stop")
                State().stopRequested = true;
            else if (cut == u"gone")
                QDir(machine()).removeRecursively();
        };
        m_rig->ctl.Receive({u"A.nc"_s, u"B.nc"_s});
        const QByteArrayList both{"O1", "O2"};
        QCOMPARE(m_examiner.receptions, both.first(examined));
        QCOMPARE(shown(u"Réception du programme"_s), cut.isEmpty() ? 2 : 1);
        QCOMPARE(shown(u"Impossible de réceptionner"_s), failed);
        QCOMPARE(shown(u"Suppression du programme"_s), basic ? 2 : 0);
        QCOMPARE(m_rig->ctl.remoteListing().FNHaveThisFile(u"B.nc"_s), !basic);
        QCOMPARE(readFile(Config().PathFileProgSave + u"A.nc"_s),
                 methode == 19 ? QByteArray("O1") : QByteArray("<missing>"));
        QCOMPARE(m_rig->ctl.progress(), progress);
        // The explorer's state while it works, idle again after.
        QCOMPARE(m_rig->view.icons.first(), int(ChannelExplorer));
        QCOMPARE(Channel().channelState, qint16(ChannelIdle));
    }

    // One question a file on the machine already; none from 14. 11 and 14
    // send the store's programs, 8 the local files chosen.
    void send_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<bool>("onMachine");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("new file, no question") << 8 << false << QString() << true;
        QTest::newRow("No keeps the machine's") << 8 << true << u"no"_s << false;
        QTest::newRow("Yes replaces it") << 8 << true << u"yes"_s << true;
        QTest::newRow("11 asks too") << 11 << true << u"yes"_s << true;
        QTest::newRow("14 replaces all") << 14 << true << QString() << true;
    }

    void send()
    {
        QFETCH(int, command);
        QFETCH(bool, onMachine);
        QFETCH(QString, answer);
        QFETCH(bool, replaced);
        const QByteArray text = "%\r\nO7\r\nM30\r\n%\r\n";
        QString path = local(u"P7.nc"_s);
        if (command != 8) {
            Config().DataAccess = 1;
            QString problem;
            QVERIFY2(CreateStore(&problem), qPrintable(problem));
            path = ProgramFilePath(ProgramTextPath, addProgram("M1", "P7"));
        }
        writeFile(path, text);
        const QString name = QFileInfo(path).fileName();
        if (onMachine)
            writeFile(machine(name), "old");
        start();
        ScriptedPrompt prompt;
        prompt.queueAnswer(answer);
        m_rig->ctl.RunCommand(command, {name});
        QCOMPARE(readFile(machine(name)), replaced ? text : QByteArray("old"));
        QCOMPARE(prompt.questions(),
                 onMachine && command != 14 ? QStringList{kReplace} : QStringList());
        QCOMPARE(shown(u"Envoi annulé par l'utilisateur"_s), replaced ? 0 : 1);
        QCOMPARE(shown(u"Fin d'envoi du programme"_s), replaced ? 1 : 0);
        QVERIFY(prompt.messages().isEmpty());
    }

    // A click that reaches the controller while a send waits on its
    // question is refused with 265 and does nothing.
    void refusedDuringTransfer_data()
    {
        QTest::addColumn<QString>("act");
        QTest::newRow("receive") << u"receive"_s;
        QTest::newRow("rename") << u"rename"_s;
        QTest::newRow("delete") << u"delete"_s;
        QTest::newRow("send") << u"send"_s;
    }

    void refusedDuringTransfer()
    {
        QFETCH(QString, act);
        writeFile(local(u"P.nc"_s), "new");
        writeFile(machine(u"P.nc"_s), "old");
        writeFile(machine(u"Q.nc"_s), "other");
        start();
        HookPrompt prompt;
        prompt.queueAnswer(u"no"_s);
        int lastEvent = 0;
        prompt.onQuestion = [&] {
            QVERIFY(m_rig->ctl.transferRunning());
            if (act == u"receive")
                m_rig->ctl.Receive({u"Q.nc"_s});
            else if (act == u"rename")
                QVERIFY(!m_rig->ctl.RenameRemote(u"Q.nc"_s, u"R.nc"_s));
            else if (act == u"delete")
                m_rig->ctl.Delete({u"Q.nc"_s});
            else
                m_rig->ctl.Send({u"P.nc"_s});
            lastEvent = Events().lastRequested;
        };
        m_rig->ctl.Send({u"P.nc"_s});
        QCOMPARE(lastEvent, 265);
        QCOMPARE(prompt.questions().size(), 1);
        QVERIFY(m_examiner.receptions.isEmpty());
        QCOMPARE(readFile(machine(u"Q.nc"_s)), QByteArray("other"));
        QCOMPARE(readFile(machine(u"P.nc"_s)), QByteArray("old"));
    }

    void deleteRemote_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("vanishes");
        QTest::addColumn<QString>("event");
        QTest::newRow("file") << u"A.nc"_s << false << u"Suppression du programme"_s;
        QTest::newRow("folder with files") << u"SUB"_s << false << u"Suppression du dossier"_s;
        QTest::newRow("folder gone under it")
            << u"SUB"_s << true << u"Impossible de supprimer le dossier"_s;
    }

    void deleteRemote()
    {
        QFETCH(QString, name);
        QFETCH(bool, vanishes);
        QFETCH(QString, event);
        writeFile(machine(u"A.nc"_s), "a");
        writeFile(machine(u"SUB/in/deep.nc"_s), "d");
        start();
        if (vanishes)
            QDir(machine(name)).removeRecursively();
        m_rig->ctl.Delete({name});
        QCOMPARE(shown(event), 1);
        QVERIFY(!QFileInfo::exists(machine(name)));
        QCOMPARE(m_rig->ctl.remoteListing().FNHaveThisFile(name) ||
                     m_rig->ctl.remoteListing().FNHaveThisFolder(name),
                 false);
    }

    void rename_data()
    {
        QTest::addColumn<bool>("remote");
        QTest::addColumn<QString>("to");
        QTest::addColumn<bool>("done");
        QTest::newRow("remote, separator") << true << u"x/B.nc"_s << false;
        QTest::newRow("remote, existing") << true << u"B.nc"_s << false;
        QTest::newRow("remote") << true << u"C.nc"_s << true;
        QTest::newRow("local, backslash") << false << u"x\\C.nc"_s << false;
        QTest::newRow("local, existing") << false << u"B.nc"_s << false;
        QTest::newRow("local") << false << u"C.nc"_s << true;
    }

    void rename()
    {
        QFETCH(bool, remote);
        QFETCH(QString, to);
        QFETCH(bool, done);
        const auto side = [&](const QString& n) { return remote ? machine(n) : local(n); };
        writeFile(side(u"A.nc"_s), "a");
        writeFile(side(u"B.nc"_s), "b");
        start();
        const bool renamed =
            remote ? m_rig->ctl.RenameRemote(u"A.nc"_s, to) : m_rig->ctl.RenameLocal(u"A.nc"_s, to);
        QCOMPARE(renamed, done);
        QCOMPARE(shown(done ? u"renommé en"_s : u"Impossible de renommer"_s), 1);
        QCOMPARE(readFile(side(u"B.nc"_s)), QByteArray("b"));
        QCOMPARE(readFile(side(u"C.nc"_s)), done ? QByteArray("a") : QByteArray("<missing>"));
        if (!remote)
            QCOMPARE(m_rig->ctl.localEntries().last().name, done ? u"C.nc"_s : u"B.nc"_s);
    }

    // A big program is never read whole (a local file is previewed through
    // the window's test).
    void preview()
    {
        const QByteArray big(3 * ExplorerController::PreviewLimit, 'x');
        writeFile(machine(u"P.nc"_s), big);
        start();
        m_rig->ctl.PreviewRemote(u"P.nc"_s);
        const ExplorerPreview& p = m_rig->ctl.preview(true);
        QCOMPARE(p.name, u"P.nc"_s);
        QCOMPARE(p.text, big.first(ExplorerController::PreviewLimit));
        QVERIFY(p.truncated);
        QCOMPARE(shown(u"Génération de l'aperçu"_s), 1);
    }

    // POS_SIZE's arguments as twips, then as pixels at a screen's DPI.
    void place_data()
    {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<double>("dpi");
        QTest::addColumn<QRect>("pixels");
        const QByteArrayList plain{"1500", "1000", "9000", "6000"};
        QTest::newRow("96 dpi") << plain << QRect(1500, 1000, 9000, 6600) << 96.0
                                << QRect(100, 67, 600, 440);
        QTest::newRow("at least 1000, rounded")
            << QByteArrayList{"-20", "999.9999995", "8000.5", "4000.4"}
            << QRect(1000, 1000, 8001, 4600) << 144.0 << QRect(100, 100, 800, 460);
        QTest::newRow("missing") << plain.first(3) << QRect() << 96.0 << QRect();
        QTest::newRow("not a number")
            << QByteArrayList{"1500", "abc", "9000", "6000"} << QRect() << 96.0 << QRect();
    }

    void place()
    {
        QFETCH(QByteArrayList, arguments);
        QFETCH(QRect, twips);
        QFETCH(double, dpi);
        QFETCH(QRect, pixels);
        const std::optional<QRect> placed = PosSizeTwips(arguments);
        QCOMPARE(placed.value_or(QRect()), twips);
        if (placed)
            QCOMPARE(TwipsToPixels(*placed, dpi), pixels);
    }

    // This machine's programs, newest first, by call name.
    void storeGrid_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QByteArrayList>("calls");
        QTest::newRow("all") << QString() << QByteArrayList{"CAPOT", "BRIDE2", "BRIDE1"};
        QTest::newRow("by name") << u"BRIDE"_s << QByteArrayList{"BRIDE2", "BRIDE1"};
    }

    void storeGrid()
    {
        QFETCH(QString, filter);
        QFETCH(QByteArrayList, calls);
        Config().DataAccess = 1;
        QString problem;
        QVERIFY2(CreateStore(&problem), qPrintable(problem));
        for (const char* call : {"BRIDE1", "BRIDE2", "OTHER"})
            QVERIFY(addProgram(qstrcmp(call, "OTHER") == 0 ? "M2" : "M1", call));
        QVERIFY(addProgram("M1", "CAPOT"));
        start();
        m_rig->ctl.setStoreFilter(filter);
        QSqlQueryModel* grid = m_rig->ctl.storeModel();
        QByteArrayList shownCalls;
        for (int row = 0; row < grid->rowCount(); ++row)
            shownCalls << grid->record(row).value(u"ProgAppel"_s).toByteArray();
        QCOMPARE(shownCalls, calls);
    }
};

QTEST_GUILESS_MAIN(TestExplorerController)
#include "tst_explorercontroller.moc"
