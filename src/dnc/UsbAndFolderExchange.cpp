#include "dnc/UsbAndFolderExchange.h"

#include "dnc/CallResolution.h"
#include "dnc/EventMessages.h"
#include "dnc/PortEngine.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "dnc/ProgramHeader.h"
#include "platform/AnsiText.h"
#include "platform/Clock.h"
#include "platform/FolderFingerprint.h"
#include "platform/SystemPaths.h"
#include "startup/AppPaths.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QRegularExpression>

namespace nodalis {

namespace {

bool stopRequested()
{
    return State().stopRequested;
}

// A file touched this recently may still be written.
constexpr qint64 kStillWrittenMs = 2000;

// What the folder's entries look like, to see a change the system does not
// tell (a share written from another host): its time, and a fingerprint of
// its listing for shares that do not move the folder's time. A file still
// being written is taken by a later pass.
struct FolderLook
{
    QDateTime changed;
    quint64 entries = 0;
    bool operator==(const FolderLook&) const = default;
};

FolderLook lookAt(const QString& folder)
{
    return {QFileInfo(folder).lastModified(), FolderFingerprint(folder)};
}

QString withSeparator(QString folder)
{
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')) &&
        !folder.endsWith(QDir::separator()))
        folder += QDir::separator();
    return folder;
}

// Extensions compare without their dots and without regard to case.
bool sameExtension(const QString& suffix, const QByteArray& fileExt)
{
    QString wanted = fromAnsi(TrimSpaces(fileExt));
    while (wanted.startsWith(QLatin1Char('.')))
        wanted.remove(0, 1);
    return suffix.compare(wanted, Qt::CaseInsensitive) == 0;
}

} // namespace

UsbAndFolderExchange::UsbAndFolderExchange(PortEngine& engine, CallResolution& calls,
                                           QObject* parent)
    : QObject(parent), m_engine(engine), m_calls(calls)
{
    MethodTable& table = m_engine.methods();
    PortMethod usb;
    usb.listen = [this] { ReceiveFromUsbKey(); };
    usb.send = [this] { return SendToUsbKey(Paths().sendFile); };
    usb.ownCompletion = true;
    table.plug({12}, usb);
    // The watched folder's sends go through the network transfer, plugged
    // before: only its listening is the watch.
    PortMethod watch = table.find(14) ? *table.find(14) : PortMethod();
    watch.listen = [this] { WatchFolder(); };
    table.plug({14}, watch);
}

QByteArray UsbAndFolderExchange::UsbFileName(const QByteArray& number)
{
    const Settings& s = Config();
    if (s.CodeGroupCN == 9)
        return number.rightJustified(6, '0') + ".pim";
    return number.rightJustified(4, '0') + TrimSpaces(s.FileExt);
}

QByteArray UsbAndFolderExchange::NameNumber(const QString& fileName)
{
    QByteArray base = toAnsi(QFileInfo(fileName).completeBaseName());
    for (char c : Config().CarDebProg)
        if (c != '|')
            base.replace(QByteArray(1, c), "");
    return QByteArray::number(qint64(LeadingNumber(base)));
}

QString UsbAndFolderExchange::RevisionIndexName(const QString& fileName,
                                                const QStringList& folderFiles)
{
    if (!QFileInfo(fileName).suffix().isEmpty())
        return {};
    const QByteArray number = NameNumber(fileName);
    if (number == "0")
        return {};
    const QString base =
        fromAnsi(Config().CarDebProg.split('|').value(0) + number.rightJustified(4, '0'));
    int highest = 0;
    static const QRegularExpression numeric(QStringLiteral("^\\d+$"));
    for (const QString& other : folderFiles) {
        const QFileInfo f(other);
        if (f.completeBaseName().compare(base, Qt::CaseInsensitive) == 0 &&
            numeric.match(f.suffix()).hasMatch())
            highest = qMax(highest, f.suffix().toInt());
    }
    return base + QStringLiteral(".%1").arg(highest + 1, 3, 10, QLatin1Char('0'));
}

bool UsbAndFolderExchange::SendToUsbKey(const QString& programFile)
{
    const QString root = Channel().removableFolder;
    if (root.isEmpty()) {
        SetStatus(600);
        return false;
    }
    m_engine.SetPortState(ChannelSending);
    const QString folder = withSeparator(root + fromAnsi(TrimSpaces(Config().RefMO)));
    MakeFolders(folder);
    const QByteArray number = ReadProgramNumber(programFile, programFile, false, 0, false);
    const QString target = folder + fromAnsi(UsbFileName(number));
    // A key pulled or full during the copy keeps what it had: the send
    // did not happen.
    if (!CopyFile(programFile, target)) {
        SetStatusWithReason(907, toAnsi(QDir::toNativeSeparators(target)));
        m_engine.SetPortState(ChannelListening);
        return false;
    }
    m_sentToKey.insert(target, QFileInfo(target).lastModified());
    SetStatus(601);
    m_engine.SetPortState(ChannelListening);
    return true;
}

void UsbAndFolderExchange::ReceiveFromUsbKey()
{
    const QString root = Channel().removableFolder;
    const QString folder = withSeparator(root + fromAnsi(TrimSpaces(Config().RefMO)));
    m_engine.SetPortState(ChannelListening);
    // What the machine took off the key is forgotten.
    for (auto it = m_sentToKey.begin(); it != m_sentToKey.end();)
        it = QFileInfo::exists(it.key()) ? std::next(it) : m_sentToKey.erase(it);
    if (root.isEmpty() || !FolderExists(folder))
        return;
    m_engine.SetPortState(ChannelReceiving);
    // Only what is there now: a program sent to the key during the pass is
    // not taken back.
    QStringList files;
    QStringList folders{folder};
    QDirIterator sub(folder, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (sub.hasNext())
        folders.append(sub.next());
    for (const QString& f : std::as_const(folders))
        for (const QFileInfo& file : QDir(f).entryInfoList(QDir::Files))
            files.append(file.absoluteFilePath());
    for (const QString& path : std::as_const(files)) {
        if (stopRequested() || !QFileInfo::exists(path))
            break;
        // What we put on the key waits there for the machine.
        if (const auto sent = m_sentToKey.constFind(path);
            sent != m_sentToKey.constEnd() && *sent == QFileInfo(path).lastModified())
            continue;
        if (examineFile(path))
            DeleteFile(path);
    }
    m_engine.SetPortState(ChannelListening);
}

bool UsbAndFolderExchange::examineFile(const QString& path)
{
    MakeFolders(QFileInfo(Paths().receptionFile).absolutePath());
    if (!CopyFile(path, Paths().receptionFile)) {
        SetStatusWithReason(713, toAnsi(QDir::toNativeSeparators(path)));
        return false;
    }
    m_engine.Examine();
    return !m_calls.StoreFailed();
}

QString UsbAndFolderExchange::watchedFolder() const
{
    const Settings& s = Config();
    return withSeparator(
        ShareFolderPath(fromAnsi(TrimSpaces(s.DefaultDirHostReceiv)), fromAnsi(s.UncRoot)));
}

void UsbAndFolderExchange::WatchFolder()
{
    if (m_watchRunning || Channel().channelState == ChannelListening)
        return;
    m_watchRunning = true;
    m_engine.SetPortState(ChannelListening);
    const QString folder = watchedFolder();
    QFileSystemWatcher watcher;
    bool changed = false;
    connect(&watcher, &QFileSystemWatcher::directoryChanged, this, [&changed] { changed = true; });
    const auto arm = [&] {
        if (!watcher.directories().isEmpty())
            watcher.removePaths(watcher.directories());
        if (QFileInfo(folder).isDir())
            watcher.addPath(folder);
    };
    // Armed and looked at before each pass: a file written during one
    // changes what was seen, and gets the next.
    arm();
    FolderLook seen = lookAt(folder);
    ScanWatchedFolder();
    SetStatus(650);
    while (!stopRequested()) {
        WaitUntil(changed, 1000); // a stop is seen at the end of the second
        if (stopRequested())
            break;
        // A share written from elsewhere tells nothing: its listing does.
        if (!changed && lookAt(folder) != seen)
            changed = true;
        if (m_pending)
            changed = true;
        if (changed) {
            Pause(SettleMs);
            if (stopRequested())
                break;
            changed = false;
            arm();
            seen = lookAt(folder);
            ScanWatchedFolder();
            SetStatus(650);
            m_engine.SetPortState(ChannelListening);
        }
        DoEvents();
        if (stopRequested())
            break;
        SetStatus(650);
        if (Channel().channelState != ChannelListening)
            m_engine.SetPortState(ChannelListening);
    }
    m_engine.SetPortState(-1);
    m_watchRunning = false;
}

void UsbAndFolderExchange::ScanWatchedFolder()
{
    const Settings& s = Config();
    const QString folder = watchedFolder();
    m_pending = false;
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files, QDir::Name);
    const auto stillWritten = [this](const QFileInfo& f) {
        if (f.lastModified().msecsTo(QDateTime::currentDateTime()) >=
            Clock::realMs(kStillWrittenMs))
            return false;
        m_pending = true; // taken at the next pass
        return true;
    };
    if (s.ProgIndice) {
        QStringList names;
        for (const QFileInfo& f : files)
            names.append(f.fileName());
        for (const QFileInfo& f : files) {
            const QString renamed = RevisionIndexName(f.fileName(), names);
            if (renamed.isEmpty() || stillWritten(f))
                continue;
            if (QFile::rename(f.absoluteFilePath(), folder + renamed))
                names.append(renamed);
        }
        return;
    }
    const QString archive = s.PathArchive;
    for (const QFileInfo& f : files) {
        if (stopRequested())
            break;
        if (archive.isEmpty() && !TrimSpaces(s.FileExt).isEmpty() &&
            !sameExtension(f.suffix(), s.FileExt))
            continue;
        if (!f.exists() || stillWritten(f))
            continue;
        if (archive.isEmpty()) {
            QFileInfoList companions;
            if (s.ModeGestionBD == 1) {
                for (const QFileInfo& other : files)
                    if (other.fileName() != f.fileName() &&
                        other.completeBaseName() == f.completeBaseName())
                        companions.append(other);
                const QString dir = Paths().receptionFile + QStringLiteral(".dir");
                DeleteFolder(dir);
                if (!companions.isEmpty()) {
                    MakeFolders(dir);
                    for (const QFileInfo& c : std::as_const(companions))
                        CopyFile(c.absoluteFilePath(), dir + QDir::separator() + c.fileName());
                }
            }
            const bool done = examineFile(f.absoluteFilePath());
            Pause(AfterFileMs);
            if (done) {
                DeleteFile(f.absoluteFilePath());
                for (const QFileInfo& c : std::as_const(companions))
                    DeleteFile(c.absoluteFilePath());
            }
            continue;
        }
        const QByteArray number = NameNumber(f.fileName());
        const QString programArchive = withSeparator(withSeparator(archive) + fromAnsi(number));
        const QString current = programArchive + QStringLiteral("CurVersion.txt");
        if (!QFileInfo(programArchive).isDir()) {
            // The first drop of a program only starts its archive.
            MakeFolders(programArchive);
            if (CopyFile(f.absoluteFilePath(), current)) {
                QFile copy(current);
                if (copy.open(QIODevice::ReadWrite))
                    copy.setFileTime(f.lastModified(), QFileDevice::FileModificationTime);
            }
            continue;
        }
        if (!QFileInfo::exists(current))
            continue;
        if (qAbs(QFileInfo(current).lastModified().secsTo(f.lastModified())) <= 10)
            continue;
        if (examineFile(f.absoluteFilePath())) {
            SetStatus(711, {number});
            DeleteWatchedFilesOfProgram(number);
        }
    }
}

void UsbAndFolderExchange::DeleteWatchedFilesOfProgram(const QByteArray& number)
{
    for (const QFileInfo& f : QDir(watchedFolder()).entryInfoList(QDir::Files))
        if (NameNumber(f.fileName()) == number)
            DeleteFile(f.absoluteFilePath());
}

} // namespace nodalis
