#pragma once

#include <QList>

#include <functional>

namespace nodalis {

// The one place that keeps the server's units of work from running inside
// each other. Everything runs on one thread, and long work waits by letting
// events run; without this gate a command arriving during another's wait,
// or a timer firing there, would run nested inside it, one level deeper at
// each arrival.
//
// Foreground work (a control command, a timer's or a device's work) runs at
// once when nothing else runs; otherwise it waits its turn, first in first
// out, and runs when the running work returns. Background work is the
// listening cycle: it waits on the machine's line for as long as the machine
// is silent and lets commands run meanwhile (a send takes the line over, a
// stop ends it), so it never holds the gate; asked for while foreground
// work runs, it starts from the event loop once that work is done.
// Only flag-setting stops act at once, outside the gate.
class WorkGate
{
public:
    using Work = std::function<void()>;

    void run(Work work);
    void runInBackground(Work work);

    bool busy() const { return m_busy; }
    // Foreground work waiting for its turn.
    qsizetype waiting() const { return m_waiting.size(); }

private:
    QList<Work> m_waiting;
    QList<Work> m_background;
    bool m_busy = false;
};

// The server's gate.
WorkGate& Gate();

} // namespace nodalis
