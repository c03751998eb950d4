#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace nodalis {

// How a run of an outside command-line tool ended.
struct ToolOutcome
{
    enum Kind
    {
        Ended,      // it ended by itself (whatever its exit code)
        NotStarted, // no such program, or the system refused to start it
        Crashed,    // it died of a signal or an exception
        TimedOut,   // still running at the limit: killed
        Stopped     // still running when a stop was asked: killed
    };
    Kind kind = NotStarted;
    int exitCode = -1;
    QString error; // why, in the system's words, when it did not end by itself
};

// Runs an outside tool without a window and waits for its end while events
// run (the control link, timers, a stop): the process's end wakes the wait,
// which also looks at `stopped` at least every 200 ms. A tool still running
// after limitMs of the server's time, or when `stopped` turns true, is
// killed: nothing is left behind. `arguments` are handed over as separate
// words; where the system takes one command line (Windows), the words are
// joined by blanks, so none may hold a blank or a double quote.
ToolOutcome RunTool(const QString& program, const QStringList& arguments, qint64 limitMs,
                    const std::function<bool()>& stopped);

} // namespace nodalis
