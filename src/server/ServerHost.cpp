#include "server/ServerHost.h"

#include "dnc/ControlProtocol.h"
#include "dnc/EventMessages.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "dnc/ServerView.h"
#include "platform/Clock.h"
#include "server/ControlCommands.h"
#include "startup/AppPaths.h"
#include "startup/IniFile.h"
#include "startup/Settings.h"

#include <QCoreApplication>

#include <cstdio>

namespace nodalis {

ServerHost::ServerHost()
    : m_engine(m_comDNC), m_sender(m_engine), m_calls(m_engine, m_sender),
      m_mazak(m_engine, m_calls), m_commands(new ControlCommands(*this))
{
    m_link.setCommandRunner([this](const QByteArray& keyword, const QByteArray& args, int k) {
        m_commands->run(keyword, args, k);
    });
    connect(&m_link, &ControlLink::listening, this, [](quint16 port) {
        WriteIni(Paths().configPath, QByteArrayLiteral("NODALIS"), QByteArrayLiteral("Socket"),
                 QByteArray::number(port));
    });
    SetNotifier(&m_link);
    // A removable drive plugged in becomes the channel's folder (method 12).
    connect(&m_drives, &RemovableDrives::arrived, this, [this](const QString& root) {
        if (Config().Port.Methode != 12)
            return;
        Channel().removableFolder = root;
        m_engine.StartListening();
    });
    connect(&m_drives, &RemovableDrives::removed, this, [this](const QString& root) {
        if (Config().Port.Methode != 12 || Channel().removableFolder != root)
            return;
        Channel().removableFolder.clear();
        m_engine.SetPortState(-1);
    });
}

ServerHost::~ServerHost()
{
    SetNotifier(nullptr);
    delete m_commands;
}

bool ServerHost::OpenControlLink()
{
    const Settings& s = Config();
    for (const QByteArray& bad : m_link.setAllowList(s.ControlAllowFrom))
        std::fprintf(stderr, "nodalis: ControlAllowFrom: \"%s\" is not an address or range\n",
                     bad.constData());
    QString error;
    const quint16 port = s.PortListen >= 0 && s.PortListen <= 65535 ? quint16(s.PortListen) : 0;
    if (s.PortListen != port || !m_link.open(port, &error)) {
        std::fprintf(stderr, "nodalis: cannot listen for control connections on port %d: %s\n",
                     int(s.PortListen),
                     qPrintable(error.isEmpty() ? QStringLiteral("bad port") : error));
        std::fflush(stderr);
        return false;
    }
    return true;
}

void ServerHost::ApplySettings()
{
    m_engine.setRelaunchEnabled(Config().IsModeEcoute);
    if (Config().Port.Methode == 12)
        m_drives.start();
    else
        m_drives.stop();
}

void ServerHost::StartListeningSoon()
{
    QMetaObject::invokeMethod(&m_engine, &PortEngine::StartListening, Qt::QueuedConnection);
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
