#pragma once

#include <QString>

namespace nodalis {

// What the server publishes about itself so that the program-management
// application can find it.
struct HostIdentity
{
    QString localAddress; // first IPv4 address of an interface that is up, else 127.0.0.1
    QString hostName;
    qint64 processId = 0;
};

HostIdentity ReadHostIdentity();

} // namespace nodalis
