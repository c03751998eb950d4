#pragma once

#include "protocols/RemoteTransport.h"

#include <QStringList>

#include <memory>

namespace nodalis {

class FtpSession;
struct FtpRequest;

// A networked machine's files over FTP (libcurl), with the RESEAU settings
// (RemoteHost, RemotePort, ReseauUserName, UserPassword, FtpMode). One
// connection is kept from one operation to the next; the current folder is
// remembered below the login folder, which it never goes above. Transfers
// are binary and run on libcurl's multi interface from the event loop, so
// nothing waits with events stopped; a stop request ends any of them. A
// refused login is announced (313) once until a login succeeds again.
// The operations of the shared transport interface are the FTP client's
// own: connect is InitFTP, disconnect CloseFTP, list FNGetList, put
// SendFichier, get RecupererFichier, deleteFile FNSupprimerFichier,
// deleteFolder FNSupprimerDossier, rename RenommerFichier, createFolder
// CreerRep.
class ClsFTP : public RemoteTransport
{
public:
    ClsFTP();
    ~ClsFTP() override;

    bool connect() override;
    // Closes the connection (CloseFTP); the next one starts at the login folder.
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
    // Runs one request on the connection, waiting for its end while events
    // run; every operation goes through here.
    bool run(FtpRequest& request);
    // Commands said in the current folder, nothing transferred.
    bool inFolder(const QList<QByteArray>& commands);
    bool checkName(const QString& name);

    std::unique_ptr<FtpSession> m_session;
    QStringList m_folder; // below the login folder
    bool m_connected = false;
    bool m_reconnect = false;   // a listing failed: a new connection for the next operation
    bool m_withoutMlsd = false; // the server refused MLSD: LIST from then on
    bool m_refusalSaid = false; // 313 announced since the last login
    bool m_busy = false;
    QString m_lastError;
};

} // namespace nodalis
