#include "platform/QtSerialDevice.h"

#ifdef Q_OS_UNIX
#include <poll.h>
#endif

namespace nodalis {

QtSerialDevice::QtSerialDevice()
{
    connect(&m_port, &QSerialPort::readyRead, this, &SerialDevice::readyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialDevice::onError);
}

int QtSerialDevice::open(const QString& name, const SerialLineSettings& s)
{
    close();
    if (s.baud <= 0)
        return ErrorBadBaud;
    if (s.dataBits < 5 || s.dataBits > 8)
        return ErrorBadByteSize;
    m_port.setPortName(name);
    m_port.setBaudRate(s.baud);
    m_port.setDataBits(QSerialPort::DataBits(s.dataBits));
    switch (s.parity) {
    case 'E':
        m_port.setParity(QSerialPort::EvenParity);
        break;
    case 'O':
        m_port.setParity(QSerialPort::OddParity);
        break;
    case 'M':
        m_port.setParity(QSerialPort::MarkParity);
        break;
    case 'S':
        m_port.setParity(QSerialPort::SpaceParity);
        break;
    case 'N':
        m_port.setParity(QSerialPort::NoParity);
        break;
    default:
        return ErrorBadSettings;
    }
    if (s.stopBits != 1 && s.stopBits != 2)
        return ErrorBadSettings;
    m_port.setStopBits(s.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    // The port takes one kind of flow control; XON/XOFF alongside RTS/CTS is
    // left to the hardware one.
    m_port.setFlowControl(s.handshake >= 2   ? QSerialPort::HardwareControl
                          : s.handshake == 1 ? QSerialPort::SoftwareControl
                                             : QSerialPort::NoFlowControl);
    m_noModemLines = false;
    if (m_port.open(QIODevice::ReadWrite))
        return 0;
    switch (m_port.error()) {
    case QSerialPort::DeviceNotFoundError:
        return ErrorBadPort;
    case QSerialPort::PermissionError:
        return ErrorUnavailable;
    case QSerialPort::UnsupportedOperationError:
        return ErrorBadSettings;
    default:
        return ErrorUnavailable;
    }
}

void QtSerialDevice::close()
{
    // What was written goes out before the port closes (an EOR written
    // just before must reach the machine).
    if (m_port.isOpen() && m_port.bytesToWrite() > 0)
        m_port.waitForBytesWritten(2000);
    if (m_port.isOpen())
        m_port.close();
    m_port.clearError();
}

qint64 QtSerialDevice::write(const QByteArray& bytes)
{
    return m_port.write(bytes);
}

void QtSerialDevice::clearInput()
{
    m_port.clear(QSerialPort::Input);
}

void QtSerialDevice::clearOutput()
{
    m_port.clear(QSerialPort::Output);
}

void QtSerialDevice::setDtr(bool on)
{
    if (m_port.isOpen())
        m_port.setDataTerminalReady(on);
}

void QtSerialDevice::setRts(bool on)
{
    // With hardware flow control the driver owns RTS.
    if (m_port.isOpen() && m_port.flowControl() != QSerialPort::HardwareControl)
        m_port.setRequestToSend(on);
}

bool QtSerialDevice::modemLines(bool& cts, bool& dsr, bool& ring, bool& carrier) const
{
    if (!m_port.isOpen() || m_noModemLines)
        return false;
    const QSerialPort::PinoutSignals pins = m_port.pinoutSignals();
    if (m_noModemLines)
        return false;
    cts = pins.testFlag(QSerialPort::ClearToSendSignal);
    dsr = pins.testFlag(QSerialPort::DataSetReadySignal);
    ring = pins.testFlag(QSerialPort::RingIndicatorSignal);
    carrier = pins.testFlag(QSerialPort::DataCarrierDetectSignal);
    return true;
}

bool QtSerialDevice::hungUp() const
{
#ifdef Q_OS_UNIX
    // A full line reports "resource temporarily unavailable" as a resource
    // error too: only a hang-up means the device is gone.
    pollfd p{int(m_port.handle()), POLLIN, 0};
    if (::poll(&p, 1, 0) < 0)
        return true;
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    return true;
#endif
}

void QtSerialDevice::onError(QSerialPort::SerialPortError error)
{
    // Pseudo-terminals refuse the modem-line calls; that is no failure.
    if ((error == QSerialPort::ResourceError || error == QSerialPort::ReadError) && hungUp()) {
        const QString reason = m_port.errorString();
        m_port.clearError();
        if (m_port.isOpen())
            m_port.close();
        emit lost(reason);
    } else if (error != QSerialPort::NoError) {
        if (error == QSerialPort::UnsupportedOperationError)
            m_noModemLines = true;
        m_port.clearError();
    }
}

} // namespace nodalis
