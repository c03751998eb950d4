#include "support/FakeSerialDevice.h"

#include <QPointer>

namespace nodalis {

namespace {
QPointer<FakeSerialDevice> g_last;
}

void FakeSerialDevice::install()
{
    SetSerialDeviceFactory([] {
        auto device = std::make_unique<FakeSerialDevice>();
        g_last = device.get();
        return device;
    });
}

void FakeSerialDevice::uninstall()
{
    SetSerialDeviceFactory(nullptr);
}

FakeSerialDevice* FakeSerialDevice::last()
{
    return g_last.data();
}

int FakeSerialDevice::open(const QString&, const SerialLineSettings& settings)
{
    openedSettings = settings;
    m_open = openResult == 0;
    return openResult;
}

QByteArray FakeSerialDevice::read(qint64 maxBytes)
{
    const QByteArray out = m_input.left(maxBytes);
    m_input.remove(0, out.size());
    return out;
}

qint64 FakeSerialDevice::write(const QByteArray& bytes)
{
    if (!m_open)
        return -1;
    writes.append(bytes);
    return bytes.size();
}

bool FakeSerialDevice::modemLines(bool& c, bool& d, bool& ring, bool& carrier) const
{
    if (!hasModemLines)
        return false;
    c = cts;
    d = dsr;
    ring = false;
    carrier = true;
    return true;
}

} // namespace nodalis
