#include "platform/CncLibrary.h"

#include "platform/LibraryCalls.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLibrary>

namespace nodalis {

namespace {

using namespace focas;
using H = unsigned short;

// Every call fails as a lost connection would.
class MissingCncLibrary : public CncLibrary
{
public:
    short cnc_allclibhndl3(const QByteArray&, H, long, H*) override { return EW_SOCKET; }
    short cnc_freelibhndl(H) override { return EW_SOCKET; }
    short cnc_sysinfo(H, ODBSYS*) override { return EW_SOCKET; }
    short cnc_rdprogdir2(H, short, short*, short*, PRGDIR2*) override { return EW_SOCKET; }
    short cnc_upstart3(H, short, long, long) override { return EW_SOCKET; }
    short cnc_upload3(H, long*, char*) override { return EW_SOCKET; }
    short cnc_upend3(H) override { return EW_SOCKET; }
    short cnc_upstart4(H, short, const QByteArray&) override { return EW_SOCKET; }
    short cnc_upload4(H, long*, char*) override { return EW_SOCKET; }
    short cnc_upend4(H) override { return EW_SOCKET; }
    short cnc_dwnstart3(H, short) override { return EW_SOCKET; }
    short cnc_download3(H, long*, const char*) override { return EW_SOCKET; }
    short cnc_dwnend3(H) override { return EW_SOCKET; }
    short cnc_dwnstart4(H, short, const QByteArray&) override { return EW_SOCKET; }
    short cnc_download4(H, long*, const char*) override { return EW_SOCKET; }
    short cnc_dwnend4(H) override { return EW_SOCKET; }
    short cnc_delete(H, short) override { return EW_SOCKET; }
    short cnc_renameprog(H, long, long) override { return EW_SOCKET; }
    short cnc_rdpdf_curdir(H, short, char*) override { return EW_SOCKET; }
    short cnc_wrpdf_curdir(H, short, const QByteArray&) override { return EW_SOCKET; }
    short cnc_rdpdf_subdirn(H, const QByteArray&, ODBPDFNFIL*) override { return EW_SOCKET; }
    short cnc_rdpdf_alldir(H, short*, const IDBPDFADIR*, ODBPDFADIR*) override { return EW_SOCKET; }
    short cnc_pdf_add(H, const QByteArray&) override { return EW_SOCKET; }
    short cnc_pdf_del(H, const QByteArray&) override { return EW_SOCKET; }
    short cnc_pdf_rename(H, const QByteArray&, const QByteArray&) override { return EW_SOCKET; }
};

// A string handed to the library: its own copy, NUL-terminated.
struct CString
{
    explicit CString(const QByteArray& text) : bytes(text) { bytes.append('\0'); }
    char* get() { return bytes.data(); }
    QByteArray bytes;
};

// The library's C calls, resolved by name.
class LoadedCncLibrary : public CncLibrary
{
public:
    // False, with the missing name, unless every call resolves.
    bool load(const QString& path, QString* why)
    {
        m_library.setFileName(path);
        if (!m_library.load()) {
            *why = m_library.errorString();
            return false;
        }
        LibraryCalls calls(m_library, why);
        calls.need(allclibhndl3, "cnc_allclibhndl3");
        calls.need(freelibhndl, "cnc_freelibhndl");
        calls.need(sysinfo, "cnc_sysinfo");
        calls.need(rdprogdir2, "cnc_rdprogdir2");
        calls.need(upstart3, "cnc_upstart3");
        calls.need(upload3, "cnc_upload3");
        calls.need(upend3, "cnc_upend3");
        calls.need(upstart4, "cnc_upstart4");
        calls.need(upload4, "cnc_upload4");
        calls.need(upend4, "cnc_upend4");
        calls.need(dwnstart3, "cnc_dwnstart3");
        calls.need(download3, "cnc_download3");
        calls.need(dwnend3, "cnc_dwnend3");
        calls.need(dwnstart4, "cnc_dwnstart4");
        calls.need(download4, "cnc_download4");
        calls.need(dwnend4, "cnc_dwnend4");
        calls.need(del, "cnc_delete");
        calls.need(renameprog, "cnc_renameprog");
        calls.need(rdcurdir, "cnc_rdpdf_curdir");
        calls.need(wrcurdir, "cnc_wrpdf_curdir");
        calls.need(subdirn, "cnc_rdpdf_subdirn");
        calls.need(alldir, "cnc_rdpdf_alldir");
        calls.need(pdfadd, "cnc_pdf_add");
        calls.need(pdfdel, "cnc_pdf_del");
        calls.need(pdfrename, "cnc_pdf_rename");
        if (!calls.ok()) {
            m_library.unload();
            return false;
        }
        // The Linux library needs its process set up first; others lack it.
        m_exit = reinterpret_cast<short (*)()>(m_library.resolve("cnc_exitprocess"));
        if (auto startup = reinterpret_cast<short (*)(long, const char*)>(
                m_library.resolve("cnc_startupprocess"))) {
            const QByteArray log =
                QFile::encodeName(QDir::temp().filePath(QStringLiteral("focas.log")));
            startup(0, log.constData());
        }
        return true;
    }

    ~LoadedCncLibrary() override
    {
        if (m_exit)
            m_exit();
    }

    short cnc_allclibhndl3(const QByteArray& ip, H port, long timeout, H* handle) override
    {
        return allclibhndl3(ip.constData(), port, timeout, handle);
    }
    short cnc_freelibhndl(H h) override { return freelibhndl(h); }
    short cnc_sysinfo(H h, ODBSYS* info) override { return sysinfo(h, info); }
    short cnc_rdprogdir2(H h, short type, short* top, short* count, PRGDIR2* entries) override
    {
        return rdprogdir2(h, type, top, count, entries);
    }
    short cnc_upstart3(H h, short type, long start, long end) override
    {
        return upstart3(h, type, start, end);
    }
    short cnc_upload3(H h, long* length, char* data) override { return upload3(h, length, data); }
    short cnc_upend3(H h) override { return upend3(h); }
    short cnc_upstart4(H h, short type, const QByteArray& name) override
    {
        return upstart4(h, type, CString(name).get());
    }
    short cnc_upload4(H h, long* length, char* data) override { return upload4(h, length, data); }
    short cnc_upend4(H h) override { return upend4(h); }
    short cnc_dwnstart3(H h, short type) override { return dwnstart3(h, type); }
    short cnc_download3(H h, long* length, const char* data) override
    {
        return download3(h, length, const_cast<char*>(data));
    }
    short cnc_dwnend3(H h) override { return dwnend3(h); }
    short cnc_dwnstart4(H h, short type, const QByteArray& folder) override
    {
        return dwnstart4(h, type, CString(folder).get());
    }
    short cnc_download4(H h, long* length, const char* data) override
    {
        return download4(h, length, const_cast<char*>(data));
    }
    short cnc_dwnend4(H h) override { return dwnend4(h); }
    short cnc_delete(H h, short number) override { return del(h, number); }
    short cnc_renameprog(H h, long from, long to) override { return renameprog(h, from, to); }
    short cnc_rdpdf_curdir(H h, short type, char* dir) override { return rdcurdir(h, type, dir); }
    short cnc_wrpdf_curdir(H h, short type, const QByteArray& dir) override
    {
        return wrcurdir(h, type, CString(dir).get());
    }
    short cnc_rdpdf_subdirn(H h, const QByteArray& path, ODBPDFNFIL* counts) override
    {
        // The library reads a whole path field.
        QByteArray field = path.left(PathField - 1);
        field.resize(PathField, '\0');
        return subdirn(h, field.data(), counts);
    }
    short cnc_rdpdf_alldir(H h, short* count, const IDBPDFADIR* request, ODBPDFADIR* entry) override
    {
        IDBPDFADIR copy = *request;
        return alldir(h, count, &copy, entry);
    }
    short cnc_pdf_add(H h, const QByteArray& path) override
    {
        return pdfadd(h, CString(path).get());
    }
    short cnc_pdf_del(H h, const QByteArray& path) override
    {
        return pdfdel(h, CString(path).get());
    }
    short cnc_pdf_rename(H h, const QByteArray& path, const QByteArray& name) override
    {
        return pdfrename(h, CString(path).get(), CString(name).get());
    }

private:
    QLibrary m_library;
    short (*m_exit)() = nullptr;
    short (*allclibhndl3)(const char*, H, long, H*) = nullptr;
    short (*freelibhndl)(H) = nullptr;
    short (*sysinfo)(H, ODBSYS*) = nullptr;
    short (*rdprogdir2)(H, short, short*, short*, PRGDIR2*) = nullptr;
    short (*upstart3)(H, short, long, long) = nullptr;
    short (*upload3)(H, long*, char*) = nullptr;
    short (*upend3)(H) = nullptr;
    short (*upstart4)(H, short, char*) = nullptr;
    short (*upload4)(H, long*, char*) = nullptr;
    short (*upend4)(H) = nullptr;
    short (*dwnstart3)(H, short) = nullptr;
    short (*download3)(H, long*, char*) = nullptr;
    short (*dwnend3)(H) = nullptr;
    short (*dwnstart4)(H, short, char*) = nullptr;
    short (*download4)(H, long*, char*) = nullptr;
    short (*dwnend4)(H) = nullptr;
    short (*del)(H, short) = nullptr;
    short (*renameprog)(H, long, long) = nullptr;
    short (*rdcurdir)(H, short, char*) = nullptr;
    short (*wrcurdir)(H, short, char*) = nullptr;
    short (*subdirn)(H, char*, ODBPDFNFIL*) = nullptr;
    short (*alldir)(H, short*, IDBPDFADIR*, ODBPDFADIR*) = nullptr;
    short (*pdfadd)(H, char*) = nullptr;
    short (*pdfdel)(H, char*) = nullptr;
    short (*pdfrename)(H, char*, char*) = nullptr;
};

QString defaultLibrary()
{
#ifdef Q_OS_WIN
    const QString name =
        sizeof(void*) == 8 ? QStringLiteral("Fwlib64.dll") : QStringLiteral("Fwlib32.dll");
    return QDir(QCoreApplication::applicationDirPath()).filePath(name);
#else
    return QStringLiteral("libfwlib32.so");
#endif
}

} // namespace

std::unique_ptr<CncLibrary> LoadCncLibrary(const QString& path, QString* why)
{
    const QString where = path.isEmpty() ? defaultLibrary() : path;
    auto loaded = std::make_unique<LoadedCncLibrary>();
    QString reason;
    if (loaded->load(where, &reason))
        return loaded;
    if (why)
        *why = QStringLiteral("bibliothèque FOCAS introuvable ou incomplète (") + where +
               QStringLiteral(") : ") + reason;
    return std::make_unique<MissingCncLibrary>();
}

} // namespace nodalis
