#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

namespace nodalis {

class CallResolution;
class PortEngine;

// Programs that travel as files: on a USB key (Methode 12), under a folder
// named after the machine, sent by copying them there and received by
// scanning it when the key is plugged in; or through a watched folder
// (Methode 14), where every file dropped is a program received from the
// machine. A received file is examined from a copy in the reception file,
// as a program received on a line, and removed only once it was not an
// upload that failed to be stored.
class UsbAndFolderExchange : public QObject
{
    Q_OBJECT

public:
    // How long a changed folder is left to its writer before a pass, and
    // the pause after each file examined.
    static constexpr int SettleMs = 6000;
    static constexpr int AfterFileMs = 500;

    UsbAndFolderExchange(PortEngine& engine, CallResolution& calls, QObject* parent = nullptr);

    // The program's file name on the key: the number padded with "0" to 6
    // characters and ".pim" for controller group 9, else to 4 and FileExt;
    // a longer number is never cut.
    static QByteArray UsbFileName(const QByteArray& number);
    // A file name's program number: its numeric value once the
    // program-start characters are taken out ("O0042.H" gives "42").
    static QByteArray NameNumber(const QString& fileName);
    // Revision-index mode: the name a file without extension takes among
    // the folder's files, or empty when it keeps its own ("O42" gives
    // "O0042.008" beside "O0042.007").
    static QString RevisionIndexName(const QString& fileName, const QStringList& folderFiles);

    bool SendToUsbKey(const QString& programFile);
    void ReceiveFromUsbKey();
    // Watches the folder until a stop: one pass at once, then one after
    // each change (told by the system, or seen in the folder's listing).
    void WatchFolder();
    void ScanWatchedFolder();
    void DeleteWatchedFilesOfProgram(const QByteArray& number);

private:
    // Examines the file as a reception; false when it must stay (not
    // copied, or an upload that could not be stored).
    bool examineFile(const QString& path);
    QString watchedFolder() const;

    PortEngine& m_engine;
    CallResolution& m_calls;
    bool m_watchRunning = false;
    // A file left because it was still being written: the next cycle
    // makes another pass.
    bool m_pending = false;
    // What this server put on the key, as it left it: not taken back.
    QHash<QString, QDateTime> m_sentToKey;
};

} // namespace nodalis
