#include "server/RemoteCommands.h"

#include "dnc/ControlProtocol.h"
#include "dnc/EventMessages.h"
#include "dnc/InfoNotifier.h"
#include "dnc/LineFiles.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "platform/AnsiText.h"
#include "platform/OperatorPrompt.h"
#include "platform/SystemPaths.h"
#include "startup/AppPaths.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"

#include <QDir>

#include <algorithm>
#include <utility>

namespace nodalis {

namespace {

const QByteArray kRemoteOperations[] = {"LF", "CR", "DR",    "DP",    "MKDIR", "PP",        "DD",
                                        "DF", "RF", "ELFTS", "ELFTR", "MKTXT", "COMFTPFILE"};

void reply(const QByteArray& keyword, int k, const QList<QByteArray>& arguments = {})
{
    SendInfoMessage(BuildInfoMessage(keyword, arguments), k);
}

// Argument n of a list, as a name: blanks around it dropped.
QString argument(const QList<QByteArray>& a, int n)
{
    return fromAnsi(TrimSpaces(a.value(n)));
}

} // namespace

bool RemoteCommands::IsRemoteOperation(const QByteArray& keyword)
{
    return std::find(std::begin(kRemoteOperations), std::end(kRemoteOperations), keyword) !=
           std::end(kRemoteOperations);
}

void RemoteCommands::takePendingTransfer(FilesToTransfer& toSend, FilesToTransfer& toReceive)
{
    if (!m_toSend.isEmpty())
        toSend = std::exchange(m_toSend, {});
    else
        toReceive = std::exchange(m_toReceive, {});
}

void RemoteCommands::addTo(QHash<QByteArray, Command>& table)
{
    NetworkTransfer& net = m_network;
    const auto listHere = [&net](int k) { net.ReportRemoteListing(QStringLiteral("."), k); };

    table.insert("LF", [&net](const QByteArray& args, int k) {
        net.ReportRemoteListing(argument(ArgumentList(args), 0), k);
    });
    table.insert("CR", [&net](const QByteArray&, int) {
        if (!net.connected())
            net.Connect();
    });
    table.insert("DR", [&net](const QByteArray&, int) { net.Disconnect(); });
    table.insert("DP", [&net](const QByteArray& args, int k) {
        const QList<QByteArray> a = ArgumentList(args);
        const QString name = argument(a, 0);
        const QString reception = Paths().receptionFile;
        if (!net.GetRemoteFile(name, reception)) {
            SetStatus(261, {toAnsi(name)});
            return;
        }
        const Settings& s = Config();
        if (s.Port.Methode != 19) {
            net.Examine(name);
            return;
        }
        const QString folder = a.size() > 1 && !argument(a, 1).isEmpty()
                                   ? SettingPathText(argument(a, 1))
                                   : s.PathFileProgSave;
        const QString destination = QDir(folder).filePath(name);
        if (FileExists(destination) &&
            !Prompt().askYesNo(QStringLiteral("ORVA"),
                               QStringLiteral("Programme '") + name +
                                   QStringLiteral("' existant en local. Voulez-vous l'écraser ?"),
                               false))
            return;
        MakeFolders(folder);
        if (!CopyFile(reception, destination)) {
            SetStatusWithReason(713, toAnsi(destination));
            return;
        }
        reply("{f}", k);
    });
    table.insert("MKDIR", [&net, listHere](const QByteArray& args, int k) {
        net.CreateRemoteFolder(argument(ArgumentList(args), 0));
        listHere(k);
    });
    table.insert("PP", [&net](const QByteArray& args, int k) {
        const QString name = argument(ArgumentList(args), 0);
        SetStatus(264, {toAnsi(name)}, true);
        const QString preview = TempFilePath(QStringLiteral("Preview"));
        MakeFolders(Paths().tempFolder);
        if (net.GetRemoteFile(name, preview))
            reply("{preview}", k, {toAnsi(QDir::toNativeSeparators(preview))});
        else
            SetStatus(261, {toAnsi(name)});
    });
    table.insert("DD", [&net](const QByteArray& args, int) {
        net.DeleteRemoteFolder(argument(ArgumentList(args), 0));
    });
    table.insert("DF", [&net](const QByteArray& args, int) {
        net.DeleteRemoteFile(argument(ArgumentList(args), 0));
    });
    table.insert("RF", [&net](const QByteArray& args, int) {
        const QList<QByteArray> a = ArgumentList(args);
        net.RenameRemoteFile(argument(a, 0), argument(a, 1));
    });
    table.insert("MKTXT", [&net, listHere](const QByteArray& args, int k) {
        const QList<QByteArray> a = ArgumentList(args);
        net.CreateRemoteTextFile(argument(a, 0), a.value(1));
        listHere(k);
    });

    table.insert("BLFTS", [this](const QByteArray&, int) { m_toSend.clear(); });
    table.insert("AFTS", [this](const QByteArray& args, int) {
        const QList<QByteArray> a = ArgumentList(args);
        FileToTransfer f;
        f.localPath = SettingPathText(fromAnsi(a.value(0)));
        f.NomFichier = f.remoteName = argument(a, 1);
        f.CodeProgFichier = a.size() > 2 ? int(LeadingNumber(TrimSpaces(a.value(2)))) : 0;
        m_toSend.AddFile(f);
    });
    table.insert("ELFTS", [this, &net, listHere](const QByteArray&, int k) {
        const FilesToTransfer files = std::exchange(m_toSend, {});
        net.setFilesToTransfer(files);
        int sent = 0;
        for (const FileToTransfer& f : files.items()) {
            if (State().stopRequested)
                break;
            sent += net.PutRemoteFile(f.localPath, f.remoteName) ? 1 : 0;
        }
        net.EndTransfer();
        net.setFilesToTransfer({});
        reply("{t}", 0, {QByteArray::number(sent)});
        listHere(k);
    });

    table.insert("BLFTR", [this](const QByteArray&, int) { m_toReceive.clear(); });
    const auto addToReceive = [this](const QByteArray& args, bool folder) {
        const QList<QByteArray> a = ArgumentList(args);
        FileToTransfer f;
        f.remoteName = f.NomFichier = argument(a, 0);
        f.targetFolder = SettingPathText(argument(a, 1));
        if (folder)
            m_toReceive.AddFolder(f);
        else
            m_toReceive.AddFile(f);
    };
    table.insert("AFTR",
                 [addToReceive](const QByteArray& args, int) { addToReceive(args, false); });
    table.insert("AFOTR",
                 [addToReceive](const QByteArray& args, int) { addToReceive(args, true); });
    table.insert("ELFTR", [this, &net](const QByteArray& args, int k) {
        const FilesToTransfer files = std::exchange(m_toReceive, {});
        net.ReceiveFromNetwork(files, TrimSpaces(ArgumentList(args).value(0)) == "1");
        reply("{f}", k);
    });
}

} // namespace nodalis
