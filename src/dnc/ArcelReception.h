#pragma once

#include "dnc/ReceptionSteps.h"

namespace nodalis {

// Reception from DURER_OVARE machines (ARCEL controls), as steps of the
// polled cycle: after BOR the port waits for the machine's wake-up (a DEL
// character, or a lone CR), answers the first data with "DOPR" CR and again
// after each "FIN!!..%" block that carries N9000 (the machine resumes with
// the next part); the lines go to the reception file and the cycle ends on
// silence (TimeOut) with EOR, as any other.
class ArcelReception : public ReceptionSteps
{
public:
    bool awake(SerialControl& com) override;
    void beforeChunk(SerialControl& com) override;
    void onChunk(const QByteArray& pending) override;
    void afterChunk() override;

private:
    bool m_askDopr = true;
    bool m_nextPart = false;
};

} // namespace nodalis
