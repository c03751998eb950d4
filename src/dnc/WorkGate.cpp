#include "dnc/WorkGate.h"

#include "dnc/ProcessState.h"

#include <QCoreApplication>
#include <QTimer>

namespace nodalis {

void WorkGate::run(Work work)
{
    if (m_busy) {
        m_waiting.append(std::move(work));
        return;
    }
    m_busy = true;
    work();
    // What arrived meanwhile runs now, each at this same level.
    while (!m_waiting.isEmpty())
        m_waiting.takeFirst()();
    m_busy = false;
    // A listening cycle asked for meanwhile starts from the event loop, so
    // that it does not hold the gate while it waits on the line.
    for (Work& cycle : m_background)
        QTimer::singleShot(0, QCoreApplication::instance(),
                           [this, cycle = std::move(cycle)] { runInBackground(cycle); });
    m_background.clear();
}

void WorkGate::runInBackground(Work work)
{
    if (m_busy) {
        m_background.append(std::move(work));
        return;
    }
    work();
}

WorkGate& Gate()
{
    return Process().gate;
}

} // namespace nodalis
