#include "server/Lsv2Channel.h"

#include "dnc/CallResolution.h"
#include "dnc/EventMessages.h"
#include "dnc/PortEngine.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "dnc/SerialLine.h"
#include "platform/SerialControl.h"
#include "protocols/ClsAGIE.h"
#include "protocols/ClsConverHeid.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"

namespace nodalis {

Lsv2Channel::Lsv2Channel(PortEngine& engine, CallResolution& calls, QObject* parent)
    : QObject(parent), m_engine(engine), m_calls(calls)
{
    PortMethod conversational;
    conversational.listen = [this] { listenConversational(); };
    conversational.close = [this] { close(); };
    m_engine.methods().plug({8}, conversational);

    PortMethod agie;
    agie.listen = [this] { listenAgie(); };
    agie.close = [this] { close(); };
    m_engine.methods().plug({15}, agie);
}

Lsv2Channel::~Lsv2Channel() = default;

void Lsv2Channel::Cancel()
{
    if (m_heid)
        m_heid->Cancel();
    if (m_agie)
        m_agie->Cancel();
}

void Lsv2Channel::close()
{
    Cancel();
    ReleaseSerialPort(m_engine.comDNC());
}

bool Lsv2Channel::replacesRunningWait()
{
    if (!m_waiting)
        return false;
    m_listenAgain = true;
    Cancel();
    return true;
}

template <typename Link> void Lsv2Channel::serve(Link& link)
{
    m_waiting = true;
    link.WaitForMsg();
    m_waiting = false;
    if (link.lineLost()) {
        // The line went away (its event is told by the port): the relaunch
        // timer opens it again.
        ReleaseSerialPort(m_engine.comDNC());
        m_engine.SetPortState(ChannelIdle);
    }
    if (m_listenAgain) {
        m_listenAgain = false;
        ReleaseSerialPort(m_engine.comDNC());
        m_engine.StartListeningSoon();
    }
}

void Lsv2Channel::listenConversational()
{
    if (replacesRunningWait())
        return;
    SerialControl& com = m_engine.comDNC();
    if (!OpenControlPort(com, Config().Port, false))
        return m_engine.OpenFailed(803);
    m_engine.SetPortState(ChannelListening);
    if (Config().OrvaConnexionRole != 1) {
        SetStatus(805);
        return;
    }
    SetStatus(804);
    ClsConverHeid heid;
    heid.Init(ClsConverHeid::SerialLine, com);
    m_heid = &heid;
    serve(heid);
    m_heid = nullptr;
}

void Lsv2Channel::listenAgie()
{
    if (replacesRunningWait())
        return;
    if (!OpenControlPort(m_engine.comDNC(), Config().Port, false)) {
        State().stopRequested = true;
        return;
    }
    m_engine.SetPortState(ChannelReceiving);
    SetStatus(680);
    InitRecepLSV2Agie();
}

void Lsv2Channel::InitRecepLSV2Agie()
{
    ClsAGIE agie;
    connect(&agie, &ClsAGIE::FindThisProg, this, &Lsv2Channel::mLsv2AGIE_FindThisProg);
    connect(&agie, &ClsAGIE::ReinitEcoute, this, &Lsv2Channel::mLsv2AGIE_ReinitEcoute);
    agie.Init(m_engine.comDNC());
    m_agie = &agie;
    serve(agie);
    m_agie = nullptr;
}

void Lsv2Channel::mLsv2AGIE_FindThisProg(const QByteArray& name)
{
    QString path;
    int error = 0;
    if (!m_calls.FindCalledProgramFile(name, path, error) || !m_calls.CopyToSendFile(path, error))
        return;
    m_engine.SetPortState(ChannelSending);
    if (m_agie)
        m_agie->SendProg(Paths().sendFile);
}

void Lsv2Channel::mLsv2AGIE_ReinitEcoute()
{
    // The exchange is over. Its wait ends first; the transfer is then
    // stopped and listening starts afresh from the event loop, so that
    // months of exchanges never pile up on the stack.
    if (m_agie)
        m_agie->Cancel();
    m_listenAgain = true;
    if (m_stopTransfer)
        m_stopTransfer();
}

} // namespace nodalis
