#include "platform/HostIdentity.h"

#include <QCoreApplication>
#include <QHostInfo>
#include <QNetworkInterface>

namespace nodalis {

HostIdentity ReadHostIdentity()
{
    HostIdentity id;
    id.hostName = QHostInfo::localHostName();
    id.processId = QCoreApplication::applicationPid();
    id.localAddress = QStringLiteral("127.0.0.1");
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& itf : interfaces) {
        const auto flags = itf.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : itf.addressEntries()) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol) {
                id.localAddress = entry.ip().toString();
                return id;
            }
        }
    }
    return id;
}

} // namespace nodalis
