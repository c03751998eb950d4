#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace nodalis {

// Line settings of a serial device.
struct SerialLineSettings
{
    qint32 baud = 9600;
    int dataBits = 8;
    char parity = 'N'; // N, E, O, M (mark), S (space)
    int stopBits = 1;
    int handshake = 0; // 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both
};

// One serial device as the serial-port control and the serial library see
// it. The real one sits on QSerialPort; tests may install their own.
class SerialDevice : public QObject
{
    Q_OBJECT

public:
    // Opening failures, numbered as the serial-port control numbers them.
    static constexpr int ErrorBadPort = 8002; // no such device
    static constexpr int ErrorBadBaud = 8007;
    static constexpr int ErrorBadByteSize = 8008;
    static constexpr int ErrorBadSettings = 8009;
    static constexpr int ErrorUnavailable = 8010; // locked by someone else
    static constexpr int ErrorCommState = 8015;   // the line's flow control could not be set
    static constexpr int ErrorReadFailure = 8020;
    // The device node refuses us (file permissions). Not one of the control's
    // numbers: the line layer words it itself, naming the device's group.
    static constexpr int ErrorAccessDenied = 8021;

    using QObject::QObject;

    // 0 when open, else one of the error numbers above.
    virtual int open(const QString& name, const SerialLineSettings& settings) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    virtual qint64 bytesAvailable() const = 0;
    virtual QByteArray read(qint64 maxBytes) = 0;
    virtual qint64 write(const QByteArray& bytes) = 0;
    virtual qint64 bytesToWrite() const = 0;
    // The part of bytesToWrite() the process still holds (not yet handed to
    // the driver): cheaper to read, and never more than bytesToWrite().
    virtual qint64 bytesHeld() const { return bytesToWrite(); }
    virtual void clearInput() = 0;
    virtual void clearOutput() = 0;

    virtual void setDtr(bool on) = 0;
    virtual void setRts(bool on) = 0;
    // False when the device has no modem lines (a pseudo-terminal).
    virtual bool modemLines(bool& cts, bool& dsr, bool& ring, bool& carrier) const = 0;

signals:
    void readyRead();
    // The device went away (unplugged, the other end of a pseudo-terminal closed).
    void lost(const QString& reason);
};

using SerialDeviceFactory = std::function<std::unique_ptr<SerialDevice>()>;

// A new device of the installed kind (QSerialPort unless a test installed another).
std::unique_ptr<SerialDevice> CreateSerialDevice();
void SetSerialDeviceFactory(SerialDeviceFactory factory);

// The device of a port number: COMn on Windows, /dev/ttyS(n-1) elsewhere,
// unless a device name is configured.
QString SerialDeviceName(int portNumber, const QByteArray& configuredName);

// The file a device name stands for: a bare name is under /dev on Unix
// (as QSerialPort takes it); unchanged elsewhere.
QString SerialDevicePath(const QString& deviceName);

// The group whose members may open the device: the group of its node,
// "dialout" when that cannot be read. Empty where devices have no groups.
QString SerialDeviceGroup(const QString& deviceName);

} // namespace nodalis
