#pragma once

#include <QByteArray>
#include <QMetaObject>

#include <functional>

namespace nodalis {

class SerialControl;

// Follows a serial port for its device going away while a reader uses it.
class LineLossWatch
{
public:
    explicit LineLossWatch(SerialControl& port);
    ~LineLossWatch();
    LineLossWatch(const LineLossWatch&) = delete;
    LineLossWatch& operator=(const LineLossWatch&) = delete;

    // The device went away or the port closed.
    bool gone() const;

private:
    SerialControl& m_port;
    QMetaObject::Connection m_watch;
    bool m_lost = false;
};

// A control that sends without end has its bytes cut into pieces of this
// size; TellBurstCut says so once until told is reset.
constexpr qsizetype MaxBurstBytes = 1 << 20;
void TellBurstCut(bool& told);

// Reads what a control sends on the serial line in bursts: a burst ends
// when one pause of GapMs brings no new character. Between bursts it sleeps
// until the line, a command or a timer wakes it; it never spins.
class BurstReader
{
public:
    static constexpr int GapMs = 80;
    enum class End
    {
        Burst,    // a whole burst (or a cut piece of an endless one)
        Stopped,  // the owner's stop condition came true
        TimedOut, // nothing within the time given
        LineLost, // the port closed or its device went away
    };

    // stopped: read at every wake-up; true ends the read.
    BurstReader(SerialControl& port, std::function<bool()> stopped);
    ~BurstReader();
    BurstReader(const BurstReader&) = delete;
    BurstReader& operator=(const BurstReader&) = delete;

    // The next burst; waitMs (server time) bounds the wait for its first
    // character, negative: no bound. What was read before a stop or a loss
    // is returned too.
    QByteArray ReadPort(qint64 waitMs = -1);
    End lastEnd() const { return m_end; }
    bool lineLost() const { return m_line.gone(); }

private:
    SerialControl& m_port;
    std::function<bool()> m_stopped;
    LineLossWatch m_line;
    End m_end = End::Burst;
    bool m_cutTold = false;
};

} // namespace nodalis
