#include "server/SerialControllers.h"

#include "dnc/CallResolution.h"
#include "dnc/EventMessages.h"
#include "dnc/PortEngine.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "dnc/ProgramSender.h"
#include "dnc/SerialLine.h"
#include "platform/SerialControl.h"
#include "protocols/ClsAGIE.h"
#include "protocols/ClsConverHeid.h"
#include "protocols/clsBoitierPTR.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"

namespace nodalis {

SerialControllers::SerialControllers(PortEngine& engine, ProgramSender& sender,
                                     CallResolution& calls, QObject* parent)
    : QObject(parent), m_engine(engine), m_calls(calls), m_push(engine, sender, [] {
          return std::make_unique<ProcessPushComponent>(Config().Port.PortName);
      })
{
    MethodTable& table = m_engine.methods();
    const auto plug = [&](int methode, std::function<void()> listen) {
        PortMethod method;
        method.listen = std::move(listen);
        method.close = [this] {
            Cancel();
            releasePort();
        };
        method.returnToListening = [this] { releasePort(); };
        table.plug({methode}, method);
    };
    plug(8, [this] { listenConversational(); });
    plug(15, [this] { listenAgie(); });
    plug(16, [this] { listenPtr(); });

    // The push box listens as the serial line does; its sends go through
    // the component, which logs its own end.
    PortMethod push = *table.find(20);
    push.send = [this] { return pushSend(); };
    push.ownCompletion = true;
    push.close = push.returnToListening = [this] {
        releasePort();
        m_push.RS_ORVA_Cancel();
    };
    table.plug({20}, push);
}

SerialControllers::~SerialControllers() = default;

void SerialControllers::Cancel()
{
    if (m_heid)
        m_heid->Cancel();
    if (m_agie)
        m_agie->Cancel();
    if (m_ptr)
        m_ptr->Cancel();
    if (m_push.pushing())
        m_push.RS_ORVA_Cancel();
}

void SerialControllers::releasePort()
{
    ReleaseSerialPort(m_engine.comDNC());
}

bool SerialControllers::replacesRunningWait()
{
    if (!m_waiting)
        return false;
    m_listenAgain = true;
    Cancel();
    return true;
}

template <typename Link>
bool SerialControllers::serve(Link& link, const std::function<void()>& wait)
{
    m_waiting = true;
    wait();
    m_waiting = false;
    const bool lost = link.lineLost();
    if (lost) {
        // The line went away (its event is told by the port): the relaunch
        // timer opens it again.
        releasePort();
        m_engine.SetPortState(ChannelIdle);
    }
    if (m_listenAgain) {
        m_listenAgain = false;
        releasePort();
        m_engine.StartListeningSoon();
    }
    return !lost;
}

void SerialControllers::listenConversational()
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
    serve(heid, [&heid] { heid.WaitForMsg(); });
    m_heid = nullptr;
}

bool SerialControllers::openForExchange(int event)
{
    if (replacesRunningWait())
        return false;
    if (!OpenControlPort(m_engine.comDNC(), Config().Port, false)) {
        State().stopRequested = true;
        return false;
    }
    m_engine.SetPortState(ChannelReceiving);
    SetStatus(event);
    return true;
}

void SerialControllers::listenAgie()
{
    if (openForExchange(680))
        InitRecepLSV2Agie();
}

void SerialControllers::InitRecepLSV2Agie()
{
    ClsAGIE agie;
    connect(&agie, &ClsAGIE::FindThisProg, this, [this, &agie](const QByteArray& name) {
        if (PrepareRequestedProgram(name))
            agie.SendProg(Paths().sendFile);
    });
    connect(&agie, &ClsAGIE::ReinitEcoute, this, &SerialControllers::mLsv2AGIE_ReinitEcoute);
    agie.Init(m_engine.comDNC());
    m_agie = &agie;
    serve(agie, [&agie] { agie.WaitForMsg(); });
    m_agie = nullptr;
}

void SerialControllers::listenPtr()
{
    if (openForExchange(690))
        InitRecepBoitierPTR();
}

void SerialControllers::InitRecepBoitierPTR()
{
    clsBoitierPTR ptr;
    connect(&ptr, &clsBoitierPTR::FindThisProg, this, [this, &ptr](const QByteArray& name) {
        if (PrepareRequestedProgram(name))
            ptr.SendProg(Paths().sendFile);
    });
    m_ptr = &ptr;
    const bool lineKept = serve(ptr, [this, &ptr] { ptr.Init(m_engine.comDNC()); });
    m_ptr = nullptr;
    // One request per box instance: the next one is listened for afresh.
    if (lineKept && !m_listenAgain)
        m_engine.ReturnToListening();
}

bool SerialControllers::PrepareRequestedProgram(const QByteArray& name)
{
    QString path;
    int error = 0;
    if (!m_calls.FindCalledProgramFile(name, path, error) || !m_calls.CopyToSendFile(path, error))
        return false;
    m_engine.SetPortState(ChannelSending);
    return true;
}

void SerialControllers::mLsv2AGIE_ReinitEcoute()
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

bool SerialControllers::pushSend()
{
    bool sent = false;
    m_push.RS_ORVA_SendProg(Paths().sendFile, sent);
    return sent;
}

} // namespace nodalis
