#pragma once

#include "protocols/RemoteTransport.h"

#include <QStringList>

namespace nodalis {

// A machine's folder shared on the network (Methode 6, 14, 19): plain file
// copies between the local files and the current remote folder. It starts
// in DefaultDirHostSend (a UNC name reaches the share mounted under UncRoot
// off Windows) and never goes above it.
class SharedFolder : public RemoteTransport
{
public:
    static constexpr qsizetype MaxEntries = 50000;

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
    QString lastError() const override { return m_error; }

    // The remote paths written since the last call (the transfer's end).
    QStringList takeWritten() { return std::exchange(m_written, {}); }
    // The current remote folder.
    QString currentFolder() const;

private:
    QString root() const;
    QString pathOf(const QString& name) const;
    bool fail(const QString& why);

    QStringList m_below; // the folders entered below the root
    QStringList m_written;
    QString m_error;
};

} // namespace nodalis
