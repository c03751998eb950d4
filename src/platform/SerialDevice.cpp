#include "platform/SerialDevice.h"

#include "platform/QtSerialDevice.h"

namespace nodalis {

namespace {

SerialDeviceFactory& factory()
{
    static SerialDeviceFactory f = [] { return std::make_unique<QtSerialDevice>(); };
    return f;
}

} // namespace

std::unique_ptr<SerialDevice> CreateSerialDevice()
{
    return factory()();
}

void SetSerialDeviceFactory(SerialDeviceFactory f)
{
    factory() = f ? std::move(f) : [] { return std::make_unique<QtSerialDevice>(); };
}

QString SerialDeviceName(int portNumber, const QByteArray& configuredName)
{
    const QString configured = QString::fromLocal8Bit(configuredName).trimmed();
    if (!configured.isEmpty())
        return configured;
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(portNumber);
#else
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
#endif
}

} // namespace nodalis
