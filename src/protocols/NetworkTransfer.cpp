#include "protocols/NetworkTransfer.h"

#include "dnc/ChannelFiles.h"
#include "dnc/ControlProtocol.h"
#include "dnc/EventMessages.h"
#include "dnc/InfoNotifier.h"
#include "dnc/LineFiles.h"
#include "dnc/MachineSpecifics.h"
#include "dnc/PortEngine.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "dnc/ProgramHeader.h"
#include "dnc/SendPreparation.h"
#include "dnc/SyntaxCheck.h"
#include "platform/AnsiText.h"
#include "platform/Clock.h"
#include "platform/OperatorPrompt.h"
#include "protocols/ClsTNCRemo.h"
#include "protocols/FtpTransport.h"
#include "protocols/SharedFolder.h"
#include "protocols/TK_FOCAS.h"
#include "startup/AppPaths.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"
#include "store/ProgramJournal.h"
#include "store/ProgramRecords.h"

#include <QDir>
#include <QFileInfo>

#include <utility>

namespace nodalis {

namespace {

const QString kTitle = QStringLiteral("ORVA");

bool sharesFolder(int methode)
{
    return methode == 6 || methode == 14 || methode == 19;
}

void notify(const QByteArray& keyword, const QList<QByteArray>& arguments = {}, int k = 0)
{
    SendInfoMessage(BuildInfoMessage(keyword, arguments), k);
}

} // namespace

NetworkTransfer::NetworkTransfer(PortEngine& engine)
    : m_engine(engine), m_share(std::make_unique<SharedFolder>())
{
}

NetworkTransfer::~NetworkTransfer() = default;

void NetworkTransfer::setFtp(std::unique_ptr<RemoteTransport> ftp)
{
    m_ftp = std::move(ftp);
}

void NetworkTransfer::plugMethods()
{
    MethodTable& table = m_engine.methods();
    for (int m : {4, 6, 14, 17, 18, 19, 21}) {
        const PortMethod* existing = table.find(m);
        PortMethod method = existing ? *existing : PortMethod();
        method.ownCompletion = true;
        method.send = [this] {
            // T and M name the remote file; a served call leaves it to RemoteFileName.
            const QString name = fromAnsi(std::exchange(Channel().targetName, {}));
            return SendToNetworkMachine(name, Paths().sendFile, Channel().currentProgramCode);
        };
        if (m != 14) {
            auto own = method.listen; // method 6 with its machine specifics keeps its own
            method.listen = [this, m, own] {
                if (m == 6 && own && !TrimSpaces(Config().Port.Specificite).isEmpty())
                    return own();
                m_engine.SetPortState(ChannelExplorer);
                if (m_explorer) {
                    m_explorer->setMode(2, m);
                    m_explorer->activate();
                } else if (Config().TransfertBasic) {
                    ListenOnNetwork();
                }
            };
        }
        method.close = [this, close = method.close] {
            if (close)
                close();
            if (m_ftp)
                m_ftp->disconnect();
            if (m_focas)
                m_focas->disconnect();
            m_connected = false;
        };
        table.plug({m}, method);
    }
}

RemoteTransport* NetworkTransfer::transport()
{
    const int methode = Config().Port.Methode;
    if (sharesFolder(methode))
        return m_share.get();
    if (methode == 4) {
        if (!m_ftp)
            m_ftp = std::make_unique<ClsFTP>();
        return m_ftp.get();
    }
    if (methode == 17 || methode == 18) {
        const int mode = methode == 18 ? ClsTNCRemo::Serial : ClsTNCRemo::Ethernet;
        if (!m_tnc)
            m_tnc = std::make_unique<ClsTNCRemo>();
        if (m_tncMode != mode) {
            m_tnc->Init(mode);
            m_tncMode = mode;
        }
        return m_tnc.get();
    }
    if (methode == 21) {
        if (!m_focas)
            m_focas = std::make_unique<TK_FOCAS>();
        return m_focas.get();
    }
    return nullptr;
}

bool NetworkTransfer::plain(const QString& name)
{
    if (IsPlainRemoteName(name))
        return true;
    SetStatusWithReason(267, ansi(name) + " : nom refusé (il sortirait du dossier)");
    return false;
}

bool NetworkTransfer::Connect()
{
    RemoteTransport* t = transport();
    if (!t)
        return true;
    // The transport tells a refused login itself (313); a machine out of
    // reach is told by the operation that needs it.
    m_connected = t->connect();
    return m_connected;
}

bool NetworkTransfer::ListRemoteFolder(const QString& folder, RemoteListing& listing)
{
    SetStatus(262);
    listing.entries.clear();
    RemoteTransport* t = transport();
    const bool navigation =
        folder == QLatin1String("..") || folder == QLatin1String(".") || folder.isEmpty();
    bool ok = !t || ((navigation || plain(folder)) && t->list(folder, listing));
    if (ok && listing.entries.size() > MaxEntries) {
        listing.entries.clear();
        ok = false;
    }
    m_listing = listing;
    m_haveListing = ok;
    if (listing.countReal() == 0) {
        // An empty folder and a failed listing look the same to the operator.
        if (t && !ok && !t->lastError().isEmpty())
            SetStatusWithReason(267, ansi(t->lastError()));
        else
            SetStatus(267);
    } else {
        SetStatus(268, {ansi(folder)});
    }
    return ok;
}

bool NetworkTransfer::PutRemoteFile(const QString& localPath, QString name, bool askBeforeReplacing)
{
    const Settings& s = Config();
    if (s.CheckBeforeSend)
        CheckSyntax(localPath);
    if (s.FiltreCarSpec)
        PrepareSendText(localPath);
    if (name.toUpper() == QLatin1String("TOCN.TXT"))
        name.clear();
    if (name.isEmpty())
        name = RemoteFileName(localPath);
    if (name.isEmpty()) {
        SetStatus(251);
        return false;
    }
    if (!plain(name))
        return false;
    RemoteTransport* t = transport();
    if (t && !m_haveListing) {
        RemoteListing listing;
        ListRemoteFolder(QStringLiteral("."), listing);
    }
    // A machine's own call replaces its file; an operator's send asks first.
    if (t && askBeforeReplacing && m_listing.FNHaveThisFile(name) && !s.UseRPC &&
        !Prompt().askYesNo(kTitle,
                           QStringLiteral("Programme '") + name +
                               QStringLiteral("' existant sur la machine. Voulez-vous l'écraser ?"),
                           false))
        return false;
    SetStatus(250, {ansi(name)});
    if (t && !t->put(localPath, name)) {
        SetStatusWithReason(907, ansi(name + QStringLiteral(" : ") + t->lastError()));
        return false;
    }
    if (t && !m_listing.FNHaveThisFile(name))
        m_listing.entries.append({RemoteEntry::File, name, QFileInfo(localPath).size(), {}});
    SetStatus(266, {ansi(name)});
    for (const FileToTransfer& f : m_files.items())
        if (f.NomFichier == name)
            Channel().currentProgramCode = f.CodeProgFichier;
    WriteJournalEntry(903, Channel().currentProgramCode, CurrentUploadCode(), false);
    return true;
}

bool NetworkTransfer::GetRemoteFile(const QString& name, const QString& localPath)
{
    RemoteTransport* t = transport();
    if (!t)
        return true;
    if (!plain(name))
        return false;
    qint64 expected = 0;
    for (const RemoteEntry& e : m_listing.entries)
        if (e.TypeFD == RemoteEntry::File && e.Nom == name)
            expected = e.size;
    int lastShown = -1;
    const auto progress = [&](qint64 done) {
        if (expected <= 0)
            return;
        const int percent = int(qMin<qint64>(100, done * 100 / expected));
        if (percent != lastShown) {
            lastShown = percent;
            notify("{%}", {QByteArray::number(percent)});
        }
    };
    MakeFolders(QFileInfo(localPath).absolutePath());
    return t->get(name, localPath, progress);
}

bool NetworkTransfer::DeleteRemoteFile(const QString& name)
{
    SetStatus(252, {ansi(name)});
    RemoteTransport* t = transport();
    if (!t)
        return true;
    if (plain(name) && t->deleteFile(name))
        return true;
    SetStatus(253, {ansi(name)});
    return false;
}

bool NetworkTransfer::emptyAndDelete(RemoteTransport& t, const QString& name, int depth)
{
    // A server removes only an empty folder: its files and folders go first.
    RemoteListing inside;
    if (depth > MaxDepth || !t.list(name, inside))
        return false;
    bool emptied = true;
    for (const RemoteEntry& e : inside.entries) {
        if (e.Nom == QLatin1String("..") || !IsPlainRemoteName(e.Nom))
            continue;
        emptied = (e.TypeFD == RemoteEntry::Folder ? emptyAndDelete(t, e.Nom, depth + 1)
                                                   : t.deleteFile(e.Nom)) &&
                  emptied;
    }
    RemoteListing up;
    return t.list(QStringLiteral(".."), up) && emptied && t.deleteFolder(name);
}

bool NetworkTransfer::DeleteRemoteFolder(const QString& name)
{
    SetStatus(259, {ansi(name)});
    RemoteTransport* t = transport();
    if (!t)
        return true;
    m_haveListing = false;
    if (plain(name) && emptyAndDelete(*t, name, 0))
        return true;
    SetStatusWithReason(260, ansi(name + QStringLiteral(" : ") + t->lastError()));
    return false;
}

bool NetworkTransfer::RenameRemoteFile(const QString& from, const QString& to)
{
    RemoteTransport* t = transport();
    // Never over an existing file or folder: some servers would replace it.
    RemoteListing here;
    const bool taken = t && plain(to) && t->list(QStringLiteral("."), here) &&
                       (here.FNHaveThisFile(to) || here.FNHaveThisFolder(to));
    m_haveListing = false;
    if (t && (taken || !(plain(from) && plain(to) && t->rename(from, to)))) {
        SetStatus(257, {ansi(from)});
        return false;
    }
    SetStatus(256, {ansi(from), ansi(to)});
    return true;
}

bool NetworkTransfer::CreateRemoteFolder(const QString& name)
{
    SetStatus(254, {ansi(name)});
    RemoteTransport* t = transport();
    if (t && !(plain(name) && t->createFolder(name))) {
        SetStatus(255, {ansi(name)});
        return false;
    }
    return true;
}

bool NetworkTransfer::CreateRemoteTextFile(const QString& name, const QByteArray& text)
{
    SetStatus(269, {ansi(name)});
    RemoteTransport* t = transport();
    if (!t)
        return true;
    if (!plain(name))
        return false;
    m_haveListing = false;
    if (text.isEmpty())
        return t->createTextFile(name);
    const QString local = NewTempFile();
    QByteArray body = text;
    const bool ok = !local.isEmpty() && ReadOrWriteFile(0, local, body) && t->put(local, name);
    DeleteFile(local);
    return ok;
}

QString NetworkTransfer::RemoteFileName(const QString& localPath)
{
    const Settings& s = Config();
    QString name;
    bool ownExtension = false;
    if (s.NumProgAsFileName) {
        QByteArray number = ReadProgramNumber(localPath, {}, true, 0, true);
        if (!number.isEmpty() && s.CodeGroupCN == 2) {
            number.replace(" MM", "");
            if (number.contains("G71"))
                number = number.replace("G71", "").trimmed() + ".i";
            else
                number += ".h";
        }
        name = fromAnsi(number);
        ownExtension = !name.isEmpty();
    }
    if (name.isEmpty()) {
        for (int i = 1; i < s.RecordFields.size() && name.isEmpty(); ++i) {
            if (!s.RecordFields[i].IsInfoProg)
                continue;
            const ProgramRecord record = ReadProgramRecord(Channel().currentProgramCode);
            if (i < int(record.Champ.size()))
                name = fromAnsi(TrimSpaces(record.Champ[size_t(i)]));
            break;
        }
    }
    if (name.isEmpty())
        name = fromAnsi(TrimSpaces(s.DefautFileName));
    if (name.isEmpty())
        name = QFileInfo(localPath).fileName();
    if (name.toUpper() == QLatin1String("TOCN.TXT"))
        name.clear();
    if (name.isEmpty())
        name = Prompt()
                   .askText(kTitle, QStringLiteral("Veuillez renseigner un nom de fichier"), {})
                   .trimmed();
    if (!name.isEmpty() && !ownExtension && !TrimSpaces(s.FileExt).isEmpty()) {
        QString extension = fromAnsi(TrimSpaces(s.FileExt));
        while (extension.startsWith(QLatin1Char('.')))
            extension.remove(0, 1);
        const QString base = QFileInfo(name).completeBaseName();
        name = (base.isEmpty() ? name : base) + QLatin1Char('.') + extension;
    }
    return name.replace(QLatin1Char(':'), QLatin1Char('O'));
}

bool NetworkTransfer::putChannelFiles(const QString& sendFile, const QString& remoteName,
                                      bool underTargets)
{
    const Settings& s = Config();
    const int channels = ChannelCount();
    const QStringList targets = ChannelTargetNames(channels, s.IsCanaux);
    bool all = true;
    for (int c = 1; c <= channels && c < targets.size(); ++c) {
        const QString file = ChannelLabel(sendFile, c);
        if (c > 1 && !FileExists(file))
            break;
        const QString name = underTargets ? QFileInfo(remoteName).completeBaseName() + targets[c]
                                          : RemoteFileName(file) + targets[c];
        all = PutRemoteFile(file, name) && all;
    }
    return all;
}

void NetworkTransfer::PutCompanionFiles(const QString& sendFile, const QString& remoteBase,
                                        bool ownNames, bool askBeforeReplacing)
{
    const QDir companion(sendFile + QStringLiteral(".dir"));
    if (!companion.exists())
        return;
    for (const QFileInfo& f : companion.entryInfoList(QDir::Files, QDir::Name)) {
        const QString name = ownNames ? f.fileName() : remoteBase + QLatin1Char('.') + f.suffix();
        PutRemoteFile(f.filePath(), name, askBeforeReplacing);
    }
}

bool NetworkTransfer::SendToNetworkMachine(const QString& remoteName, const QString& sendFile,
                                           qint32 programCode)
{
    const Settings& s = Config();
    RemoteTransport* t = transport();
    bool sent = true;
    if (s.GroupeInFolder) {
        if (remoteName.isEmpty() || !plain(remoteName))
            return false;
        RemoteListing listing;
        ListRemoteFolder(QStringLiteral("."), listing);
        if (t && listing.FNHaveThisFolder(remoteName)) {
            if (!Prompt().askYesNo(
                    kTitle, QStringLiteral("Programme existant, voulez-vous l'écraser ?"), false) ||
                !DeleteRemoteFolder(remoteName))
                return false;
        }
        if (!CreateRemoteFolder(remoteName) || !ListRemoteFolder(remoteName, listing))
            return false;
        // Inside the folder each channel file goes under its target name.
        const QStringList targets = ChannelTargetNames(ChannelCount(), s.IsCanaux);
        for (int c = 1; c <= ChannelCount() && c < targets.size(); ++c) {
            const QString file = ChannelLabel(sendFile, c);
            if (c > 1 && !FileExists(file))
                break;
            const QString name = targets[c].isEmpty() ? remoteName : targets[c];
            sent = PutRemoteFile(file, name) && sent;
        }
        if (s.ModeGestionBD == 1)
            PutCompanionFiles(sendFile, {}, true);
        ListRemoteFolder(QStringLiteral(".."), listing);
    } else {
        const bool several = ChannelCount() > 1 && FileExists(ChannelLabel(sendFile, 2));
        if (several)
            sent = putChannelFiles(sendFile, remoteName, false);
        else
            sent = PutRemoteFile(sendFile, remoteName);
        if (s.ModeGestionBD == 1) {
            const QString name = remoteName.isEmpty() ? RemoteFileName(sendFile) : remoteName;
            PutCompanionFiles(sendFile, QFileInfo(name).completeBaseName(), false);
        }
    }
    if (sent && programCode > 0)
        notify("{t}", {QByteArray::number(programCode)});
    EndTransfer();
    return sent;
}

void NetworkTransfer::Examine(const QString& fetchedName)
{
    // A TNC's programs are known by their names on the control: "123.H" is
    // program 123, named "123.H".
    const int methode = Config().Port.Methode;
    if ((methode == 17 || methode == 18) && !fetchedName.isEmpty()) {
        const QByteArray name = ansi(fetchedName);
        const QByteArray base = name.left(name.indexOf('.'));
        bool numeric = false;
        base.toLongLong(&numeric);
        Channel().receivedNumber = numeric ? base : QByteArray();
        Channel().receivedName = name;
    }
    m_engine.Examine();
    Channel().receivedNumber.clear();
    Channel().receivedName.clear();
}

bool NetworkTransfer::receiveFolder(const FileToTransfer& folder)
{
    if (!plain(folder.remoteName))
        return false;
    RemoteListing listing;
    if (!ListRemoteFolder(folder.remoteName, listing))
        return false;
    const QString reception = Paths().receptionFile;
    const QStringList targets = ChannelTargetNames(ChannelCount(), Config().IsCanaux);
    bool all = true;
    for (const RemoteEntry& e : listing.entries) {
        if (e.TypeFD != RemoteEntry::File)
            continue;
        const int channel = int(targets.indexOf(e.Nom));
        const QString local = channel >= 1 ? ChannelLabel(reception, channel)
                                           : reception + QStringLiteral(".dir/") + e.Nom;
        all = GetRemoteFile(e.Nom, local) && all;
    }
    ListRemoteFolder(QStringLiteral(".."), listing);
    Examine();
    if (all && Config().DeleteFileReseau)
        DeleteRemoteFolder(folder.remoteName);
    return all;
}

void NetworkTransfer::ReceiveFromNetwork(const FilesToTransfer& files, bool concatenate)
{
    const Settings& s = Config();
    const QString reception = Paths().receptionFile;
    QStringList parts;
    for (const FileToTransfer& f : files.items()) {
        if (State().stopRequested)
            break;
        if (f.isFolder) {
            receiveFolder(f);
            continue;
        }
        if (!GetRemoteFile(f.remoteName, reception)) {
            SetStatus(261, {ansi(f.remoteName)});
            continue;
        }
        if (concatenate) {
            const QString part = NewTempFile();
            if (!part.isEmpty() && CopyScratchFile(reception, part))
                parts.append(part);
            continue;
        }
        if (s.Port.Methode == 19) {
            const QString folder = f.targetFolder.isEmpty() ? s.PathFileProgSave : f.targetFolder;
            const QString destination = QDir(folder).filePath(f.remoteName);
            if (!FileExists(destination) ||
                Prompt().askYesNo(
                    kTitle,
                    QStringLiteral("Programme '") + f.remoteName +
                        QStringLiteral("' existant en local. Voulez-vous l'écraser ?"),
                    false)) {
                MakeFolders(folder);
                if (CopyFile(reception, destination))
                    notify("{f}");
                else
                    SetStatusWithReason(713, ansi(destination));
            }
            continue;
        }
        Examine(f.remoteName);
    }
    if (concatenate && !parts.isEmpty()) {
        if (ConcatFilesByBatch(parts, reception)) {
            if (s.Port.Methode == 21) {
                QByteArray text;
                ReadOrWriteFile(ReadDirection, reception, text);
                text.replace("%", "");
                text = "%" + text + "%";
                ReadOrWriteFile(0, reception, text);
            }
            Examine();
        }
        for (const QString& part : parts)
            DeleteFile(part);
    }
}

void NetworkTransfer::ReportRemoteListing(const QString& folder, int k)
{
    RemoteListing listing;
    ListRemoteFolder(folder, listing);
    notify("{dlf}", {ansi(folder)}, k);
    for (const RemoteEntry& e : listing.entries)
        notify("{lf}",
               {QByteArray::number(int(e.TypeFD)), ansi(e.Nom), QByteArray::number(e.size),
                ansi(e.Comment)},
               k);
    notify("{flf}", {}, k);
}

void NetworkTransfer::EndTransfer()
{
    // The machine's folder may change before the next send: listed again then.
    m_haveListing = false;
    const int methode = Config().Port.Methode;
    if (methode == 6 || methode == 14)
        m_share->takeWritten();
}

void NetworkTransfer::Disconnect()
{
    if (m_ftp)
        m_ftp->disconnect();
    if (m_focas)
        m_focas->disconnect();
    m_connected = false;
    m_haveListing = false;
    if (m_stopTransfer)
        m_stopTransfer();
}

void NetworkTransfer::ListenOnNetwork()
{
    const Settings& s = Config();
    if (!s.TransfertBasic) {
        if (m_explorer)
            m_explorer->showWindow();
        return;
    }
    const QString typed =
        Prompt().askText(kTitle, QStringLiteral("Nom du fichier à récupérer ?"), {}).trimmed();
    if (typed.isEmpty())
        return;
    // The name takes the programs' extension (none when FileExt is empty);
    // a file the operator named in full is still found as typed.
    const QString extension = fromAnsi(TrimSpaces(s.FileExt)).remove(QLatin1Char('.'));
    const qsizetype dot = typed.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? typed.left(dot) : typed;
    QString name = extension.isEmpty() ? base : base + QLatin1Char('.') + extension;
    if (!plain(name))
        return Disconnect();
    const QString reception = Paths().receptionFile;
    bool fetched = GetRemoteFile(name, reception);
    if (!fetched && typed != name && IsPlainRemoteName(typed)) {
        name = typed;
        fetched = GetRemoteFile(name, reception);
    }
    if (fetched) {
        Channel().currentTransfer[0] = ansi(name);
        Examine(name);
        // The machine's file goes only once its copy here is whole.
        DeleteRemoteFile(name);
    } else {
        SetStatus(261, {ansi(name)});
        Pause(1000);
    }
    Disconnect();
}

} // namespace nodalis
