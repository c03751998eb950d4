#pragma once

#include <QString>

#include <memory>

namespace nodalis {

// The modem lines (clear-to-send, data-set-ready, ring, carrier) as the
// server reads them when the device has none of its own: a pseudo-terminal,
// a simulator. The default says every line is on; NODALIS_MODEM_LINES
// names a file ("CTS=0" and "DSR=1" lines) read at every look, so that a
// test or a simulator in another process can drive them.
class ModemLineSource
{
public:
    virtual ~ModemLineSource() = default;
    virtual bool cts() const = 0;
    virtual bool dsr() const = 0;
    virtual bool ring() const { return false; }
    virtual bool carrier() const { return true; }
};

class FixedModemLines : public ModemLineSource
{
public:
    FixedModemLines(bool ctsOn = true, bool dsrOn = true) : m_cts(ctsOn), m_dsr(dsrOn) {}
    bool cts() const override { return m_cts; }
    bool dsr() const override { return m_dsr; }
    void set(bool ctsOn, bool dsrOn)
    {
        m_cts = ctsOn;
        m_dsr = dsrOn;
    }

private:
    bool m_cts;
    bool m_dsr;
};

class FileModemLines : public ModemLineSource
{
public:
    explicit FileModemLines(QString path) : m_path(std::move(path)) {}
    bool cts() const override { return line("CTS"); }
    bool dsr() const override { return line("DSR"); }

private:
    bool line(const char* name) const;
    QString m_path;
};

// The source for devices without modem lines, as the environment chooses.
std::unique_ptr<ModemLineSource> DefaultModemLineSource();

} // namespace nodalis
