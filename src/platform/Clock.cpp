#include "platform/Clock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <limits>

namespace nodalis {

namespace {

double initialScale()
{
    bool ok = false;
    const double v = qEnvironmentVariable("NODALIS_TIME_SCALE").toDouble(&ok);
    return ok && v > 0 ? v : 1.0;
}

double g_scale = initialScale();

const QElapsedTimer& monotonic()
{
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer;
}

} // namespace

double Clock::scale()
{
    return g_scale;
}

void Clock::setScale(double factor)
{
    if (factor > 0)
        g_scale = factor;
}

int Clock::realMs(qint64 ms)
{
    if (ms <= 0)
        return 0;
    const double real = std::ceil(double(ms) * g_scale);
    return int(std::min(real, double(std::numeric_limits<int>::max())));
}

qint64 Clock::nowMs()
{
    return qint64(double(monotonic().nsecsElapsed()) / 1e6 / g_scale);
}

qint64 Clock::secondsSince(qint64 startMs)
{
    return (nowMs() - startMs) / 1000;
}

void DoEvents()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void Pause(qint64 ms)
{
    const qint64 end = Clock::nowMs() + ms;
    DoEvents();
    for (qint64 left = end - Clock::nowMs(); left > 0; left = end - Clock::nowMs()) {
        // Sleep in short steps so that events are served every few milliseconds.
        const int step = std::clamp(Clock::realMs(left), 1, 20);
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, step);
        QThread::msleep(ulong(step));
        DoEvents();
    }
}

} // namespace nodalis
