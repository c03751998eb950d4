// The network explorer window over a machine's FTP server (pyftpdlib,
// Methode 4), driven through its widgets: every pop-up command and toolbar
// button, the clicks, the in-place renames, the store's grid, the place it
// takes, a close during a transfer, a preview of a megabyte of binary, and a
// picture of the window. What the controller does on its own is
// tst_explorercontroller's.

#include "dnc/EventMessages.h"
#include "dnc/InfoNotifier.h"
#include "dnc/PortEngine.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "dnc/ReceivedDataExaminer.h"
#include "explorer/FrmReseau.h"
#include "platform/Clock.h"
#include "platform/SerialControl.h"
#include "protocols/NetworkTransfer.h"
#include "server/ExplorerController.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"
#include "store/ProgramDatabase.h"
#include "store/ProgramRecords.h"
#include "store/StoreSchema.h"

#include "support/FtpServer.h"
#include "support/ProcessHelpers.h"
#include "support/ProcessReset.h"
#include "support/ScriptedPrompt.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QSet>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <algorithm>
#include <functional>
#include <memory>

using namespace nodalis;
using namespace nodalis::test;
using namespace Qt::StringLiterals;

namespace {

// What reached the examination of received data.
class Examiner : public ReceivedDataExaminer
{
public:
    void ExamineReceivedData() override
    {
        received.append(readFile(Paths().receptionFile));
        Channel().channelState = ChannelIdle;
    }
    QList<QByteArray> received;
};

class Notes : public InfoNotifier
{
public:
    int send(const QByteArray& message, int) override
    {
        messages.append(message);
        if (onMessage)
            onMessage(message);
        return 0; // nobody to pace
    }
    quint16 port() const override { return 0; }
    QList<QByteArray> messages;
    std::function<void(const QByteArray&)> onMessage;
};

const QByteArray kProgram = "%\r\nO1000\r\nN10 G0 X0\r\nM30\r\n%\r\n";

} // namespace

class TestFrmReseau : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_run = 0;
    QString m_home;
    QString m_local;
    Examiner m_examiner;
    Notes m_notes;
    // A case's explorer and all it runs on, gone in the reverse order.
    struct Rig
    {
        ScriptedPrompt prompt;
        FtpServer server;
        SerialControl com;
        PortEngine engine{com};
        NetworkTransfer net{engine};
        ExplorerController ctl{net};
        FrmReseau win{ctl};
        ~Rig() { ctl.setWindow(nullptr); }
    };
    std::unique_ptr<Rig> m_rig;

    template <class T> T* child(const QString& name) const
    {
        T* found = m_rig->win.findChild<T*>(name);
        if (!found)
            qFatal("no %s", qPrintable(name));
        return found;
    }
    QTreeView* list(bool remote) const
    {
        return child<QTreeView>(remote ? u"lvDistant"_s : u"lvLocal"_s);
    }

    // The names a list shows: in its order, or sorted without the way up.
    QStringList names(bool remote, bool sorted = true) const
    {
        const QAbstractItemModel* model = list(remote)->model();
        QStringList names;
        for (int r = 0; r < model->rowCount(); ++r)
            names << model->index(r, 0).data(Qt::EditRole).toString();
        if (sorted) {
            names.removeAll(u".."_s);
            names.sort();
        }
        return names;
    }
    QModelIndex at(bool remote, const QString& name) const
    {
        return list(remote)->model()->index(int(names(remote, false).indexOf(name)), 0);
    }
    static QStringList entries(const QString& folder)
    {
        QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        names.sort();
        return names;
    }
    void select(bool remote, const QStringList& names)
    {
        QTreeView* view = list(remote);
        view->clearSelection();
        for (const QString& name : names)
            view->selectionModel()->select(at(remote, name),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    void click(bool remote, const QString& name, bool twice = false)
    {
        QTreeView* view = list(remote);
        view->scrollTo(at(remote, name));
        const QPoint p = view->visualRect(at(remote, name)).center();
        // As a mouse does it: a double click is a click, then a press that
        // comes as a double click, then a release.
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, p);
        if (twice) {
            QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, p);
            QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, p);
        }
    }
    void trigger(const QString& action) { child<QAction>(action)->trigger(); }
    static bool logged(int code)
    {
        return readFile(EventLogPath()).contains("---Code" + QByteArray::number(code) + "---");
    }
    // The window shows both sides as the machine and the local folder hold them.
    bool settled()
    {
        return waitFor(
            [&] { return names(true) == entries(m_home) && names(false) == entries(m_local); });
    }

private slots:
    void initTestCase()
    {
        if (!FtpServer::available())
            QSKIP("no python3 with pyftpdlib: apt-get install python3-pyftpdlib");
        SetNotifier(&m_notes);
    }
    void cleanupTestCase() { SetNotifier(nullptr); }

    void init()
    {
        const QString run = m_dir.filePath(QString::number(++m_run));
        ResetProcessState(run + u"/base"_s);
        Clock::setScale(0.01);
        m_home = run + u"/home"_s;
        m_local = run + u"/local"_s;
        QDir().mkpath(m_local + u"/LOC"_s);
        writeFile(m_home + u"/O1000.nc"_s, kProgram);
        writeFile(m_home + u"/O2000.nc"_s, "%\r\nO2000\r\nM30\r\n%\r\n");
        writeFile(m_home + u"/SUB/inner.nc"_s, kProgram);
        writeFile(m_local + u"/P1.nc"_s, "%\r\nO11\r\nM30\r\n%\r\n");
        writeFile(m_local + u"/P2.nc"_s, "%\r\nO12\r\nM30\r\n%\r\n");

        m_rig = std::make_unique<Rig>();
        QVERIFY2(m_rig->server.start(m_home), qPrintable(m_rig->server.why()));
        Settings& s = Config();
        s.DncAppMode = 2;
        s.Port.Methode = 4;
        s.RemoteHost = "127.0.0.1";
        s.RemotePort = QByteArray::number(m_rig->server.port());
        s.ReseauUserName = "cnc";
        s.UserPassword = "cnc";
        s.PathFileProgOpen = m_local;
        m_rig->engine.setExaminer(&m_examiner);
        m_rig->ctl.setWindow(&m_rig->win);
        m_rig->ctl.setMode(1, 4);
        m_rig->ctl.showWindow();
        QVERIFY(settled());
        m_examiner.received.clear();
        m_notes.messages.clear();
    }

    void cleanup()
    {
        m_notes.onMessage = nullptr;
        m_rig.reset();
        Clock::setScale(1.0);
    }

    static QStringList words(const char* text)
    {
        return QString::fromUtf8(text).split(u' ', Qt::SkipEmptyParts);
    }

    void commands_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("remote");
        QTest::addColumn<QStringList>("local");
        QTest::addColumn<QString>("folderName"); // typed when asked
        QTest::addColumn<QStringList>("served");
        QTest::addColumn<QStringList>("kept");
        QTest::addColumn<int>("received");
        QTest::addColumn<QList<int>>("events");
        // The chosen names of each side, and what each folder holds after.
        const auto row = [](const char* name, const char* action, const char* remote,
                            const char* local, const char* folder, const char* served,
                            const char* kept, int received, QList<int> events) {
            QTest::newRow(name) << QString::fromUtf8(action) << words(remote) << words(local)
                                << QString::fromUtf8(folder) << words(served) << words(kept)
                                << received << events;
        };
        const char* home = "O1000.nc O2000.nc SUB";
        const char* here = "LOC P1.nc P2.nc";
        row("1 Recevoir", "cmd1", "O1000.nc", "", "", home, here, 1, {258});
        row("3 Nouveau Dossier", "cmd3", "", "", "NEUF", "NEUF O1000.nc O2000.nc SUB", here, 0,
            {254});
        row("4 Supprimer", "cmd4", "O1000.nc SUB", "", "", "O2000.nc", here, 0, {252, 259});
        row("10 Recevoir tous les programmes", "cmd10", "", "", "", home, here, 2, {258});
        row("12 Supprimer tous les programmes", "cmd12", "", "", "", "", here, 0, {252, 259});
        row("6 Nouveau Dossier", "cmd6", "", "", "NEUF", home, "LOC NEUF P1.nc P2.nc", 0, {254});
        row("7 Supprimer", "cmd7", "", "P1.nc LOC", "", home, "P2.nc", 0, {252, 259});
        row("8 Envoyer", "cmd8", "", "P1.nc", "", "O1000.nc O2000.nc P1.nc SUB", here, 0,
            {250, 266});
        row("15 Envoyer tous", "cmd15", "", "", "", "O1000.nc O2000.nc P1.nc P2.nc SUB", here, 0,
            {250, 266});
        row("toolbar 2 Recevoir", "Button2", "O2000.nc", "", "", home, here, 1, {258});
        row("toolbar 3 Envoyer", "Button3", "", "P2.nc", "", "O1000.nc O2000.nc P2.nc SUB", here, 0,
            {250, 266});
    }

    // Each command of the lists' pop-up menus and the toolbar's transfers:
    // the machine's folder or the local one changes, and both lists show it.
    void commands()
    {
        QFETCH(QString, action);
        QFETCH(QStringList, remote);
        QFETCH(QStringList, local);
        QFETCH(QString, folderName);
        QFETCH(QList<int>, events);
        if (!folderName.isEmpty())
            m_rig->prompt.queueAnswer(u"text "_s + folderName);
        select(true, remote);
        select(false, local);
        trigger(action);
        QTEST(entries(m_home), "served");
        QTEST(entries(m_local), "kept");
        QVERIFY(settled());
        QTEST(int(m_examiner.received.size()), "received");
        for (int code : events)
            QVERIFY2(logged(code), qPrintable(QString::number(code)));
        QCOMPARE(m_rig->prompt.questions(), folderName.isEmpty()
                                                ? QStringList()
                                                : QStringList{u"Nom du nouveau repertoire"_s});
    }

    void refreshButtons_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("progactif");
        QTest::addColumn<int>("logins");
        QTest::newRow("1 Actualiser, PROGACTIF") << 1 << true << 0;
        QTest::newRow("4 Déconnecter, then 5") << 4 << false << 1;
    }

    // What changed behind the window's back shows after a refresh; after a
    // disconnection the refresh logs in again.
    void refreshButtons()
    {
        QFETCH(int, button);
        QFETCH(bool, progactif);
        QFETCH(int, logins);
        const int before = m_rig->server.logins();
        writeFile(m_home + u"/NEW.nc"_s, kProgram);
        writeFile(m_local + u"/NEW.nc"_s, kProgram);
        trigger(u"Button%1"_s.arg(button));
        if (button == 4)
            trigger(u"Button5"_s);
        QVERIFY(settled());
        QTRY_COMPARE(m_rig->server.logins(), before + logins);
        const bool notified =
            std::any_of(m_notes.messages.begin(), m_notes.messages.end(),
                        [](const QByteArray& m) { return m.contains("PROGACTIF"); });
        QCOMPARE(notified, progactif);
    }

    void renames_data()
    {
        QTest::addColumn<bool>("remote");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<bool>("renamed");
        QTest::newRow("remote") << true << u"O1000.nc"_s << u"O3000.nc"_s << true;
        QTest::newRow("local onto another") << false << u"P1.nc"_s << u"P2.nc"_s << false;
    }

    // 5 and 9 open the entry's name for editing; the edit goes to its side,
    // and a refused one leaves the old name shown.
    void renames()
    {
        QFETCH(bool, remote);
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(bool, renamed);
        const QString folder = remote ? m_home : m_local;
        const QStringList before = entries(folder);
        select(remote, {from});
        trigger(remote ? u"cmd5"_s : u"cmd9"_s);
        QLineEdit* editor = nullptr;
        QVERIFY(
            waitFor([&] { return (editor = list(remote)->viewport()->findChild<QLineEdit*>()); }));
        QCOMPARE(editor->text(), from);
        editor->setText(to);
        QTest::keyClick(editor, Qt::Key_Return);
        QStringList after = before;
        if (renamed) {
            after.removeAll(from);
            after.append(to);
            after.sort();
        }
        QTRY_COMPARE(entries(folder), after);
        QTRY_COMPARE(names(remote), after);
        QTRY_COMPARE(logged(257), !renamed);
    }

    // A click previews, a double click opens a folder or receives a file.
    void clicks()
    {
        click(true, u"O1000.nc"_s);
        QTRY_COMPARE(child<QLabel>(u"lblDistantProg"_s)->text(), u"O1000.nc"_s);
        QCOMPARE(child<QPlainTextEdit>(u"rtbDistant"_s)->toPlainText(),
                 u"%\nO1000\nN10 G0 X0\nM30\n%\n"_s);
        click(false, u"P1.nc"_s);
        QCOMPARE(child<QPlainTextEdit>(u"rtbLocal"_s)->toPlainText(), u"%\nO11\nM30\n%\n"_s);

        click(true, u"O2000.nc"_s, true);
        QTRY_COMPARE(m_examiner.received.size(), 1);
        QCOMPARE(m_examiner.received.first(), readFile(m_home + u"/O2000.nc"_s));
        QTest::qWait(QApplication::doubleClickInterval() * 2);
        QCOMPARE(child<QLabel>(u"lblDistantProg"_s)->text(), u"O1000.nc"_s); // not previewed
        QCOMPARE(child<QProgressBar>(u"pctTransfert"_s)->value(), 100);

        click(true, u"SUB"_s, true);
        QTRY_COMPARE(names(true), QStringList{u"inner.nc"_s});
        QCOMPARE(child<QLabel>(u"lblDistantTitre"_s)->text(), u"/SUB"_s);
        click(false, u"LOC"_s, true);
        QTRY_VERIFY(child<QLabel>(u"lblLocalTitre"_s)->text().endsWith(u"LOC"));
        QCOMPARE(names(false), QStringList());
    }

    // Closed during a transfer, the window only hides: the transfer goes to
    // its end.
    void closeDuringTransfer()
    {
        bool acted = false;
        m_notes.onMessage = [&](const QByteArray&) {
            if (!acted && m_rig->ctl.transferRunning()) {
                acted = true;
                m_rig->win.close();
            }
        };
        select(true, {u"O1000.nc"_s});
        trigger(u"cmd1"_s);
        QVERIFY(acted);
        QVERIFY(!m_rig->win.isVisible());
        QCOMPARE(m_examiner.received.size(), 1);
        QVERIFY(!State().stopRequested);
    }

    void place_data()
    {
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<bool>("fits");
        QTest::newRow("on the screen") << QRect(1500, 1500, 6000, 4500) << true;
        QTest::newRow("larger than the screen") << QRect(1000, 1000, 900000, 900000) << false;
        QTest::newRow("off the right") << QRect(90000, 1000, 6000, 4500) << false;
    }

    // The place given in twips, kept whole on the screen.
    void place()
    {
        QFETCH(QRect, twips);
        QFETCH(bool, fits);
        const QScreen* screen = m_rig->win.screen();
        const QRect room = screen->availableGeometry();
        const double scale = screen->logicalDotsPerInch() / 1440.0;
        m_rig->win.placeExplorer(twips);
        const QRect g = m_rig->win.geometry();
        QVERIFY(room.contains(g));
        QCOMPARE(g.width(), qMin(room.width(), qRound(twips.width() * scale)));
        QCOMPARE(g.height(), qMin(room.height(), qRound(twips.height() * scale)));
        if (fits)
            QCOMPARE(g.topLeft(),
                     QPoint(qRound(twips.left() * scale), qRound(twips.top() * scale)));
    }

    // The grid of the store's programs: a click previews one, the box filters
    // them by call name, the toolbar's Envoyer sends the rows chosen. (The
    // commands 11 and 14 and the order are tst_explorercontroller's.)
    void storeGrid()
    {
        Settings& s = Config();
        s.DataAccess = 1;
        s.PathData = m_dir.filePath(u"%1/data/"_s.arg(m_run));
        s.RefMO = "M1";
        QString why;
        QVERIFY2(CreateStore(&why), qPrintable(why));
        for (const QByteArray& call : {QByteArray("PA"), QByteArray("PB")}) {
            ProgramDatabase db;
            QSqlQuery q;
            QVERIFY(OpenProgramDatabase(ProgramDatabasePath(), db));
            QVERIFY(db.exec(q, u"INSERT INTO PROGRAMME (RefMO, ProgAppel) VALUES (?, ?)"_s,
                            {u"M1"_s, QString::fromLatin1(call)}));
            writeFile(ProgramFilePath(ProgramTextPath, qint32(db.insertedKey(q))),
                      "%\r\n" + call + "\r\n%\r\n");
        }
        trigger(u"Button5"_s);
        auto* grid = child<QTableView>(u"DbgLocal"_s);
        QTRY_VERIFY(grid->isVisibleTo(&m_rig->win));
        QTRY_COMPARE(grid->model()->rowCount(), 2);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                          grid->visualRect(grid->model()->index(0, 0)).center());
        QVERIFY(child<QPlainTextEdit>(u"rtbLocal"_s)->toPlainText().startsWith(u"%\nP"));

        child<QComboBox>(u"CboBD"_s)->setEditText(u"PA"_s);
        QTRY_COMPARE(grid->model()->rowCount(), 1);
        grid->selectRow(0);
        const QStringList before = entries(m_home);
        trigger(u"Button3"_s);
        QStringList sent = entries(m_home);
        for (const QString& name : before)
            sent.removeAll(name);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(readFile(m_home + u'/' + sent.first()), QByteArray("%\r\nPA\r\n%\r\n"));
    }

    // A megabyte of every byte value previews as text with no control
    // character left.
    void binaryPreview()
    {
        QByteArray binary(ExplorerController::PreviewLimit, '\0');
        for (qsizetype i = 0; i < binary.size(); ++i)
            binary[i] = char((i * 7 + i / 251) & 0xff);
        writeFile(m_home + u"/binary.bin"_s, binary);
        trigger(u"Button5"_s);
        QTRY_VERIFY(names(true).contains(u"binary.bin"_s));
        click(true, u"binary.bin"_s);
        QTRY_COMPARE(child<QLabel>(u"lblDistantProg"_s)->text(), u"binary.bin"_s);
        const QString text = child<QPlainTextEdit>(u"rtbDistant"_s)->toPlainText();
        QVERIFY(text.size() >= binary.size() * 9 / 10);
        QVERIFY(!text.contains(QChar(0)) && !text.contains(QChar(0x01)));
    }

    // A picture of the window at a fixed size, both sides listed.
    void render()
    {
        click(true, u"O1000.nc"_s);
        click(false, u"P1.nc"_s);
        QTRY_COMPARE(child<QLabel>(u"lblDistantProg"_s)->text(), u"O1000.nc"_s);
        m_rig->win.resize(900, 600);
        QVERIFY(QTest::qWaitForWindowExposed(&m_rig->win));
        const QImage image = m_rig->win.grab().toImage();
        QCOMPARE(image.size(), QSize(900, 600) * m_rig->win.devicePixelRatio());
        for (bool remote : {true, false}) {
            const QTreeView* view = list(remote);
            QVERIFY(view->model()->rowCount() >= 3);
            const QRect rows = view->visualRect(view->model()->index(2, 0))
                                   .translated(view->viewport()->mapTo(&m_rig->win, QPoint()));
            const QImage part = image.copy(rows);
            QSet<QRgb> colours;
            for (int x = 0; x < part.width(); ++x)
                colours.insert(part.pixel(x, part.height() / 2));
            QVERIFY2(colours.size() > 1, remote ? "remote list blank" : "local list blank");
        }
    }
};

QTEST_MAIN(TestFrmReseau)
#include "tst_frmreseau.moc"
