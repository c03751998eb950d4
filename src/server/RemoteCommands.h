#pragma once

#include "protocols/NetworkTransfer.h"

#include <QByteArray>
#include <QHash>

#include <functional>

namespace nodalis {

class NetworkTransfer;

// The control-link commands that work on a networked machine's files: list
// and walk folders (LF), connect and disconnect (CR, DR), fetch (DP),
// preview (PP), delete (DD, DF), rename (RF), create folders and text files
// (MKDIR, MKTXT), send a list of files (BLFTS, AFTS, ELFTS) and receive one
// (BLFTR, AFTR, AFOTR, ELFTR). Replies go to the client that asked.
class RemoteCommands
{
public:
    using Command = std::function<void(const QByteArray& arguments, int k)>;

    explicit RemoteCommands(NetworkTransfer& network) : m_network(network) {}

    // Adds the commands to a command table.
    void addTo(QHash<QByteArray, Command>& table);
    // Whether the keyword is one of them: such commands wait their turn and
    // a stop drops those still waiting.
    static bool IsRemoteOperation(const QByteArray& keyword);
    // The files a transfer through the explorer takes (COMFTPFILE): the list
    // to send when it has any, else the list to receive; the list taken
    // starts afresh.
    void takePendingTransfer(FilesToTransfer& toSend, FilesToTransfer& toReceive);

private:
    NetworkTransfer& m_network;
    FilesToTransfer m_toSend;
    FilesToTransfer m_toReceive;
};

} // namespace nodalis
