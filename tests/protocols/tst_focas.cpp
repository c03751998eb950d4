// The FOCAS transfer against a recording library: which calls each
// operation makes, with which arguments, in number and in folder mode; the
// names that become numbers; how the transfer loops end.

#include "dnc/ProcessState.h"
#include "platform/Clock.h"
#include "protocols/TK_FOCAS.h"
#include "startup/Settings.h"

#include "support/ProcessHelpers.h"
#include "support/ProcessReset.h"

#include <QTemporaryDir>
#include <QTest>

#include <cstring>

using namespace nodalis;
using namespace nodalis::focas;
using namespace nodalis::test;
using namespace Qt::StringLiterals;

namespace {

QString text(const QByteArray& bytes)
{
    QByteArray shown = bytes;
    shown.replace('\0', "\\0");
    return QString::fromLatin1(shown);
}

// Notes every call with its arguments; answers from what the test set.
class RecordingCnc : public CncLibrary
{
public:
    QStringList calls;
    QByteArray type = "31";
    QList<short> programs;                       // rdprogdir2, in order
    QByteArray curdir = "//CNC_MEM/USER/PATH1/"; // rdpdf_curdir
    QList<QPair<short, QByteArray>> blocks;      // upload: code and bytes, then 5
    QList<short> downloads;                      // download codes, then 0
    short uploadEnd = EW_DATA;                   // upload once the blocks are given
    long takes = 100;                            // bytes a download call takes
    short result = EW_OK;                        // delete, rename, folders

    short cnc_allclibhndl3(const QByteArray& ip, unsigned short port, long timeout,
                           unsigned short* h) override
    {
        calls << u"allclibhndl3(%1,%2,%3)"_s.arg(text(ip)).arg(port).arg(timeout);
        *h = 7;
        return EW_OK;
    }
    short cnc_freelibhndl(unsigned short h) override { return note(u"freelibhndl(%1)"_s.arg(h)); }
    short cnc_sysinfo(unsigned short, ODBSYS* info) override
    {
        std::memcpy(info->cnc_type, type.constData(), 2);
        return note(u"sysinfo"_s);
    }
    short cnc_rdprogdir2(unsigned short, short type2, short* top, short* count,
                         PRGDIR2* entry) override
    {
        calls << u"rdprogdir2(%1,%2,%3)"_s.arg(type2).arg(*top).arg(*count);
        for (short n : std::as_const(programs)) {
            if (n >= *top) {
                *top = n;
                entry->number = n;
                entry->length = 10 * n;
                qstrncpy(entry->comment, "(C)", sizeof entry->comment);
                return EW_OK;
            }
        }
        *count = 0;
        return EW_NUMBER;
    }
    short cnc_upstart3(unsigned short, short t, long a, long b) override
    {
        return note(u"upstart3(%1,%2,%3)"_s.arg(t).arg(a).arg(b));
    }
    short cnc_upload3(unsigned short, long* length, char* data) override
    {
        return upload(length, data);
    }
    short cnc_upend3(unsigned short) override { return note(u"upend3"_s); }
    short cnc_upstart4(unsigned short, short t, const QByteArray& name) override
    {
        return note(u"upstart4(%1,%2)"_s.arg(t).arg(text(name)));
    }
    short cnc_upload4(unsigned short, long* length, char* data) override
    {
        return upload(length, data);
    }
    short cnc_upend4(unsigned short) override { return note(u"upend4"_s); }
    short cnc_dwnstart3(unsigned short, short t) override
    {
        return note(u"dwnstart3(%1)"_s.arg(t));
    }
    short cnc_download3(unsigned short, long* length, const char*) override
    {
        return download(length);
    }
    short cnc_dwnend3(unsigned short) override { return note(u"dwnend3"_s); }
    short cnc_dwnstart4(unsigned short, short t, const QByteArray& folder) override
    {
        return note(u"dwnstart4(%1,%2)"_s.arg(t).arg(text(folder)));
    }
    short cnc_download4(unsigned short, long* length, const char*) override
    {
        return download(length);
    }
    short cnc_dwnend4(unsigned short) override { return note(u"dwnend4"_s); }
    short cnc_delete(unsigned short, short number) override
    {
        return note(u"delete(%1)"_s.arg(number), result);
    }
    short cnc_renameprog(unsigned short, long a, long b) override
    {
        return note(u"renameprog(%1,%2)"_s.arg(a).arg(b), result);
    }
    short cnc_rdpdf_curdir(unsigned short, short t, char* dir) override
    {
        qstrncpy(dir, curdir.constData(), PathField);
        return note(u"rdpdf_curdir(%1)"_s.arg(t));
    }
    short cnc_wrpdf_curdir(unsigned short, short t, const QByteArray& dir) override
    {
        curdir = dir;
        return note(u"wrpdf_curdir(%1,%2)"_s.arg(t).arg(text(dir)));
    }
    short cnc_rdpdf_subdirn(unsigned short, const QByteArray& path, ODBPDFNFIL* counts) override
    {
        counts->dir_num = 1;
        counts->file_num = 2;
        return note(u"rdpdf_subdirn(%1)"_s.arg(text(path)));
    }
    short cnc_rdpdf_alldir(unsigned short, short* count, const IDBPDFADIR* request,
                           ODBPDFADIR* entry) override
    {
        calls << u"rdpdf_alldir(%1,%2,%3,%4,%5)"_s.arg(*count)
                     .arg(QString::fromLatin1(request->path))
                     .arg(request->req_num)
                     .arg(request->size_kind)
                     .arg(request->type);
        if (request->req_num == 2)
            return EW_NUMBER; // an entry the control cannot give
        entry->data_kind = request->req_num == 0 ? 0 : 1;
        entry->size = 42;
        qstrncpy(entry->d_f, request->req_num == 0 ? "SUB" : "O0010", sizeof entry->d_f);
        return EW_OK;
    }
    short cnc_pdf_add(unsigned short, const QByteArray& path) override
    {
        return note(u"pdf_add(%1)"_s.arg(text(path)), result);
    }
    short cnc_pdf_del(unsigned short, const QByteArray& path) override
    {
        return note(u"pdf_del(%1)"_s.arg(text(path)), result);
    }
    short cnc_pdf_rename(unsigned short, const QByteArray& path, const QByteArray& name) override
    {
        return note(u"pdf_rename(%1,%2)"_s.arg(text(path), text(name)), result);
    }

private:
    short note(const QString& call, short rc = EW_OK)
    {
        calls << call;
        return rc;
    }
    short upload(long* length, char* data)
    {
        calls << u"upload(%1)"_s.arg(*length);
        if (blocks.isEmpty()) {
            *length = 0;
            return uploadEnd;
        }
        const auto [rc, bytes] = blocks.takeFirst();
        std::memcpy(data, bytes.constData(), size_t(bytes.size()));
        *length = long(bytes.size());
        return rc;
    }
    short download(long* length)
    {
        calls << u"download(%1)"_s.arg(*length);
        const short rc = downloads.isEmpty() ? EW_OK : downloads.takeFirst();
        if (rc == EW_OK)
            *length = qMin(*length, takes);
        return rc;
    }
};

} // namespace

class TestFocas : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    RecordingCnc* m_cnc = nullptr;
    std::unique_ptr<TK_FOCAS> m_focas;

    // The calls after the connection's two.
    QStringList after(qsizetype from = 2) const { return m_cnc->calls.mid(from); }

private slots:
    void init()
    {
        ResetProcessState(m_dir.path());
        Clock::setScale(0.01);
        Config().RemoteHost = "10.0.0.7";
        Config().RemotePort = "8193";
        auto cnc = std::make_unique<RecordingCnc>();
        m_cnc = cnc.get();
        m_focas = std::make_unique<TK_FOCAS>(std::move(cnc));
    }

    void cleanup()
    {
        m_focas.reset();
        Clock::setScale(1);
        State().stopRequested = false;
    }

    void connectDecidesTheMode_data()
    {
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<bool>("folders");
        QTest::newRow("31: folders") << QByteArray("31") << true;
        QTest::newRow("30: folders") << QByteArray("30") << true;
        QTest::newRow("0: folders") << QByteArray(" 0") << true;
        QTest::newRow("16: numbers") << QByteArray("16") << false;
        QTest::newRow("letters: folders") << QByteArray("MA") << true;
    }

    void connectDecidesTheMode()
    {
        QFETCH(QByteArray, type);
        m_cnc->type = type;
        QVERIFY(m_focas->connect());
        QTEST(m_focas->folderMode(), "folders");
        QCOMPARE(m_cnc->calls, (QStringList{u"allclibhndl3(10.0.0.7,8193,3)"_s, u"sysinfo"_s}));
    }

    void numberModeListing()
    {
        m_cnc->type = "16";
        m_cnc->programs = {1, 100, 8000};
        RemoteListing listing;
        QVERIFY(m_focas->list(u".."_s, listing));
        QStringList names;
        for (const RemoteEntry& e : std::as_const(listing.entries))
            names << e.Nom;
        QCOMPARE(names, (QStringList{u"O0001"_s, u"O0100"_s, u"O8000"_s}));
        QCOMPARE(listing.entries[1].size, 1000);
        QCOMPARE(listing.entries[1].Comment, u"(C)"_s);
        QCOMPARE(after(), (QStringList{u"rdprogdir2(2,0,1)"_s, u"rdprogdir2(2,2,1)"_s,
                                       u"rdprogdir2(2,101,1)"_s, u"rdprogdir2(2,8001,1)"_s}));
    }

    void folderModeWalk()
    {
        RemoteListing listing;
        QVERIFY(m_focas->list(u"."_s, listing));
        QCOMPARE(m_focas->currentFolder(), QByteArray("//CNC_MEM/USER/PATH1/"));
        // "..", the folder and the file; the entry it could not give is left out.
        QCOMPARE(listing.entries.size(), 3);
        QCOMPARE(listing.entries[1].TypeFD, RemoteEntry::Folder);
        QCOMPARE(listing.entries[2].Nom, u"O0010"_s);
        QCOMPARE(after(),
                 (QStringList{u"rdpdf_curdir(2)"_s, u"wrpdf_curdir(2,//CNC_MEM/USER/PATH1/)"_s,
                              u"rdpdf_curdir(2)"_s, u"rdpdf_subdirn(//CNC_MEM/USER/PATH1/)"_s,
                              u"rdpdf_alldir(1,//CNC_MEM/USER/PATH1/,0,1,1)"_s,
                              u"rdpdf_alldir(1,//CNC_MEM/USER/PATH1/,1,1,1)"_s,
                              u"rdpdf_alldir(1,//CNC_MEM/USER/PATH1/,2,1,1)"_s}));
        QVERIFY(m_focas->list(u".."_s, listing));
        QCOMPARE(m_focas->currentFolder(), QByteArray("//CNC_MEM/USER/"));
        QVERIFY(m_focas->list(u"SUB"_s, listing));
        QCOMPARE(m_focas->currentFolder(), QByteArray("//CNC_MEM/USER/SUB/"));
    }

    // Each name-taking operation's calls, in both modes.
    void operations_data()
    {
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<bool>("done");
        QTest::newRow("delete O1234") << QByteArray("16") << u"rm"_s << u"O1234"_s << QString()
                                      << QStringList{u"delete(1234)"_s} << true;
        QTest::newRow("delete 1234 keeps its first digit")
            << QByteArray("16") << u"rm"_s << u"1234"_s << QString()
            << QStringList{u"delete(1234)"_s} << true;
        QTest::newRow("rename O0100 to 200")
            << QByteArray("16") << u"mv"_s << u"O0100"_s << u"200"_s
            << QStringList{u"renameprog(100,200)"_s} << true;
        QTest::newRow("no folders by number")
            << QByteArray("16") << u"mkdir"_s << u"X"_s << QString() << QStringList{} << false;
        QTest::newRow("delete in a folder")
            << QByteArray("31") << u"rm"_s << u"O1234"_s << QString()
            << QStringList{u"rdpdf_curdir(2)"_s, u"pdf_del(//CNC_MEM/USER/PATH1/O1234)"_s} << true;
        QTest::newRow("rename in a folder")
            << QByteArray("31") << u"mv"_s << u"A"_s << u"B"_s
            << QStringList{u"rdpdf_curdir(2)"_s, u"pdf_rename(//CNC_MEM/USER/PATH1/A\\0,B\\0)"_s}
            << true;
        QTest::newRow("make a folder")
            << QByteArray("31") << u"mkdir"_s << u"X"_s << QString()
            << QStringList{u"rdpdf_curdir(2)"_s, u"pdf_add(//CNC_MEM/USER/PATH1/X/)"_s} << true;
        QTest::newRow("remove a folder")
            << QByteArray("31") << u"rmdir"_s << u"X"_s << QString()
            << QStringList{u"rdpdf_curdir(2)"_s, u"pdf_del(//CNC_MEM/USER/PATH1/X/)"_s} << true;
        QTest::newRow("name longer than its field")
            << QByteArray("31") << u"rm"_s << QString(36, u'A') << QString() << QStringList{}
            << false;
    }

    void operations()
    {
        QFETCH(QByteArray, type);
        QFETCH(QString, op);
        QFETCH(QString, a);
        QFETCH(QString, b);
        m_cnc->type = type;
        bool done = false;
        if (op == u"rm"_s)
            done = m_focas->deleteFile(a);
        else if (op == u"mv"_s)
            done = m_focas->rename(a, b);
        else if (op == u"mkdir"_s)
            done = m_focas->createFolder(a);
        else if (op == u"rmdir"_s)
            done = m_focas->deleteFolder(a);
        QTEST(after(), "calls");
        QTEST(done, "done");
    }

    void programNumbers_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("number");
        QTest::newRow("O and digits") << u"O0100"_s << 100;
        QTest::newRow("digits") << u"1234"_s << 1234;
        QTest::newRow("with an extension") << u"O2000.nc"_s << 2000;
        QTest::newRow("no number") << u"PART"_s << -1;
        QTest::newRow("empty") << QString() << -1;
    }

    void programNumbers()
    {
        QFETCH(QString, name);
        QTEST(int(TK_FOCAS::ProgramNumber(name)), "number");
    }

    // Uploads keep only what each call gave, and end on 5, -2 or a fault.
    void upload_data()
    {
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QList<short>>("codes"); // one block "AB" each
        QTest::addColumn<short>("then");         // for ever after
        QTest::addColumn<QByteArray>("stored");  // "-": nothing stored
        QTest::newRow("number mode")
            << QByteArray("16") << QList<short>{0, 10, 0} << EW_DATA << QByteArray("ABAB");
        QTest::newRow("folder mode, a short block")
            << QByteArray("31") << QList<short>{0, 2} << EW_DATA << QByteArray("ABAB");
        QTest::newRow("reset ends it")
            << QByteArray("16") << QList<short>{0, -2} << EW_DATA << QByteArray("AB");
        QTest::newRow("lost connection")
            << QByteArray("16") << QList<short>{0, -16} << EW_DATA << QByteArray("-");
        QTest::newRow("busy for ever")
            << QByteArray("31") << QList<short>{0} << EW_BUSY << QByteArray("-");
    }

    void upload()
    {
        QFETCH(QByteArray, type);
        QFETCH(QList<short>, codes);
        QFETCH(short, then);
        QFETCH(QByteArray, stored);
        m_cnc->type = type;
        m_cnc->uploadEnd = then;
        for (short rc : codes)
            m_cnc->blocks.append({rc, QByteArray("AB")});
        const QString local = m_dir.filePath(u"got"_s);
        QFile::remove(local);
        const bool ok = m_focas->get(u"O0100"_s, local, {});
        QCOMPARE(ok, stored != "-");
        QCOMPARE(QFile::exists(local), stored != "-");
        if (ok)
            QCOMPARE(readFile(local), stored);
        QCOMPARE(m_cnc->calls.at(2),
                 type == "16" ? u"upstart3(0,100,100)"_s : u"upstart4(0,O0100)"_s);
        QVERIFY(m_cnc->calls.at(3).startsWith(u"upload(256)"_s));
        QCOMPARE(m_cnc->calls.last(), type == "16" ? u"upend3"_s : u"upend4"_s);
    }

    // The whole rest is offered each time; 10 offers it again; a fault ends it.
    void download_data()
    {
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QList<short>>("codes");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<bool>("done");
        QTest::newRow("first call 10")
            << QByteArray("16") << QList<short>{10}
            << QStringList{u"dwnstart3(0)"_s,  u"download(250)"_s, u"download(250)"_s,
                           u"download(150)"_s, u"download(50)"_s,  u"dwnend3"_s}
            << true;
        QTest::newRow("folder mode, lost connection")
            << QByteArray("31") << QList<short>{0, -16}
            << QStringList{u"dwnstart4(0,)"_s, u"download(250)"_s, u"download(150)"_s, u"dwnend4"_s}
            << false;
    }

    void download()
    {
        QFETCH(QByteArray, type);
        QFETCH(QList<short>, codes);
        m_cnc->type = type;
        m_cnc->downloads = codes;
        const QString local = m_dir.filePath(u"O2000.nc"_s);
        writeFile(local, QByteArray(250, 'x'));
        QTEST(m_focas->put(local, u"O2000.nc"_s), "done");
        QTEST(after(), "calls");
    }
};

QTEST_GUILESS_MAIN(TestFocas)
#include "tst_focas.moc"
