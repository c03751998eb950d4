#pragma once

#include "platform/SerialDevice.h"

#include <QList>

namespace nodalis {

// A scriptable serial device for tests: writes are captured, modem lines
// and the opening result are set by the test. Installing the factory makes
// every new device a fake one.
class FakeSerialDevice : public SerialDevice
{
    Q_OBJECT

public:
    static void install();           // the next devices created are fakes
    static void uninstall();         // back to real devices
    static FakeSerialDevice* last(); // the device created last

    int openResult = 0; // what open() returns
    bool hasModemLines = true;
    bool cts = true;
    bool dsr = true;
    SerialLineSettings openedSettings;
    QList<QByteArray> writes;
    bool dtr = false;

    int open(const QString& name, const SerialLineSettings& settings) override;
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    qint64 bytesAvailable() const override { return m_input.size(); }
    QByteArray read(qint64 maxBytes) override;
    qint64 write(const QByteArray& bytes) override;
    qint64 bytesToWrite() const override { return 0; }
    void clearInput() override { m_input.clear(); }
    void clearOutput() override {}
    void setDtr(bool on) override { dtr = on; }
    void setRts(bool) override {}
    bool modemLines(bool& c, bool& d, bool& ring, bool& carrier) const override;

private:
    bool m_open = false;
    QByteArray m_input;
};

} // namespace nodalis
