#pragma once

#include <QByteArray>
#include <QString>

namespace nodalis::ctl {

// A notification of the server, put in words for a person.
struct Notification
{
    QByteArray tag;    // "{i}", "{a}", "OK"...; empty for a line of no known form
    QString text;      // what to print
    int progress = -1; // the percentage of a {%} notification
    QString status;    // the text of a {i} notification
};

Notification Decode(const QByteArray& line);

// Name of a channel state number (idle, receiving, sending, listening...).
QString StateName(int state);

} // namespace nodalis::ctl
