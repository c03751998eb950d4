#pragma once

#include "platform/CncLibrary.h"
#include "protocols/RemoteTransport.h"

#include <QByteArray>

#include <memory>

namespace nodalis {

// A FANUC control's programs over Ethernet through the shop's FOCAS
// library (FocasLibrary, else the library's usual name): older controls
// address programs by number, 0i and 30i series (CNC type 0, or 30 and
// up) by path in a folder tree. The mode is read at each connection; one
// handle serves every operation until the disconnection.
//
// The transfer loops let events run between library calls and end on a
// stop, on any code that means neither "go on" nor "call again", and
// after 10 s of "call again" (code 10). Names that do not fit their field
// (36 characters, paths 212) are refused, never cut.
class TK_FOCAS : public RemoteTransport
{
public:
    // How long code 10 ("buffer empty or full") is retried.
    static constexpr qint64 BusyLimitMs = 10000;

    // Without a library given, it is loaded at the first connection.
    explicit TK_FOCAS(std::unique_ptr<CncLibrary> library = {});
    ~TK_FOCAS() override;

    // A program's number: the whole name when it is numeric, else the
    // name without its first character when that is not a digit ("O1234"
    // and "1234" are both 1234); -1 when that gives no number.
    static long ProgramNumber(const QString& name);
    // "//CNC_MEM/USER/PATH1/" gives "//CNC_MEM/USER/".
    static QByteArray ParentFolder(const QByteArray& folder);

    bool folderMode() const { return m_folderMode; }
    QByteArray currentFolder() const { return m_folder; }

    bool connect() override;
    void disconnect() override;
    bool list(const QString& folder, RemoteListing& listing) override;
    bool put(const QString& localPath, const QString& name) override;
    bool get(const QString& name, const QString& localPath, const Progress& progress) override;
    bool deleteFile(const QString& name) override;
    bool deleteFolder(const QString& name) override;
    bool rename(const QString& from, const QString& to) override;
    bool createFolder(const QString& name) override;
    bool createTextFile(const QString& name) override;
    QString lastError() const override { return m_lastError; }

private:
    bool ready();
    // False, with the reason, for a name the control's fields cannot hold.
    bool fits(const QString& name, int field);
    QByteArray readCurrentFolder();
    bool listPrograms(RemoteListing& listing);
    bool listFolder(RemoteListing& listing);
    bool failed(const QString& why);
    // A folder of the current one made or removed (its path ends in "/").
    using FolderCall = short (CncLibrary::*)(unsigned short, const QByteArray&);
    bool onFolder(const QString& name, FolderCall call, const QString& refused);

    std::unique_ptr<CncLibrary> m_library;
    unsigned short m_handle = 0;
    bool m_connected = false;
    bool m_folderMode = false;
    QByteArray m_folder; // folder mode: the folder last listed
    QString m_missing;   // why no library could be loaded
    QString m_lastError;
};

} // namespace nodalis
