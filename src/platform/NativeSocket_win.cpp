#include "platform/NativeSocket.h"

#include <winsock2.h>

namespace nodalis {

void ShutdownSocket(qintptr socket)
{
    ::shutdown(SOCKET(socket), SD_BOTH);
}

int CloseSocket(qintptr socket)
{
    return ::closesocket(SOCKET(socket));
}

} // namespace nodalis
