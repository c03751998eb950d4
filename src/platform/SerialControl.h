#pragma once

#include "platform/ModemLines.h"
#include "platform/SerialDevice.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

namespace nodalis {

// The serial-port control: the property-and-event object the engine drives
// the machine line through. Setters return 0, or the control's error number
// (8000-8020) when the property cannot take the value now.
class SerialControl : public QObject
{
    Q_OBJECT

public:
    // Communication events (CommEvent).
    enum : int
    {
        EvSend = 1,
        EvReceive = 2,
        EventBreak = 1001,
        EventCTSTO = 1002,
        EventDSRTO = 1003,
        EventFrame = 1004,
        EventOverrun = 1006,
        EventCDTO = 1007,
        EventRxOver = 1008,
        EventRxParity = 1009,
        EventTxFull = 1010,
        EventDeviceLost = 1020, // the device went away while open
    };
    enum : int
    {
        ErrorPortOpen = 8000, // not valid while the port is open
        ErrorBadPortNumber = 8002,
        ErrorPortAlreadyOpen = 8005,
        ErrorBadSettings = 8009,
        ErrorPortNotOpen = 8018, // valid only while the port is open
    };

    explicit SerialControl(QObject* parent = nullptr);
    ~SerialControl() override;

    bool PortOpen() const;
    int setPortOpen(bool open);

    int CommPort() const { return m_commPort; }
    int setCommPort(int port);
    // Device name override (a path), used instead of the port number's name.
    void setDeviceName(const QByteArray& name) { m_deviceName = name; }
    QString DeviceName() const;

    // "9600,E,7,1": speed, parity, data bits, stop bits.
    QString Settings() const { return m_settings; }
    int setSettings(const QString& settings);

    int Handshaking() const { return m_handshaking; }
    int setHandshaking(int mode);

    int InBufferSize() const { return m_inBufferSize; }
    int setInBufferSize(int size);
    int OutBufferSize() const { return m_outBufferSize; }
    int setOutBufferSize(int size);

    int InBufferCount() const;
    void clearInBuffer();
    int OutBufferCount() const;
    // The part of OutBufferCount the process still holds, before the driver.
    int OutBufferHeld() const;
    void clearOutBuffer();

    int InputLen() const { return m_inputLen; }
    void setInputLen(int length) { m_inputLen = qMax(0, length); }
    // Takes InputLen bytes of the input (all of it when 0).
    QByteArray Input();
    int Output(const QByteArray& bytes);

    int RThreshold() const { return m_rThreshold; }
    void setRThreshold(int threshold);
    int SThreshold() const { return m_sThreshold; }
    void setSThreshold(int threshold) { m_sThreshold = threshold; }

    bool DTREnable() const { return m_dtr; }
    void setDTREnable(bool on);
    bool RTSEnable() const { return m_rts; }
    void setRTSEnable(bool on);
    bool CTSHolding() const;
    bool DSRHolding() const;

    // Total write time-out of the port, in milliseconds (0: none).
    int WriteTimeout() const { return m_writeTimeout; }
    void setWriteTimeout(int ms) { m_writeTimeout = ms; }

    int CommEvent() const { return m_commEvent; }

    // Where the modem lines come from when the device has none.
    void setModemLineSource(std::unique_ptr<ModemLineSource> source);

signals:
    // The communication event: read CommEvent.
    void OnComm();

private:
    void deviceReady();
    void deviceLost();
    void raise(int event);
    bool parseSettings(const QString& text, SerialLineSettings& out) const;

    std::unique_ptr<SerialDevice> m_device;
    std::unique_ptr<ModemLineSource> m_modemLines;
    int m_commPort = 1;
    QByteArray m_deviceName;
    QString m_settings = QStringLiteral("9600,N,8,1");
    int m_handshaking = 0;
    int m_inBufferSize = 1024;
    int m_outBufferSize = 512;
    int m_inputLen = 0;
    int m_rThreshold = 0;
    int m_sThreshold = 0;
    bool m_dtr = false;
    bool m_rts = false;
    int m_writeTimeout = 0;
    int m_commEvent = 0;
};

} // namespace nodalis
