#include "server/ServerHost.h"

#include "dnc/ControlProtocol.h"
#include "dnc/EventMessages.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "dnc/ServerView.h"
#include "dnc/WorkGate.h"
#include "platform/AnsiText.h"
#include "platform/Clock.h"
#include "platform/OperatorPrompt.h"
#include "server/ControlCommands.h"
#include "startup/AppPaths.h"
#include "startup/IniFile.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

#include <QTimer>

#include <cstdio>

namespace nodalis {

ServerHost::ServerHost()
    : m_engine(m_comDNC), m_sender(m_engine), m_ipSerial(m_engine, m_sender),
      m_calls(m_engine, m_sender), m_mazak(m_engine, m_calls), m_network(m_engine),
      m_files(m_engine, m_calls), m_psion(m_engine, m_sender),
      m_controllers(m_engine, m_sender, m_calls), m_mazatrol(m_engine, m_sender, m_calls),
      m_commands(new ControlCommands(*this))
{
    m_network.plugMethods();
    m_network.setExplorer(&m_explorer);
    m_network.setStopTransfer([this] { ArreterTrans(); });
    m_controllers.setStopTransfer([this] { ArreterTrans(); });
    m_link.setCommandRunner([this](const QByteArray& keyword, const QByteArray& args, int k) {
        m_commands->run(keyword, args, k);
    });
    m_link.setUrgentCheck(&ControlCommands::ActsAtOnce);
    m_link.setImmediateCheck(&ControlCommands::AnswersAtOnce);
    m_link.setDroppedByStop(&RemoteCommands::IsRemoteOperation);
    // Published again at every connection: handed to the system, not synced.
    connect(&m_link, &ControlLink::listening, this, [](quint16 port) {
        WriteIni(Paths().configPath, QByteArrayLiteral("NODALIS"), QByteArrayLiteral("Socket"),
                 QByteArray::number(port), IniFlush::ToSystem);
    });
    SetNotifier(&m_link);
    // A removable drive plugged in becomes the channel's folder (method 12).
    connect(&m_drives, &RemovableDrives::arrived, this, [this](const QString& root) {
        Gate().run([this, root] {
            if (Config().Port.Methode != 12)
                return;
            Channel().removableFolder = root;
            m_engine.StartListeningSoon();
        });
    });
    connect(&m_drives, &RemovableDrives::removed, this, [this](const QString& root) {
        Gate().run([this, root] {
            if (Config().Port.Methode != 12 || Channel().removableFolder != root)
                return;
            Channel().removableFolder.clear();
            m_engine.SetPortState(-1);
        });
    });
}

ServerHost::~ServerHost()
{
    SetNotifier(nullptr);
    delete m_commands;
}

namespace {

// A problem of the control link at start: in the event log and on stderr.
void reportLinkProblem(const QString& text)
{
    LogLine(toAnsi(QStringLiteral("Liaison de contrôle : ") + text));
    std::fprintf(stderr, "nodalis: %s\n", qPrintable(text));
    std::fflush(stderr);
}

} // namespace

bool ServerHost::OpenControlLink()
{
    const Settings& s = Config();
    const QList<QByteArray> bad = m_link.setAllowList(s.ControlAllowFrom);
    if (!bad.isEmpty()) {
        QStringList entries;
        for (const QByteArray& entry : bad)
            entries.append(QLatin1Char('"') + fromAnsi(entry) + QLatin1Char('"'));
        reportLinkProblem(QStringLiteral("ControlAllowFrom : %1 n'est ni une adresse ni une "
                                         "plage ; toute connexion est refusée")
                              .arg(entries.join(QStringLiteral(", "))));
    } else if (m_link.allowsEveryone() && IsHeadless()) {
        reportLinkProblem(QStringLiteral("ControlAllowFrom est vide : toute machine du réseau "
                                         "peut piloter ce serveur"));
    }
    QString error;
    const quint16 port = s.PortListen >= 0 && s.PortListen <= 65535 ? quint16(s.PortListen) : 0;
    if (s.PortListen != port || !m_link.open(port, &error)) {
        reportLinkProblem(QStringLiteral("écoute impossible sur le port %1 (%2)")
                              .arg(s.PortListen)
                              .arg(error.isEmpty() ? QStringLiteral("port invalide") : error));
        // No link, no port: a client must not find the previous run's.
        WriteIni(Paths().configPath, QByteArrayLiteral("NODALIS"), QByteArrayLiteral("Socket"),
                 QByteArrayLiteral("0"), IniFlush::ToSystem);
        return false;
    }
    return true;
}

void ServerHost::ApplySettings()
{
    m_engine.setRelaunchEnabled(Config().IsModeEcoute);
    if (Config().Port.Methode == 12) {
        m_drives.start();
        // A key plugged in before the start, holding this machine's folder,
        // is the key in use.
        if (Channel().removableFolder.isEmpty()) {
            const QString machine = fromAnsi(TrimSpaces(Config().RefMO));
            for (const QString& root : RemovableDrives::MountedRemovableVolumes())
                if (!machine.isEmpty() && QFileInfo(root + machine).isDir()) {
                    Channel().removableFolder = root;
                    break;
                }
        }
    } else {
        m_drives.stop();
    }
}

void ServerHost::ConnectNetworkSoon()
{
    QTimer::singleShot(0, this, [this] {
        Gate().run([this] {
            if (IsNetworkMethod(Config().Port.Methode))
                m_network.Connect();
        });
    });
}

void ServerHost::ShowExplorerSoon()
{
    QTimer::singleShot(0, this, [this] {
        Gate().run([this] {
            m_explorer.setMode(1, Config().Port.Methode);
            m_explorer.showWindow();
        });
    });
}

void ServerHost::StartListeningSoon()
{
    m_engine.StartListeningSoon();
}

void ServerHost::LoadCurrentProgram()
{
    m_currentProgram = ReadProgramRecord(Channel().currentProgramCode);
}

bool ServerHost::SendAndReturn()
{
    const bool sent = m_sender.SendDispatcher();
    m_engine.ReturnToListening();
    return sent;
}

void ServerHost::ArreterTrans()
{
    State().stopRequested = true;
    m_engine.SetPortState(ChannelIdle);
    SetStatus(902);
    View().setBlockDisplay({});
    // Every wait of a controller on the line ends on a stop, and a push.
    m_controllers.Cancel();
    // The explorer of a networked machine goes out of sight; what it was
    // doing ends on the stop flag.
    if (IsNetworkMethod(Config().Port.Methode))
        m_explorer.hideWindow();
}

void ServerHost::ArretNodalis()
{
    m_engine.setShuttingDown(true);
    SetStatus(902);
    DoEvents();
    State().stopRequested = true;
    DoEvents();
    m_engine.ClosePort();
    m_link.closeClients();
    DoEvents();
    SendInfoMessage(BuildInfoMessage("{a}", {"2"}), 0);
    State().quitAtStart = true;
    QCoreApplication::exit(0);
}

} // namespace nodalis
