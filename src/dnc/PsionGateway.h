#pragma once

#include <QString>

namespace nodalis {

class PortEngine;
class ProgramSender;

// Method 9: machines reached through a Psion handheld and its database
// gateway. No line protocol, two shared folders: the program goes out as
// "ToPsion.txt" in DefaultDirHostSend, and what the machine sends comes back
// as a file whose name holds FROMPSION in DefaultDirHostReceiv.
class PsionGateway
{
public:
    // Step of the listening loop and of the deletion retries.
    static constexpr int PollMs = 200;
    // The gateway may still be writing a file it has just dropped.
    static constexpr int SettleMs = 3000;
    // A locked "ToPsion.txt" or reception file is given up after that long.
    static constexpr int DeleteLimitMs = 10000;
    // Tries at a gateway file left behind after it was taken.
    static constexpr int GatewayDeleteTries = 10;

    // Plugs method 9 into the engine's method table.
    PsionGateway(PortEngine& engine, ProgramSender& sender);

    // Prepares the program and drops it as "ToPsion.txt" (with its companion
    // folder when ModeGestionBD is 1). False when the send folder is missing
    // (855), the program is missing or the previous file stays locked.
    bool SendToPsion(const QString& programFile);
    // The wait of a negative CheckModeRecep (event 510); false, with the
    // transaction reset, when a stop ends it.
    bool PsionReadyToSend();
    // One listening cycle: state 3, event 864, the take-over, then the
    // examination of what was taken (or of nothing, after a stop).
    void ListenPsion();
    // Waits for a FROMPSION file and copies it onto the reception file. True
    // when one was taken, or its copy failed (858: the file stays in the
    // gateway's folder). False on a stop or a missing receive folder (856).
    bool TakeFromPsion(const QString& receptionFile);
    // Deletes the file, read-only or not; false when it could not.
    static bool TryDeleteFile(const QString& path);

private:
    // Deletes a file that is in the way, retrying while it is locked; false
    // after DeleteLimitMs (event 253) or at a stop.
    bool deleteInTheWay(const QString& path);
    bool takeFile(const QString& folder, const QString& name, const QString& receptionFile);
    void deleteGatewayFile(const QString& path);

    PortEngine& m_engine;
    ProgramSender& m_sender;
    bool m_listening = false; // a listening loop is running
    bool m_returned = false;  // the examination returned to listening itself
};

} // namespace nodalis
