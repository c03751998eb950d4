#include "platform/QtSerialDevice.h"

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <qt_windows.h>
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
    // The port takes one kind of flow control: with both, XON/XOFF is added
    // to the driver's settings once it is open.
    m_port.setFlowControl(s.handshake >= 2   ? QSerialPort::HardwareControl
                          : s.handshake == 1 ? QSerialPort::SoftwareControl
                                             : QSerialPort::NoFlowControl);
    m_noModemLines = false;
    m_opening = true;
    const bool opened = m_port.open(QIODevice::ReadWrite);
    m_opening = false;
    const QSerialPort::SerialPortError error = m_port.error();
    m_port.clearError();
    if (!opened)
        return openFailure(error, name);
    if (s.handshake == 3 && !addSoftwareFlow()) {
        m_port.close();
        return ErrorCommState;
    }
    return 0;
}

int QtSerialDevice::openFailure(QSerialPort::SerialPortError error, const QString& name) const
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::ResourceError: // a node without hardware behind it (EIO)
        return ErrorBadPort;
    case QSerialPort::PermissionError:
#ifdef Q_OS_UNIX
        // Refused by the node's permissions, or held by another program
        // (its lock file, or an exclusive open).
        if (::faccessat(AT_FDCWD, SerialDevicePath(name).toLocal8Bit().constData(), R_OK | W_OK,
                        AT_EACCESS) != 0 &&
            errno == EACCES)
            return ErrorAccessDenied;
#else
        Q_UNUSED(name); // a port another program holds is refused as well
#endif
        return ErrorUnavailable;
    case QSerialPort::UnsupportedOperationError:
        return ErrorBadSettings;
    default:
        return ErrorUnavailable;
    }
}

bool QtSerialDevice::addSoftwareFlow()
{
#ifdef Q_OS_UNIX
    // The driver holds our output on XOFF, resumes it on XON (that byte
    // only), sends XOFF itself when its input fills up, and never passes
    // either byte to the reader.
    const int fd = int(m_port.handle());
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return false;
    t.c_iflag |= IXON | IXOFF;
    t.c_iflag &= ~IXANY;
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
#elif defined(Q_OS_WIN)
    const HANDLE h = m_port.handle();
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(h, &dcb))
        return false;
    dcb.fOutX = TRUE;
    dcb.fInX = TRUE;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return ::SetCommState(h, &dcb) != 0;
#else
    return false;
#endif
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

qint64 QtSerialDevice::bytesToWrite() const
{
    qint64 pending = m_port.bytesToWrite();
#ifdef Q_OS_UNIX
    // Bytes handed to the driver wait in its output queue, for XON or CTS.
    int queued = 0;
    if (m_port.isOpen() && ::ioctl(int(m_port.handle()), TIOCOUTQ, &queued) == 0 && queued > 0)
        pending += queued;
#endif
    return pending;
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
    if (error == QSerialPort::NoError)
        return;
    // Pseudo-terminals refuse the modem-line calls; that is no failure.
    if (error == QSerialPort::UnsupportedOperationError)
        m_noModemLines = true;
    // The error of an opening is its result: open() reads and clears it.
    if (m_opening)
        return;
    if ((error == QSerialPort::ResourceError || error == QSerialPort::ReadError) && hungUp()) {
        const QString reason = m_port.errorString();
        m_port.clearError();
        if (m_port.isOpen())
            m_port.close();
        emit lost(reason);
    } else {
        m_port.clearError();
    }
}

} // namespace nodalis
