#include "platform/Clock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

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
    DoEvents();
    const int real = Clock::realMs(ms);
    if (!QCoreApplication::instance()) {
        QThread::msleep(ulong(real));
        return;
    }
    // Wait for events rather than asleep: sockets and serial lines keep
    // being served (and read) for the whole wait. No nested QEventLoop: once
    // the application has been told to exit, those return at once, and a
    // wait must still last its time.
    bool done = false;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&done] { done = true; });
    timer.start(real);
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void WaitForEvents(qint64 ms)
{
    if (!QCoreApplication::instance()) {
        // Without an event loop nothing could end an unlimited wait.
        QThread::msleep(ulong(Clock::realMs(ms >= 0 ? ms : 20)));
        return;
    }
    QTimer timer;
    timer.setSingleShot(true);
    if (ms >= 0)
        timer.start(Clock::realMs(ms));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void WaitUntil(const bool& done, qint64 ms)
{
    const qint64 start = Clock::nowMs();
    for (qint64 left = ms; !done && left > 0; left = ms - (Clock::nowMs() - start))
        WaitForEvents(left);
}

} // namespace nodalis
