#pragma once

namespace nodalis {

class PortEngine;

// Polled reception of DURER_OVARE machines (ARCEL controls): the port sends
// BOR, waits for the machine's wake-up (a DEL character, or a lone CR),
// answers the first data with "DOPR" CR and again after each "FIN!!..%"
// block that carries N9000 (the machine resumes with the next part), writes
// the lines to the reception file and ends on silence (TimeOut) with EOR.
// The data then goes to the engine's examiner. False when a stop request
// ended it (what had arrived is examined all the same).
bool ReceiveSerialArcel(PortEngine& engine);

} // namespace nodalis
