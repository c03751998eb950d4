#include "server/ControlCommands.h"

#include "dnc/ControlProtocol.h"
#include "dnc/EventMessages.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "dnc/ServerView.h"
#include "platform/AnsiText.h"
#include "server/ControlLink.h"
#include "server/PathSetup.h"
#include "server/ServerHost.h"
#include "startup/AppPaths.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"

#include <QCoreApplication>

#include <limits>

namespace nodalis {

namespace {

void notify(const char* tag, const QByteArray& value)
{
    SendInfoMessage(BuildInfoMessage(tag, {value}), 0);
}

void notifyState()
{
    notify("{a}", QByteArray::number(Channel().channelState));
}

} // namespace

ControlCommands::ControlCommands(ServerHost& host) : m_host(host), m_remote(host.network())
{
    m_table = {
        {"CONNECT", [this](const QByteArray&, int k) { Connect(k); }},
        {"R",
         [](const QByteArray&, int k) {
             const qint16 state = Channel().channelState;
             if (state != ChannelReceiving && state != ChannelSending)
                 SendInfoMessage(BuildInfoMessage("{c}"), k);
         }},
        {"J", [](const QByteArray&, int) {}},
        {"I", [](const QByteArray& args, int) { Channel().infoText = TrimSpaces(args); }},
        {"E", [this](const QByteArray&, int) { m_host.ArretNodalis(); }},
        {"S", [this](const QByteArray&, int) { m_host.ArreterTrans(); }},
        {"M",
         [this](const QByteArray& args, int) {
             const qint16 state = Channel().channelState;
             if (state == ChannelReceiving || state == ChannelListening)
                 return;
             Channel().targetName = args;
             // The cycle waits on the line for as long as the machine is
             // silent: it runs outside the command, which returns at once.
             if (Config().Port.Methode != 12)
                 m_host.engine().StartListeningSoon();
         }},
        {"C",
         [this](const QByteArray& args, int) {
             // Checked before any conversion: a code no record can have is none.
             const double code = LeadingNumber(TrimSpaces(args));
             Channel().currentProgramCode =
                 code >= 0 && code <= std::numeric_limits<qint32>::max() ? qint32(code) : 0;
             m_host.LoadCurrentProgram();
         }},
        {"T",
         [this](const QByteArray& args, int) {
             Channel().targetName = ArgumentList(args).value(0);
             m_host.SendAndReturn();
         }},
        {"H", [](const QByteArray&, int) { View().setWindowVisible(false); }},
        {"V", [](const QByteArray&, int) { View().setWindowVisible(true); }},
        {"L", [this](const QByteArray&, int) { Refresh(); }},
        {"PING", [](const QByteArray&, int k) { SendInfoMessage(BuildInfoMessage("OK"), k); }},
        {"REINIT", [this](const QByteArray&, int) { Reinit(); }},
        {"A", [this](const QByteArray&, int) { m_host.ftpJobs().ExeCMD(1); }},
        // The network explorer: shown and refreshed, hidden, placed, and its
        // transfer of the pending files.
        {"G", [this](const QByteArray&, int) { m_host.explorer().showWindow(); }},
        {"F", [this](const QByteArray&, int) { m_host.explorer().hideWindow(); }},
        {"POS_SIZE", [this](const QByteArray& args, int) { PlaceExplorer(args); }},
        {"COMFTPFILE",
         [this](const QByteArray&, int) {
             FilesToTransfer toSend;
             FilesToTransfer toReceive;
             m_remote.takePendingTransfer(toSend, toReceive);
             m_host.explorer().RunFileTransfer(toSend, toReceive);
         }},
    };
    m_remote.addTo(m_table);
}

bool ControlCommands::AnswersAtOnce(const QByteArray& keyword, const QByteArray& arguments)
{
    // CONNECT and L say the status again, which lets events run and waits
    // for the clients: run at once they would run inside each other.
    return keyword == "PING" && arguments.isEmpty();
}

bool ControlCommands::ActsAtOnce(const QByteArray& keyword)
{
    // Stops act before the lines already waiting: their flag ends the running
    // work at its next step, and the command itself runs next.
    if (keyword != "S" && keyword != "E")
        return false;
    State().stopRequested = true;
    return true;
}

void ControlCommands::run(const QByteArray& keyword, const QByteArray& arguments, int k)
{
    const auto it = m_table.constFind(keyword);
    if (it == m_table.constEnd())
        return;
    // A stop ends the remote operation it finds running, and drops those
    // waiting; one that arrives after it starts afresh.
    if (RemoteCommands::IsRemoteOperation(keyword))
        State().stopRequested = false;
    (*it)(arguments, k);
}

void ControlCommands::Connect(int)
{
    const PortState& c = Channel();
    notifyState();
    notify("{b}", c.programText);
    notify("{%}", QByteArray::number(c.percentage));
    SetStatus(Events().lastShown, {}, true);
}

void ControlCommands::Refresh()
{
    const PortState& c = Channel();
    notifyState();
    const bool serving = !TrimSpaces(c.currentTransfer[0]).isEmpty();
    if (!(serving && c.channelState != ChannelIdle))
        notify("{n}", c.currentTransfer[0]);
    notify("{b}", c.programText);
    if (c.channelState == ChannelListening)
        SetStatus(Events().lastShown, {}, true);
    notify("{%}", QByteArray::number(c.percentage));
}

void ControlCommands::PlaceExplorer(const QByteArray& arguments)
{
    const std::optional<QRect> twips = PosSizeTwips(ArgumentList(arguments));
    if (!twips) {
        LogLine("POS_SIZE " + TrimSpaces(arguments).left(80) +
                ansi(u" : position ou taille absente ou non numérique, ignorée"));
        return;
    }
    m_host.explorer().place(twips->left(), twips->top(), twips->width(), twips->height());
}

void ControlCommands::Reinit()
{
    if (PathSetup(Paths().applicationFolder, Paths().baseFolder,
                  QCoreApplication::applicationFilePath()))
        m_host.ApplySettings();
}

} // namespace nodalis
