#pragma once

#include <QtGlobal>

namespace nodalis {

// The one clock of the server. Every pause, timer interval, time-out and
// "seconds since" reading goes through it, so that a scale factor
// (NODALIS_TIME_SCALE, default 1) shortens every wait in tests while the
// real logic runs unchanged.
class Clock
{
public:
    // Factor applied to every duration: 0.01 makes every wait 100 times shorter.
    static double scale();
    static void setScale(double factor);

    // Real milliseconds for a duration given in the server's own time.
    static int realMs(qint64 ms);

    // Milliseconds of the server's own time since an arbitrary fixed origin.
    static qint64 nowMs();

    // Whole seconds of the server's own time elapsed since a reading of nowMs().
    static qint64 secondsSince(qint64 startMs);
};

// Runs the pending events once (sockets, serial data, timers, clicks).
void DoEvents();

// Waits ms milliseconds of the server's own time while letting events run.
void Pause(qint64 ms);

// Waits for the next events (at most ms of the server's own time; no limit when
// ms is negative) and runs them.
void WaitForEvents(qint64 ms);

// Lets events run for at most ms of the server's own time, and less once
// done turns true (an event's handler sets it).
void WaitUntil(const bool& done, qint64 ms);

} // namespace nodalis
