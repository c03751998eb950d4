#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>

namespace nodalis {

// The event parameters and the last event, shared by every part of the
// server that reports events. A caller sets P0/P1 right before the event
// whose text uses them; they keep their value until overwritten.
struct EventState
{
    QByteArray P0;
    QByteArray P1;
    int lastRequested = 0; // code of the last SetStatus call
    int lastShown = 0;     // code of the last event shown
    QByteArray lastText;   // its text
};

EventState& Events();

// The text of an event code with its variable parts filled in, in the
// single-byte code page. Codes from 1000 up are workshop activities; a code
// the table does not list has an empty text.
QByteArray EventText(int code);

// Shows and logs an event: notification to the program-management
// application (modes 0 and 2), the window's status text (modes 1 and 2),
// a line in the daily event log when the code changes. Without repeat, a
// code equal to the last one shown does nothing.
void SetStatus(int code, bool repeat = false);

// Appends "---hh:mm:ss---" + text to the day's event log file.
void LogLine(const QByteArray& text);

// A day's event log file ("Journal (dd-mm-yy).txt" in the log folder).
QString EventLogPath(const QDate& day = QDate::currentDate());

} // namespace nodalis
