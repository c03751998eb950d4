#include "dnc/ArcelReception.h"

#include "dnc/EventMessages.h"
#include "dnc/SerialLine.h"
#include "platform/Clock.h"
#include "platform/SerialControl.h"

namespace nodalis {

namespace {

constexpr char kWakeUp = 127;

} // namespace

bool ArcelReception::awake(SerialControl& com)
{
    const QByteArray said = com.InBufferCount() > 0 ? com.Input() : QByteArray();
    SetStatus(999, {"Buffer ARCEL : " + said});
    return said.contains(kWakeUp) || said == "\r";
}

void ArcelReception::beforeChunk(SerialControl& com)
{
    if (!m_askDopr)
        return;
    WriteText(com, "DOPR\r");
    SetStatus(410, {"DOPR"});
    m_askDopr = false;
}

void ArcelReception::onChunk(const QByteArray& pending)
{
    SetStatus(999, {"Buffer : " + pending});
    // The end of one part: the machine goes on with the next once asked.
    m_nextPart = pending.contains("FIN!!..%") && pending.contains("N9000");
}

void ArcelReception::afterChunk()
{
    if (!m_nextPart)
        return;
    Pause(10);
    m_askDopr = true;
    SetStatus(999, {"N9000 reprise"});
    Pause(20);
}

} // namespace nodalis
