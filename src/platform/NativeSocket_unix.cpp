#include "platform/NativeSocket.h"

#include <sys/socket.h>
#include <unistd.h>

namespace nodalis {

void ShutdownSocket(qintptr socket)
{
    ::shutdown(int(socket), SHUT_RDWR);
}

int CloseSocket(qintptr socket)
{
    return ::close(int(socket));
}

} // namespace nodalis
