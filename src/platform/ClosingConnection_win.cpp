#include "platform/ClosingConnection.h"

namespace nodalis {

// Winsock closes a half-closed connection with its socket; no duplicate is
// kept there, and such a client goes without the answers still owed.
ClosingConnection::ClosingConnection(qintptr) {}

ClosingConnection::~ClosingConnection() = default;

bool ClosingConnection::write(const QByteArray&)
{
    return false;
}

} // namespace nodalis
