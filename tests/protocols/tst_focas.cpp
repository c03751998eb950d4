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

template <class T> QString shown(const T& value)
{
    if constexpr (std::is_same_v<T, QByteArray>)
        return QString::fromLatin1(QByteArray(value).replace('\0', "\\0"));
    else
        return QString::number(value);
}

// Notes every call with its arguments; answers from what the test set.
class RecordingCnc : public CncLibrary
{
    using H = unsigned short;

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

    short cnc_allclibhndl3(const QByteArray& ip, H port, long timeout, H* h) override
    {
        *h = 7;
        return ok("allclibhndl3", ip, port, timeout);
    }
    short cnc_freelibhndl(H h) override { return ok("freelibhndl", h); }
    short cnc_sysinfo(H, ODBSYS* info) override
    {
        std::memcpy(info->cnc_type, type.constData(), 2);
        return ok("sysinfo");
    }
    short cnc_rdprogdir2(H, short type2, short* top, short* count, PRGDIR2* entry) override
    {
        ok("rdprogdir2", type2, *top, *count);
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
    short cnc_upstart3(H, short t, long a, long b) override { return ok("upstart3", t, a, b); }
    short cnc_upload3(H, long* length, char* data) override { return upload(length, data); }
    short cnc_upend3(H) override { return ok("upend3"); }
    short cnc_upstart4(H, short t, const QByteArray& name) override
    {
        return ok("upstart4", t, name);
    }
    short cnc_upload4(H, long* length, char* data) override { return upload(length, data); }
    short cnc_upend4(H) override { return ok("upend4"); }
    short cnc_dwnstart3(H, short t) override { return ok("dwnstart3", t); }
    short cnc_download3(H, long* length, const char*) override { return download(length); }
    short cnc_dwnend3(H) override { return ok("dwnend3"); }
    short cnc_dwnstart4(H, short t, const QByteArray& dir) override
    {
        return ok("dwnstart4", t, dir);
    }
    short cnc_download4(H, long* length, const char*) override { return download(length); }
    short cnc_dwnend4(H) override { return ok("dwnend4"); }
    short cnc_delete(H, short number) override { return note(result, "delete", number); }
    short cnc_renameprog(H, long a, long b) override { return note(result, "renameprog", a, b); }
    short cnc_rdpdf_curdir(H, short t, char* dir) override
    {
        qstrncpy(dir, curdir.constData(), PathField);
        return ok("rdpdf_curdir", t);
    }
    short cnc_wrpdf_curdir(H, short t, const QByteArray& dir) override
    {
        curdir = dir;
        return ok("wrpdf_curdir", t, dir);
    }
    short cnc_rdpdf_subdirn(H, const QByteArray& path, ODBPDFNFIL* counts) override
    {
        counts->dir_num = 1;
        counts->file_num = 2;
        return ok("rdpdf_subdirn", path);
    }
    short cnc_rdpdf_alldir(H, short* count, const IDBPDFADIR* in, ODBPDFADIR* entry) override
    {
        ok("rdpdf_alldir", *count, QByteArray(in->path), in->req_num, in->size_kind, in->type);
        if (in->req_num == 2)
            return EW_NUMBER; // an entry the control cannot give
        entry->data_kind = in->req_num == 0 ? 0 : 1;
        entry->size = 42;
        qstrncpy(entry->d_f, in->req_num == 0 ? "SUB" : "O0010", sizeof entry->d_f);
        return EW_OK;
    }
    short cnc_pdf_add(H, const QByteArray& path) override { return note(result, "pdf_add", path); }
    short cnc_pdf_del(H, const QByteArray& path) override { return note(result, "pdf_del", path); }
    short cnc_pdf_rename(H, const QByteArray& path, const QByteArray& name) override
    {
        return note(result, "pdf_rename", path, name);
    }

private:
    template <class... A> short note(short rc, const char* call, const A&... args)
    {
        const QStringList all{shown(args)...};
        calls << QString::fromLatin1(call) +
                     (all.isEmpty() ? QString() : u'(' + all.join(u',') + u')');
        return rc;
    }
    template <class... A> short ok(const char* call, const A&... args)
    {
        return note(EW_OK, call, args...);
    }
    short upload(long* length, char* data)
    {
        ok("upload", *length);
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
        ok("download", *length);
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

    // The mode is decided again at each connection.
    void connectDecidesTheMode_data()
    {
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<bool>("folders");
        QTest::newRow("30: folders") << QByteArray("30") << true;
        QTest::newRow("0: folders") << QByteArray(" 0") << true;
        QTest::newRow("16: numbers") << QByteArray("16") << false;
        QTest::newRow("letters: folders") << QByteArray("MA") << true;
    }

    void connectDecidesTheMode()
    {
        QFETCH(QByteArray, type);
        QFETCH(bool, folders);
        m_cnc->type = type == "16" ? "31" : "16";
        QVERIFY(m_focas->connect());
        QCOMPARE(m_focas->folderMode(), !folders);
        m_cnc->type = type;
        QVERIFY(m_focas->connect());
        QCOMPARE(m_focas->folderMode(), folders);
        QCOMPARE(m_cnc->calls.mid(0, 2),
                 (QStringList{u"allclibhndl3(10.0.0.7,8193,3)"_s, u"sysinfo"_s}));
        QCOMPARE(after(), (QStringList{u"freelibhndl(7)"_s, u"allclibhndl3(10.0.0.7,8193,3)"_s,
                                       u"sysinfo"_s}));
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

    // Each name-taking operation's calls, in both modes; in number mode the
    // name gives the program number. No call: refused.
    void operations_data()
    {
        QTest::addColumn<bool>("folders");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("calls");
        QTest::newRow("delete O1234") << false << u"rm O1234"_s << u"delete(1234)"_s;
        QTest::newRow("delete 1234 keeps its first digit")
            << false << u"rm 1234"_s << u"delete(1234)"_s;
        QTest::newRow("delete O2000.nc") << false << u"rm O2000.nc"_s << u"delete(2000)"_s;
        QTest::newRow("no number in PART") << false << u"rm PART"_s << QString();
        QTest::newRow("rename O0100 to 200")
            << false << u"mv O0100 200"_s << u"renameprog(100,200)"_s;
        QTest::newRow("no folders by number") << false << u"mkdir X"_s << QString();
        QTest::newRow("delete in a folder")
            << true << u"rm O1234"_s << u"rdpdf_curdir(2); pdf_del(//CNC_MEM/USER/PATH1/O1234)"_s;
        QTest::newRow("rename in a folder")
            << true << u"mv A B"_s
            << u"rdpdf_curdir(2); pdf_rename(//CNC_MEM/USER/PATH1/A\\0,B\\0)"_s;
        QTest::newRow("make a folder")
            << true << u"mkdir X"_s << u"rdpdf_curdir(2); pdf_add(//CNC_MEM/USER/PATH1/X/)"_s;
        QTest::newRow("remove a folder")
            << true << u"rmdir X"_s << u"rdpdf_curdir(2); pdf_del(//CNC_MEM/USER/PATH1/X/)"_s;
        QTest::newRow("name longer than its field")
            << true << u"rm "_s + QString(36, u'A') << QString();
    }

    void operations()
    {
        QFETCH(bool, folders);
        QFETCH(QString, command);
        m_cnc->type = folders ? "31" : "16";
        const QStringList words = command.split(u' ');
        const QString op = words[0], a = words.value(1), b = words.value(2);
        bool done = false;
        if (op == u"rm"_s)
            done = m_focas->deleteFile(a);
        else if (op == u"mv"_s)
            done = m_focas->rename(a, b);
        else if (op == u"mkdir"_s)
            done = m_focas->createFolder(a);
        else if (op == u"rmdir"_s)
            done = m_focas->deleteFolder(a);
        QTEST(after().join(u"; "_s), "calls");
        QCOMPARE(done, !after().isEmpty());
    }

    // Uploads keep only what each call gave, and end on 5, -2 or a fault.
    void upload_data()
    {
        QTest::addColumn<bool>("folders");
        QTest::addColumn<QList<short>>("codes"); // one block "AB" each
        QTest::addColumn<short>("then");         // for ever after
        QTest::addColumn<QByteArray>("stored");  // "-": nothing stored
        QTest::newRow("number mode")
            << false << QList<short>{0, 10, 0} << EW_DATA << QByteArray("ABAB");
        QTest::newRow("folder mode, a short block")
            << true << QList<short>{0, 2} << EW_DATA << QByteArray("ABAB");
        QTest::newRow("reset ends it")
            << false << QList<short>{0, -2} << EW_DATA << QByteArray("AB");
        QTest::newRow("lost connection")
            << false << QList<short>{0, -16} << EW_DATA << QByteArray("-");
        QTest::newRow("busy for ever") << true << QList<short>{0} << EW_BUSY << QByteArray("-");
    }

    void upload()
    {
        QFETCH(bool, folders);
        QFETCH(QList<short>, codes);
        QFETCH(short, then);
        QFETCH(QByteArray, stored);
        m_cnc->type = folders ? "31" : "16";
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
        QCOMPARE(m_cnc->calls.at(2), folders ? u"upstart4(0,O0100)"_s : u"upstart3(0,100,100)"_s);
        QVERIFY(m_cnc->calls.at(3).startsWith(u"upload(256)"_s));
        QCOMPARE(m_cnc->calls.last(), folders ? u"upend4"_s : u"upend3"_s);
    }

    // The whole rest is offered each time; 10 offers it again; a fault ends it.
    void download_data()
    {
        QTest::addColumn<bool>("folders");
        QTest::addColumn<QList<short>>("codes");
        QTest::addColumn<QString>("calls");
        QTest::addColumn<bool>("done");
        QTest::newRow("first call 10")
            << false << QList<short>{10}
            << u"dwnstart3(0); download(250); download(250); download(150); download(50); dwnend3"_s
            << true;
        QTest::newRow("folder mode, lost connection")
            << true << QList<short>{0, -16}
            << u"dwnstart4(0,); download(250); download(150); dwnend4"_s << false;
    }

    void download()
    {
        QFETCH(bool, folders);
        QFETCH(QList<short>, codes);
        m_cnc->type = folders ? "31" : "16";
        m_cnc->downloads = codes;
        const QString local = m_dir.filePath(u"O2000.nc"_s);
        writeFile(local, QByteArray(250, 'x'));
        QTEST(m_focas->put(local, u"O2000.nc"_s), "done");
        QTEST(after().join(u"; "_s), "calls");
    }
};

QTEST_GUILESS_MAIN(TestFocas)
#include "tst_focas.moc"
