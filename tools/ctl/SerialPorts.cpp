#include "ctl/SerialPorts.h"

#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>

namespace nodalis::ctl {

namespace {

// Opened and closed at once: what a server starting on it would meet.
QString availability(const QSerialPortInfo& info)
{
    QSerialPort port(info);
    if (port.open(QIODevice::ReadWrite)) {
        port.close();
        return QStringLiteral("free");
    }
    switch (port.error()) {
    case QSerialPort::PermissionError:
        // A lock held by another program reports the same error as a refused
        // access: the device node's permissions tell them apart.
        return QFileInfo(info.systemLocation()).isWritable()
                   ? QStringLiteral("busy")
                   : QStringLiteral("no access (group dialout?)");
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("gone");
    default:
        return QStringLiteral("busy");
    }
}

QString usbIds(const QSerialPortInfo& info)
{
    if (!info.hasVendorIdentifier() || !info.hasProductIdentifier())
        return QStringLiteral("-");
    return QStringLiteral("%1:%2")
        .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
        .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
}

} // namespace

int ListSerialPorts(QTextStream& out)
{
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    if (ports.isEmpty()) {
        out << "no serial device found\n";
        return 0;
    }
    out << QStringLiteral("%1  %2  %3  %4  %5\n")
               .arg(QStringLiteral("PortName"), -20)
               .arg(QStringLiteral("state"), -26)
               .arg(QStringLiteral("usb"), -9)
               .arg(QStringLiteral("maker"), -16)
               .arg(QStringLiteral("description"));
    for (const QSerialPortInfo& info : ports) {
        out << QStringLiteral("%1  %2  %3  %4  %5\n")
                   .arg(info.systemLocation(), -20)
                   .arg(availability(info), -26)
                   .arg(usbIds(info), -9)
                   .arg(info.manufacturer().isEmpty() ? QStringLiteral("-") : info.manufacturer(),
                        -16)
                   .arg(info.description().isEmpty() ? QStringLiteral("-") : info.description());
    }
    return 0;
}

} // namespace nodalis::ctl
