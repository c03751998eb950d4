#pragma once

#include "platform/CncLibrary.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>

namespace nodalis {

// A FANUC control played over a folder on disk, the control's memory, for
// commissioning and tests of FOCAS transfers. The folder holds control.ini
// (section [control], read again at each connect) and the programs:
//   number mode: files O<number> directly in the folder (O1234, O0100);
//   folder mode: a tree CNC_MEM/USER/..., seen by the control as
//                //CNC_MEM/USER/...; the number calls (rdprogdir2,
//                upstart3, dwnend3, delete, renameprog) work on the current
//                folder there.
// control.ini keys:
//   CncType=31          sysinfo's type; also picks the default mode
//   Mode=folder|number  default: folder for type 0 and 30 up, else number;
//                       in number mode the folder calls give EW_FUNC
//   RefuseConnect=1     connecting fails with EW_SOCKET
//   Busy10=N            the next N transfer data calls give EW_BUSY (-1: all)
//   DropAfterBytes=N    the connection is lost once a transfer moved N bytes
//   BytesPerCall=K      a download data call takes at most K bytes (1460)
//   MemoryFull=1        downloads and pdf_add give EW_OVRFLOW
//   Reset=1             upload data calls give EW_RESET
// Not thread-safe: callers serialize.
class SimulatedCnc : public CncLibrary
{
public:
    explicit SimulatedCnc(const QString& folder);

    short cnc_allclibhndl3(const QByteArray& ipaddr, unsigned short port, long timeout,
                           unsigned short* handle) override;
    short cnc_freelibhndl(unsigned short handle) override;
    short cnc_sysinfo(unsigned short handle, focas::ODBSYS* info) override;
    short cnc_rdprogdir2(unsigned short handle, short type, short* top, short* count,
                         focas::PRGDIR2* entries) override;

    short cnc_upstart3(unsigned short handle, short type, long start, long end) override;
    short cnc_upload3(unsigned short handle, long* length, char* data) override;
    short cnc_upend3(unsigned short handle) override;
    short cnc_upstart4(unsigned short handle, short type, const QByteArray& name) override;
    short cnc_upload4(unsigned short handle, long* length, char* data) override;
    short cnc_upend4(unsigned short handle) override;

    short cnc_dwnstart3(unsigned short handle, short type) override;
    short cnc_download3(unsigned short handle, long* length, const char* data) override;
    short cnc_dwnend3(unsigned short handle) override;
    short cnc_dwnstart4(unsigned short handle, short type, const QByteArray& folder) override;
    short cnc_download4(unsigned short handle, long* length, const char* data) override;
    short cnc_dwnend4(unsigned short handle) override;

    short cnc_delete(unsigned short handle, short number) override;
    short cnc_renameprog(unsigned short handle, long oldNumber, long newNumber) override;

    short cnc_rdpdf_curdir(unsigned short handle, short type, char* dir) override;
    short cnc_wrpdf_curdir(unsigned short handle, short type, const QByteArray& dir) override;
    short cnc_rdpdf_subdirn(unsigned short handle, const QByteArray& path,
                            focas::ODBPDFNFIL* counts) override;
    short cnc_rdpdf_alldir(unsigned short handle, short* count, const focas::IDBPDFADIR* request,
                           focas::ODBPDFADIR* entry) override;
    short cnc_pdf_add(unsigned short handle, const QByteArray& path) override;
    short cnc_pdf_del(unsigned short handle, const QByteArray& path) override;
    short cnc_pdf_rename(unsigned short handle, const QByteArray& path,
                         const QByteArray& name) override;

private:
    enum class Transfer
    {
        None,
        Upload,
        Missing, // an upload of a program that is not there
        Download,
    };

    void readControl();
    short check(unsigned short handle) const;
    short checkFolderCall(unsigned short handle) const;
    QString local(const QString& controlPath) const;
    QString programFolder() const;
    short dataGate();
    short upstart(const QString& file);
    short upload(unsigned short handle, long* length, char* data);
    short upend(unsigned short handle);
    short download(unsigned short handle, long* length, const char* data);
    short dwnend(unsigned short handle);

    QString m_folder;

    // From control.ini.
    char m_cncType[2] = {'3', '1'};
    bool m_folderMode = true;
    bool m_refuseConnect = false;
    int m_busy = 0;
    qint64 m_dropAfter = -1;
    qint64 m_bytesPerCall = 1460;
    bool m_memoryFull = false;
    bool m_reset = false;

    bool m_connected = false;
    bool m_dropped = false;
    QString m_currentDir; // a control path, ends with '/'

    Transfer m_transfer = Transfer::None;
    QByteArray m_text;                         // the whole transfer text
    qsizetype m_sent = 0;                      // upload: how much of m_text was given
    qint64 m_moved = 0;                        // bytes moved by data calls in this transfer
    QString m_targetDir;                       // download: the local folder to write into
    QList<std::pair<long, QString>> m_listing; // the programs of the listing under way
    QString m_listingDir;
};

} // namespace nodalis
