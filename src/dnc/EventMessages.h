#pragma once

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>

#include <initializer_list>

namespace nodalis {

// The event parameters and the last event, shared by every part of the
// server that reports events. P0/P1 are set by the event that gives them
// (SetStatus(code, {p0, p1})) and keep their value until the next one that
// gives any: an event given none shows the previous ones.
struct EventState
{
    QByteArray P0;
    QByteArray P1;
    int lastRequested = 0; // code of the last SetStatus call
    int lastShown = 0;     // code of the last event shown
    QByteArray lastText;   // its text
};

EventState& Events();

// Values an event's text shows: P0, then P1.
using EventParams = std::initializer_list<QByteArray>;

// An event an operation reports for its caller to announce, with the values
// its text shows (none: the current ones).
struct EventReport
{
    EventReport(int c = 0, QList<QByteArray> p = {}) : code(c), params(std::move(p)) {}

    int code;
    QList<QByteArray> params;
};

// The text of an event code with its variable parts filled in, in the
// single-byte code page. Codes from 1000 up are workshop activities; a code
// the table does not list has an empty text. Given parameters become the
// current ones, as when the event is announced.
QByteArray EventText(int code);
QByteArray EventText(int code, EventParams params);

// Shows and logs an event: notification to the program-management
// application (modes 0 and 2), the window's status text (modes 1 and 2),
// a line in the daily event log when the code changes. Without repeat, a
// code equal to the last one shown does nothing. Given parameters replace
// the current ones (SetStatus(909, {file})).
void SetStatus(int code, EventParams params = {}, bool repeat = false);
void SetStatus(const EventReport& report);
// An event whose text is followed by " : " and what went wrong (a write that
// failed: "No space left on device"), so that one line says it all.
void SetStatusWithReason(int code, const QByteArray& reason);

// Appends "---hh:mm:ss---" + text to the day's event log file.
void LogLine(const QByteArray& text);

// A day's event log file ("Journal (dd-mm-yy).txt" in the log folder).
QString EventLogPath(const QDate& day = QDate::currentDate());

} // namespace nodalis
