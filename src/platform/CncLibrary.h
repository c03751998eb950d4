#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace nodalis {

// The FANUC FOCAS library's calls that program transfers use, as the
// library's published documentation declares them: the records with their
// members, sizes and packing (4), and its return codes. Nothing here comes
// from a vendor header.
namespace focas {

#pragma pack(push, 4)
// cnc_sysinfo
struct ODBSYS
{
    short addinfo;
    short max_axis;
    char cnc_type[2]; // " 0", "16", "30", "31"...
    char mt_type[2];
    char series[4];
    char version[4];
    char axes[2];
};

// cnc_rdprogdir2, one entry per call with type 2
struct PRGDIR2
{
    short number;
    long length;
    char comment[51];
    char dummy;
};

// cnc_rdpdf_alldir: the request
struct IDBPDFADIR
{
    char path[212];
    short req_num;
    short size_kind;
    short type;
    short dummy;
};

// cnc_rdpdf_alldir: one entry
struct ODBPDFADIR
{
    short data_kind; // 0: folder, other: file
    short year;
    short mon;
    short day;
    short hour;
    short min;
    short sec;
    short dummy;
    long dummy2;
    long size;
    unsigned long attr;
    char d_f[36];
    char comment[52];
    char o_time[12];
};

// cnc_rdpdf_subdirn
struct ODBPDFNFIL
{
    short dir_num;
    short file_num;
};
#pragma pack(pop)

// Return codes.
constexpr short EW_OK = 0;
constexpr short EW_FUNC = 1;     // no such function (also: the library lacks it)
constexpr short EW_LENGTH = 2;   // length error
constexpr short EW_NUMBER = 3;   // no such number
constexpr short EW_ATTRIB = 4;   // attribute error
constexpr short EW_DATA = 5;     // data error: the end of an upload
constexpr short EW_NOOPT = 6;    // no option
constexpr short EW_PROT = 7;     // write protected
constexpr short EW_OVRFLOW = 8;  // memory full
constexpr short EW_BUSY = 10;    // buffer empty or full: call again
constexpr short EW_RESET = -2;   // reset or stop
constexpr short EW_HANDLE = -8;  // no such handle
constexpr short EW_SOCKET = -16; // the connection is lost

// Which fields and paths fit: names of a folder entry, folder paths.
constexpr int NameField = 36;
constexpr int PathField = 212;

} // namespace focas

// The library, one method per call. Strings are single-byte text; a
// string argument is passed with the NULs the caller wants in it (the
// library reads it as a C string). Buffers are filled by the library.
class CncLibrary
{
public:
    virtual ~CncLibrary() = default;

    virtual short cnc_allclibhndl3(const QByteArray& ipaddr, unsigned short port, long timeout,
                                   unsigned short* handle) = 0;
    virtual short cnc_freelibhndl(unsigned short handle) = 0;
    virtual short cnc_sysinfo(unsigned short handle, focas::ODBSYS* info) = 0;
    virtual short cnc_rdprogdir2(unsigned short handle, short type, short* top, short* count,
                                 focas::PRGDIR2* entries) = 0;

    virtual short cnc_upstart3(unsigned short handle, short type, long start, long end) = 0;
    virtual short cnc_upload3(unsigned short handle, long* length, char* data) = 0;
    virtual short cnc_upend3(unsigned short handle) = 0;
    virtual short cnc_upstart4(unsigned short handle, short type, const QByteArray& name) = 0;
    virtual short cnc_upload4(unsigned short handle, long* length, char* data) = 0;
    virtual short cnc_upend4(unsigned short handle) = 0;

    virtual short cnc_dwnstart3(unsigned short handle, short type) = 0;
    virtual short cnc_download3(unsigned short handle, long* length, const char* data) = 0;
    virtual short cnc_dwnend3(unsigned short handle) = 0;
    virtual short cnc_dwnstart4(unsigned short handle, short type, const QByteArray& folder) = 0;
    virtual short cnc_download4(unsigned short handle, long* length, const char* data) = 0;
    virtual short cnc_dwnend4(unsigned short handle) = 0;

    virtual short cnc_delete(unsigned short handle, short number) = 0;
    virtual short cnc_renameprog(unsigned short handle, long oldNumber, long newNumber) = 0;

    // dir: a buffer of focas::PathField characters.
    virtual short cnc_rdpdf_curdir(unsigned short handle, short type, char* dir) = 0;
    virtual short cnc_wrpdf_curdir(unsigned short handle, short type, const QByteArray& dir) = 0;
    virtual short cnc_rdpdf_subdirn(unsigned short handle, const QByteArray& path,
                                    focas::ODBPDFNFIL* counts) = 0;
    virtual short cnc_rdpdf_alldir(unsigned short handle, short* count,
                                   const focas::IDBPDFADIR* request, focas::ODBPDFADIR* entry) = 0;
    virtual short cnc_pdf_add(unsigned short handle, const QByteArray& path) = 0;
    virtual short cnc_pdf_del(unsigned short handle, const QByteArray& path) = 0;
    virtual short cnc_pdf_rename(unsigned short handle, const QByteArray& path,
                                 const QByteArray& name) = 0;
};

// The shop's FOCAS library, found at run time: `path` when not empty, else
// Fwlib32.dll or Fwlib64.dll (by build width) beside the server on
// Windows, libfwlib32.so on the library path elsewhere. Every symbol must
// resolve, or the library is refused whole. cnc_startupprocess is called
// where the library has it, cnc_exitprocess when it is unloaded. Never
// null: without a library, every call fails as a lost connection does
// (EW_SOCKET), and `why` says where it looked.
std::unique_ptr<CncLibrary> LoadCncLibrary(const QString& path, QString* why);

} // namespace nodalis
