#pragma once

#include <QList>
#include <QString>

#include <functional>

namespace nodalis {

// One entry of a machine's folder (clsInfoFichierDossier).
struct RemoteEntry
{
    enum Kind
    {
        File = 1,
        Folder = 2
    };
    Kind TypeFD = File;
    QString Nom;
    qint64 size = 0;
    QString Comment;
};

// A listing of a machine's folder (clsList).
class RemoteListing
{
public:
    QList<RemoteEntry> entries;

    bool FNHaveThisFile(const QString& name) const { return has(RemoteEntry::File, name); }
    bool FNHaveThisFolder(const QString& name) const { return has(RemoteEntry::Folder, name); }
    // Entries other than "..".
    qsizetype countReal() const;

private:
    bool has(RemoteEntry::Kind kind, const QString& name) const;
};

// True for a name that stays inside the folder it is used in: one path
// component, not "." or "..", no separator, drive or control character. Every
// name from a machine or a client passes this before a transport sees it.
bool IsPlainRemoteName(const QString& name);

// How the server reaches one networked machine's files. Names are plain
// names in the transport's current folder (IsPlainRemoteName). The calls
// wait for their end while events run, and end early when the transfer is
// stopped. Failures are told by the result; lastError says why in the
// system's words.
class RemoteTransport
{
public:
    using Progress = std::function<void(qint64 bytesDone)>;

    virtual ~RemoteTransport() = default;

    // Connects when not connected (an FTP login, a share that must exist).
    virtual bool connect() = 0;
    virtual void disconnect() = 0;
    // Changes folder ("..": the parent, a plain name: that sub-folder, empty
    // or ".": stays) and lists the folder it is then in.
    virtual bool list(const QString& folder, RemoteListing& listing) = 0;
    virtual bool put(const QString& localPath, const QString& name) = 0;
    virtual bool get(const QString& name, const QString& localPath, const Progress& progress) = 0;
    virtual bool deleteFile(const QString& name) = 0;
    virtual bool deleteFolder(const QString& name) = 0;
    virtual bool rename(const QString& from, const QString& to) = 0;
    virtual bool createFolder(const QString& name) = 0;
    virtual bool createTextFile(const QString& name) = 0;
    virtual QString lastError() const = 0;
};

} // namespace nodalis
