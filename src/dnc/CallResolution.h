#pragma once

namespace nodalis {

class PortEngine;
class ProgramSender;

// What the channel does with a reception: a call is served, an upload
// stored, noise logged; and the end of every transaction.
class CallResolution
{
public:
    CallResolution(PortEngine& engine, ProgramSender& sender);

    // Back to an idle channel after a transaction: event 952, the reception
    // flags cleared, state 0, progress and program name cleared.
    void ResetTransaction();

private:
    PortEngine& m_engine;
    ProgramSender& m_sender;
};

} // namespace nodalis
