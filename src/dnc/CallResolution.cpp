#include "dnc/CallResolution.h"

#include "dnc/EventMessages.h"
#include "dnc/PortEngine.h"
#include "dnc/PortState.h"
#include "dnc/ProgramSender.h"
#include "server/ControlLink.h"
#include "server/ControlProtocol.h"

namespace nodalis {

CallResolution::CallResolution(PortEngine& engine, ProgramSender& sender)
    : m_engine(engine), m_sender(sender)
{
    m_sender.setReset([this] { ResetTransaction(); });
}

void CallResolution::ResetTransaction()
{
    SetStatus(952);
    m_engine.ClearReceptionFlags();
    m_engine.SetPortState(ChannelIdle);
    PortState& c = Channel();
    c.programText.clear();
    c.percentage = 0;
    SendInfoMessage(BuildInfoMessage("{%}", {"0"}), 0);
    SendInfoMessage(BuildInfoMessage("{b}", {""}), 0);
}

} // namespace nodalis
