#pragma once

#include <QByteArray>
#include <QMetaObject>

#include <functional>

namespace nodalis {

class SerialControl;

// Reads what a control sends on the serial line in bursts: a burst ends
// when one pause of GapMs brings no new character. Between bursts it sleeps
// until the line, a command or a timer wakes it; it never spins.
class BurstReader
{
public:
    static constexpr int GapMs = 80;
    // A control that never pauses gets its bytes handed over in pieces of
    // this size, the cut said once.
    static constexpr qsizetype MaxBurst = 1 << 20;

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
    bool lineLost() const { return m_lost; }

private:
    bool lineGone() const;

    SerialControl& m_port;
    std::function<bool()> m_stopped;
    QMetaObject::Connection m_watch;
    End m_end = End::Burst;
    bool m_lost = false;
    bool m_cutTold = false;
};

} // namespace nodalis
