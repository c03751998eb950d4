#include "platform/SerialControl.h"

namespace nodalis {

SerialControl::SerialControl(QObject* parent)
    : QObject(parent), m_device(CreateSerialDevice()), m_modemLines(DefaultModemLineSource())
{
    connect(m_device.get(), &SerialDevice::readyRead, this, &SerialControl::deviceReady);
    connect(m_device.get(), &SerialDevice::lost, this, &SerialControl::deviceLost);
}

SerialControl::~SerialControl() = default;

bool SerialControl::PortOpen() const
{
    return m_device->isOpen();
}

QString SerialControl::DeviceName() const
{
    return SerialDeviceName(m_commPort, m_deviceName);
}

bool SerialControl::parseSettings(const QString& text, SerialLineSettings& out) const
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return false;
    bool ok = false;
    out.baud = parts[0].trimmed().toInt(&ok);
    if (!ok || out.baud <= 0)
        return false;
    const QString parity = parts[1].trimmed().toUpper();
    if (parity.size() != 1 || !QStringLiteral("NEOMS").contains(parity))
        return false;
    out.parity = char(parity[0].unicode());
    out.dataBits = parts[2].trimmed().toInt(&ok);
    if (!ok || out.dataBits < 4 || out.dataBits > 8)
        return false;
    const QString stop = parts[3].trimmed();
    if (stop != QLatin1String("1") && stop != QLatin1String("2") && stop != QLatin1String("1.5"))
        return false;
    out.stopBits = stop == QLatin1String("2") ? 2 : 1;
    out.handshake = m_handshaking;
    return true;
}

int SerialControl::setPortOpen(bool open)
{
    if (!open) {
        m_device->close();
        return 0;
    }
    if (m_device->isOpen())
        return ErrorPortAlreadyOpen;
    SerialLineSettings s;
    if (!parseSettings(m_settings, s))
        return ErrorBadSettings;
    const int error = m_device->open(DeviceName(), s);
    if (error)
        return error;
    m_device->setDtr(m_dtr);
    m_device->setRts(m_rts);
    return 0;
}

int SerialControl::setCommPort(int port)
{
    if (m_device->isOpen())
        return ErrorPortOpen;
    if (port < 1 || port > 16383)
        return ErrorBadPortNumber;
    m_commPort = port;
    return 0;
}

int SerialControl::setSettings(const QString& settings)
{
    SerialLineSettings s;
    if (!parseSettings(settings, s))
        return ErrorBadSettings;
    m_settings = settings;
    return 0;
}

int SerialControl::setHandshaking(int mode)
{
    if (mode < 0 || mode > 3)
        return ErrorBadSettings;
    m_handshaking = mode;
    return 0;
}

int SerialControl::setInBufferSize(int size)
{
    if (m_device->isOpen())
        return ErrorPortOpen;
    if (size < 1)
        return ErrorBadSettings;
    m_inBufferSize = size;
    return 0;
}

int SerialControl::setOutBufferSize(int size)
{
    if (m_device->isOpen())
        return ErrorPortOpen;
    if (size < 1)
        return ErrorBadSettings;
    m_outBufferSize = size;
    return 0;
}

int SerialControl::InBufferCount() const
{
    return m_device->isOpen() ? int(qMin<qint64>(m_device->bytesAvailable(), INT_MAX)) : 0;
}

void SerialControl::clearInBuffer()
{
    m_device->clearInput();
}

int SerialControl::OutBufferCount() const
{
    return m_device->isOpen() ? int(qMin<qint64>(m_device->bytesToWrite(), INT_MAX)) : 0;
}

int SerialControl::OutBufferHeld() const
{
    return m_device->isOpen() ? int(qMin<qint64>(m_device->bytesHeld(), INT_MAX)) : 0;
}

void SerialControl::clearOutBuffer()
{
    m_device->clearOutput();
}

QByteArray SerialControl::Input()
{
    if (!m_device->isOpen())
        return {};
    return m_device->read(m_inputLen > 0 ? m_inputLen : m_device->bytesAvailable());
}

int SerialControl::Output(const QByteArray& bytes)
{
    if (!m_device->isOpen())
        return ErrorPortNotOpen;
    return m_device->write(bytes) == bytes.size() ? 0 : ErrorPortNotOpen;
}

void SerialControl::setRThreshold(int threshold)
{
    m_rThreshold = qMax(0, threshold);
    // Data already waiting counts as arrived now.
    if (m_rThreshold > 0 && InBufferCount() >= m_rThreshold)
        QMetaObject::invokeMethod(this, &SerialControl::deviceReady, Qt::QueuedConnection);
}

void SerialControl::setDTREnable(bool on)
{
    m_dtr = on;
    m_device->setDtr(on);
}

void SerialControl::setRTSEnable(bool on)
{
    m_rts = on;
    m_device->setRts(on);
}

bool SerialControl::CTSHolding() const
{
    bool cts = false, dsr = false, ring = false, carrier = false;
    if (m_device->modemLines(cts, dsr, ring, carrier))
        return cts;
    return m_modemLines->cts();
}

bool SerialControl::DSRHolding() const
{
    bool cts = false, dsr = false, ring = false, carrier = false;
    if (m_device->modemLines(cts, dsr, ring, carrier))
        return dsr;
    return m_modemLines->dsr();
}

void SerialControl::setModemLineSource(std::unique_ptr<ModemLineSource> source)
{
    m_modemLines = source ? std::move(source) : DefaultModemLineSource();
}

void SerialControl::deviceReady()
{
    if (m_rThreshold > 0 && InBufferCount() >= m_rThreshold)
        raise(EvReceive);
}

void SerialControl::deviceLost()
{
    raise(EventDeviceLost);
}

void SerialControl::raise(int event)
{
    m_commEvent = event;
    emit OnComm();
}

} // namespace nodalis
