#pragma once

#include "protocols/RemoteTransport.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

namespace nodalis {

class ClsTNCRemo;
class PortEngine;
class SharedFolder;

// A file or folder the program-management application asks to fetch
// (clsInfoFileToTransfert).
struct FileToTransfer
{
    bool isFolder = false;
    QString remoteName;
    QString localPath;    // a file to send
    QString targetFolder; // local folder a received file goes to, empty: the usual one
    QString NomFichier;
    qint32 CodeProgFichier = 0;
};

// The files of one transfer (clsListFileToTransfert).
class FilesToTransfer
{
public:
    void AddFile(const FileToTransfer& file) { m_items.append(file); }
    void AddFolder(const FileToTransfer& folder)
    {
        m_items.append(folder);
        m_items.last().isFolder = true;
    }
    const QList<FileToTransfer>& items() const { return m_items; }
    bool isEmpty() const { return m_items.isEmpty(); }
    void clear() { m_items.clear(); }

private:
    QList<FileToTransfer> m_items;
};

// The network explorer window's side of listening for a network method. The
// window implements it; without one, listening with TransfertBasic on asks
// for the file to fetch and fetches it.
class NetworkExplorer
{
public:
    virtual ~NetworkExplorer() = default;
    virtual void setMode(int mode, int methode) = 0;
    // Starts the explorer's part of listening.
    virtual void activate() = 0;
    virtual void showWindow() = 0;
    virtual void hideWindow() = 0;
    virtual void place(int left, int top, int width, int height) = 0;
    virtual void refresh() = 0;
};

// The remote-file operations of a networked machine (Methode 4: its FTP
// server; 6, 14, 19: a folder it shares; 17, 18: a TNC control through the
// TNCremo tool; 21: a FANUC control through its FOCAS library; any other
// method: nothing, and every operation succeeds), each logged, and the
// procedures built on them: sending the prepared program, fetching files,
// reporting a listing, and the listening of the network methods.
class NetworkTransfer
{
public:
    // The cap of a listing: more entries make it fail.
    static constexpr qsizetype MaxEntries = 50000;
    // Folders deeper than this below one being deleted are not followed.
    static constexpr int MaxDepth = 32;

    explicit NetworkTransfer(PortEngine& engine);
    ~NetworkTransfer();

    // Plugs sending (4, 6, 14, 17, 18, 19, 21) and listening (4, 6 without
    // Specificite, 17, 18, 19, 21) into the engine's method table.
    void plugMethods();
    // Stops the transfer in progress (the host's stop).
    void setStopTransfer(std::function<void()> stop) { m_stopTransfer = std::move(stop); }
    void setExplorer(NetworkExplorer* explorer) { m_explorer = explorer; }
    // The transport of the current method; nullptr: none.
    RemoteTransport* transport();
    // Replace the FTP and FOCAS transports (tests).
    void setFtp(std::unique_ptr<RemoteTransport> ftp);
    void setFocas(std::unique_ptr<RemoteTransport> focas) { m_focas = std::move(focas); }

    bool Connect();
    bool ListRemoteFolder(const QString& folder, RemoteListing& listing);
    // False when nothing was put (no name, a No, or a failure: 907). A caller
    // that asked the operator itself passes askBeforeReplacing false.
    bool PutRemoteFile(const QString& localPath, QString name, bool askBeforeReplacing = true);
    bool GetRemoteFile(const QString& name, const QString& localPath);
    bool DeleteRemoteFile(const QString& name);
    bool DeleteRemoteFolder(const QString& name);
    bool RenameRemoteFile(const QString& from, const QString& to);
    bool CreateRemoteFolder(const QString& name);
    // The file holds text (followed by CR LF); an empty text makes an empty file.
    bool CreateRemoteTextFile(const QString& name, const QByteArray& text = {});
    QString RemoteFileName(const QString& localPath);
    // The files of the send file's companion folder (".dir"): under their
    // own names, or under remoteBase and their own extension.
    void PutCompanionFiles(const QString& sendFile, const QString& remoteBase, bool ownNames,
                           bool askBeforeReplacing = true);
    bool SendToNetworkMachine(const QString& remoteName, const QString& sendFile,
                              qint32 programCode);
    void ReceiveFromNetwork(const FilesToTransfer& files, bool concatenate);
    void ReportRemoteListing(const QString& folder, int k);
    void EndTransfer();
    void Disconnect();
    void ListenOnNetwork();
    // Hands the reception file, fetched from that remote file when named,
    // to the examination of received data.
    void Examine(const QString& fetchedName = {});

    const RemoteListing& currentListing() const { return m_listing; }
    bool connected() const { return m_connected; }
    void setFilesToTransfer(const FilesToTransfer& files) { m_files = files; }

private:
    bool putChannelFiles(const QString& sendFile, const QString& remoteName, bool underTargets);
    bool receiveFolder(const FileToTransfer& folder);
    bool emptyAndDelete(RemoteTransport& t, const QString& name, int depth);
    // A name from a machine or a client that would leave its folder: 253-free
    // refusal logged, false.
    bool plain(const QString& name);

    PortEngine& m_engine;
    std::unique_ptr<SharedFolder> m_share;
    std::unique_ptr<RemoteTransport> m_ftp;
    std::unique_ptr<ClsTNCRemo> m_tnc;
    std::unique_ptr<RemoteTransport> m_focas;
    int m_tncMode = -1;
    NetworkExplorer* m_explorer = nullptr;
    std::function<void()> m_stopTransfer;
    RemoteListing m_listing;
    bool m_haveListing = false;
    bool m_connected = false;
    FilesToTransfer m_files;
};

} // namespace nodalis
