// The simulated control as a FOCAS library: the C calls a shop's library
// exports, over one SimulatedCnc for the process. The memory folder is named
// by NODALIS_FOCAS_SIM; without it every call fails as a lost connection.

#include "SimulatedCnc.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <mutex>

#if defined(_WIN32)
#define NODALIS_FOCAS_EXPORT extern "C" __declspec(dllexport)
#else
#define NODALIS_FOCAS_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using nodalis::SimulatedCnc;
using namespace nodalis::focas;

namespace {

std::mutex lock;

SimulatedCnc* instance()
{
    static const std::unique_ptr<SimulatedCnc> cnc = [] {
        const QString folder = qEnvironmentVariable("NODALIS_FOCAS_SIM");
        return folder.isEmpty() ? nullptr : std::make_unique<SimulatedCnc>(folder);
    }();
    return cnc.get();
}

template <typename Call> short run(Call call)
{
    const std::lock_guard<std::mutex> guard(lock);
    SimulatedCnc* cnc = instance();
    return cnc ? call(*cnc) : EW_SOCKET;
}

QByteArray text(const char* s)
{
    return s ? QByteArray(s) : QByteArray();
}

} // namespace

NODALIS_FOCAS_EXPORT short cnc_startupprocess(long, const char*)
{
    return EW_OK;
}
NODALIS_FOCAS_EXPORT short cnc_exitprocess()
{
    return EW_OK;
}

NODALIS_FOCAS_EXPORT short cnc_allclibhndl3(const char* ip, unsigned short port, long timeout,
                                            unsigned short* h)
{
    return run([&](SimulatedCnc& c) { return c.cnc_allclibhndl3(text(ip), port, timeout, h); });
}

NODALIS_FOCAS_EXPORT short cnc_freelibhndl(unsigned short h)
{
    return run([&](SimulatedCnc& c) { return c.cnc_freelibhndl(h); });
}

NODALIS_FOCAS_EXPORT short cnc_sysinfo(unsigned short h, ODBSYS* info)
{
    return run([&](SimulatedCnc& c) { return c.cnc_sysinfo(h, info); });
}

NODALIS_FOCAS_EXPORT short cnc_rdprogdir2(unsigned short h, short type, short* top, short* num,
                                          PRGDIR2* buf)
{
    return run([&](SimulatedCnc& c) { return c.cnc_rdprogdir2(h, type, top, num, buf); });
}

NODALIS_FOCAS_EXPORT short cnc_upstart3(unsigned short h, short type, long start, long end)
{
    return run([&](SimulatedCnc& c) { return c.cnc_upstart3(h, type, start, end); });
}

NODALIS_FOCAS_EXPORT short cnc_upload3(unsigned short h, long* length, char* data)
{
    return run([&](SimulatedCnc& c) { return c.cnc_upload3(h, length, data); });
}

NODALIS_FOCAS_EXPORT short cnc_upend3(unsigned short h)
{
    return run([&](SimulatedCnc& c) { return c.cnc_upend3(h); });
}

NODALIS_FOCAS_EXPORT short cnc_upstart4(unsigned short h, short type, char* name)
{
    return run([&](SimulatedCnc& c) { return c.cnc_upstart4(h, type, text(name)); });
}

NODALIS_FOCAS_EXPORT short cnc_upload4(unsigned short h, long* length, char* data)
{
    return run([&](SimulatedCnc& c) { return c.cnc_upload4(h, length, data); });
}

NODALIS_FOCAS_EXPORT short cnc_upend4(unsigned short h)
{
    return run([&](SimulatedCnc& c) { return c.cnc_upend4(h); });
}

NODALIS_FOCAS_EXPORT short cnc_dwnstart3(unsigned short h, short type)
{
    return run([&](SimulatedCnc& c) { return c.cnc_dwnstart3(h, type); });
}

NODALIS_FOCAS_EXPORT short cnc_download3(unsigned short h, long* length, char* data)
{
    return run([&](SimulatedCnc& c) { return c.cnc_download3(h, length, data); });
}

NODALIS_FOCAS_EXPORT short cnc_dwnend3(unsigned short h)
{
    return run([&](SimulatedCnc& c) { return c.cnc_dwnend3(h); });
}

NODALIS_FOCAS_EXPORT short cnc_dwnstart4(unsigned short h, short type, char* folder)
{
    return run([&](SimulatedCnc& c) { return c.cnc_dwnstart4(h, type, text(folder)); });
}

NODALIS_FOCAS_EXPORT short cnc_download4(unsigned short h, long* length, char* data)
{
    return run([&](SimulatedCnc& c) { return c.cnc_download4(h, length, data); });
}

NODALIS_FOCAS_EXPORT short cnc_dwnend4(unsigned short h)
{
    return run([&](SimulatedCnc& c) { return c.cnc_dwnend4(h); });
}

NODALIS_FOCAS_EXPORT short cnc_delete(unsigned short h, short number)
{
    return run([&](SimulatedCnc& c) { return c.cnc_delete(h, number); });
}

NODALIS_FOCAS_EXPORT short cnc_renameprog(unsigned short h, long oldnum, long newnum)
{
    return run([&](SimulatedCnc& c) { return c.cnc_renameprog(h, oldnum, newnum); });
}

NODALIS_FOCAS_EXPORT short cnc_rdpdf_curdir(unsigned short h, short type, char* dir)
{
    return run([&](SimulatedCnc& c) { return c.cnc_rdpdf_curdir(h, type, dir); });
}

NODALIS_FOCAS_EXPORT short cnc_wrpdf_curdir(unsigned short h, short type, char* dir)
{
    return run([&](SimulatedCnc& c) { return c.cnc_wrpdf_curdir(h, type, text(dir)); });
}

NODALIS_FOCAS_EXPORT short cnc_rdpdf_subdirn(unsigned short h, char* path, ODBPDFNFIL* counts)
{
    return run([&](SimulatedCnc& c) { return c.cnc_rdpdf_subdirn(h, text(path), counts); });
}

NODALIS_FOCAS_EXPORT short cnc_rdpdf_alldir(unsigned short h, short* num, IDBPDFADIR* in,
                                            ODBPDFADIR* out)
{
    return run([&](SimulatedCnc& c) { return c.cnc_rdpdf_alldir(h, num, in, out); });
}

NODALIS_FOCAS_EXPORT short cnc_pdf_add(unsigned short h, char* path)
{
    return run([&](SimulatedCnc& c) { return c.cnc_pdf_add(h, text(path)); });
}

NODALIS_FOCAS_EXPORT short cnc_pdf_del(unsigned short h, char* path)
{
    return run([&](SimulatedCnc& c) { return c.cnc_pdf_del(h, text(path)); });
}

NODALIS_FOCAS_EXPORT short cnc_pdf_rename(unsigned short h, char* path, char* name)
{
    return run([&](SimulatedCnc& c) { return c.cnc_pdf_rename(h, text(path), text(name)); });
}
