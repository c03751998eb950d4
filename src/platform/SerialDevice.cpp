#include "platform/SerialDevice.h"

#include "platform/QtSerialDevice.h"

#ifdef Q_OS_UNIX
#include <grp.h>
#include <sys/stat.h>
#endif

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

QString SerialDevicePath(const QString& deviceName)
{
#ifdef Q_OS_UNIX
    if (!deviceName.isEmpty() && !deviceName.contains(QLatin1Char('/')))
        return QStringLiteral("/dev/") + deviceName;
#endif
    return deviceName;
}

QString SerialDeviceGroup(const QString& deviceName)
{
#ifdef Q_OS_UNIX
    struct stat node; // filled by stat()
    if (::stat(SerialDevicePath(deviceName).toLocal8Bit().constData(), &node) == 0) {
        if (const group* g = ::getgrgid(node.st_gid))
            return QString::fromLocal8Bit(g->gr_name);
    }
    return QStringLiteral("dialout");
#else
    Q_UNUSED(deviceName);
    return {};
#endif
}

} // namespace nodalis
