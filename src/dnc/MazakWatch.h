#pragma once

#include <QObject>
#include <QTimer>

namespace nodalis {

class CallResolution;
class PortEngine;

// MAZAK FUSION machines ask for programs, and offer theirs, through a
// program table in their folder rather than over a line. The watch
// (timSpecific) looks at the table's modification time every 5 s while
// the channel listens, and turns a request into a reception for call
// resolution.
class MazakWatch : public QObject
{
    Q_OBJECT

public:
    static constexpr int IntervalMs = 5000;

    MazakWatch(PortEngine& engine, CallResolution& calls, QObject* parent = nullptr);

    // The listening of method 6 with this machine family: state 3, event
    // 364, the watch running.
    void Listen();
    void stop() { m_timSpecific.stop(); }
    bool isActive() const { return m_timSpecific.isActive(); }

    // One look at the table (what the timer does every 5 s).
    void Tick();

private:
    PortEngine& m_engine;
    CallResolution& m_calls;
    QTimer m_timSpecific;
    QString m_lastSeen; // the table's modification time at the last look
};

// Whether the channel's machine family is MAZAK FUSION.
bool IsMazakFusion();

} // namespace nodalis
