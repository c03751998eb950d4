#include "platform/ClosingConnection.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace nodalis {

ClosingConnection::ClosingConnection(qintptr descriptor)
{
    if (descriptor >= 0)
        m_descriptor = ::fcntl(int(descriptor), F_DUPFD_CLOEXEC, 0);
}

ClosingConnection::~ClosingConnection()
{
    if (m_descriptor >= 0)
        ::close(int(m_descriptor));
}

bool ClosingConnection::write(const QByteArray& data)
{
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0 && m_descriptor >= 0) {
        const ssize_t n = ::send(int(m_descriptor), p, size_t(left), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            p += n;
            left -= n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // A peer that reads nothing for two seconds gets no more.
        pollfd room{int(m_descriptor), POLLOUT, 0};
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && ::poll(&room, 1, 2000) > 0)
            continue;
        return false;
    }
    return left == 0;
}

} // namespace nodalis
