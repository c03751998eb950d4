#pragma once

#include "platform/SerialDevice.h"

#include <QSerialPort>

namespace nodalis {

// A serial device on QSerialPort: real ports and pseudo-terminals alike.
class QtSerialDevice : public SerialDevice
{
    Q_OBJECT

public:
    QtSerialDevice();

    int open(const QString& name, const SerialLineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return m_port.isOpen(); }
    qint64 bytesAvailable() const override { return m_port.bytesAvailable(); }
    QByteArray read(qint64 maxBytes) override { return m_port.read(maxBytes); }
    qint64 write(const QByteArray& bytes) override;
    // Also what the driver still holds: empty means the bytes left us.
    qint64 bytesToWrite() const override;
    qint64 bytesHeld() const override { return m_port.bytesToWrite(); }
    void clearInput() override;
    void clearOutput() override;
    void setDtr(bool on) override;
    void setRts(bool on) override;
    bool modemLines(bool& cts, bool& dsr, bool& ring, bool& carrier) const override;

private:
    void onError(QSerialPort::SerialPortError error);
    bool hungUp() const;
    bool addSoftwareFlow();
    int openFailure(QSerialPort::SerialPortError error, const QString& name) const;

    mutable QSerialPort m_port;  // reading the modem lines may set its error
    bool m_noModemLines = false; // the device refused a modem-line call (a pseudo-terminal)
    bool m_opening = false;      // open() reads the error of the opening itself
};

} // namespace nodalis
