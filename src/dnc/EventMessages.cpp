#include "dnc/EventMessages.h"

#include "dnc/ControlProtocol.h"
#include "dnc/EventTable.h"
#include "dnc/InfoNotifier.h"
#include "dnc/ProcessState.h"
#include "dnc/ServerView.h"
#include "platform/AnsiText.h"
#include "platform/Clock.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSysInfo>

namespace nodalis {

namespace {

// Replaces every marker of the template with its value, the template
// itself being converted to the single-byte code page first.
QByteArray fill(const QString& pattern)
{
    const Settings& s = Config();
    const EventState& e = Events();
    QByteArray text = toAnsi(pattern);
    if (!text.contains('%'))
        return text;
    const QByteArray index =
        s.ProgIndice ? QByteArray(" : ") + Channel().programIndex : QByteArray();
    const quint16 port = Notifier() ? Notifier()->port() : quint16(s.PortListen);
    const QList<QPair<QByteArray, QByteArray>> values = {
        {"%P0%", e.P0},
        {"%P1%", e.P1},
        {"%MO%", s.RefMO},
        {"%IDX%", index},
        {"%HOST%", toAnsi(QSysInfo::machineHostName())},
        {"%PORT%", QByteArray::number(port)},
        {"%RHOST%", s.RemoteHost},
        {"%RPORT%", s.RemotePort},
    };
    // One pass from left to right, so that a value holding a marker is not
    // expanded again.
    QByteArray out;
    qsizetype pos = 0;
    while (pos < text.size()) {
        bool replaced = false;
        if (text[pos] == '%') {
            for (const auto& [marker, value] : values) {
                if (text.mid(pos, marker.size()) == marker) {
                    out += value;
                    pos += marker.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced)
            out += text[pos++];
    }
    return out;
}

template <typename Values> void setParams(const Values& params)
{
    EventState& e = Events();
    auto it = params.begin();
    if (it != params.end())
        e.P0 = *it++;
    if (it != params.end())
        e.P1 = *it;
}

} // namespace

QByteArray EventText(int code, EventParams params)
{
    setParams(params);
    return EventText(code);
}

QByteArray EventText(int code)
{
    if (code >= 1000) {
        const Settings& s = Config();
        const int i = Channel().matchedActivity;
        return i >= 1 && i < s.Activities.size() ? s.Activities[i].RefActivity : QByteArray();
    }
    return fill(EventTemplate(code));
}

void SetStatus(const EventReport& report)
{
    setParams(report.params);
    SetStatus(report.code);
}

namespace {

void announce(int code, const QByteArray& text, bool repeat)
{
    EventState& e = Events();
    e.lastRequested = code;
    if (code == 0 || (code == e.lastShown && !repeat))
        return;
    e.lastText = text;
    const qint32 mode = Config().DncAppMode;
    if (mode == 0 || mode == 2) {
        // The pause paces the program-management application; with nobody
        // connected there is nothing to pace.
        if (SendInfoMessage(BuildInfoMessage("{i}", {text}), 0) > 0)
            Pause(300);
    }
    if (mode == 1 || mode == 2)
        View().setStatusText(fromAnsi(text));
    if (code != e.lastShown)
        LogLine("Code" + QByteArray::number(code) + "---" + text);
    DoEvents();
    e.lastShown = code;
}

} // namespace

void SetStatus(int code, EventParams params, bool repeat)
{
    setParams(params);
    announce(code, code == 0 ? QByteArray() : EventText(code), repeat);
}

void SetStatusWithReason(int code, const QByteArray& reason)
{
    announce(code, EventText(code) + " : " + reason, true);
}

int SendInfoMessage(const QByteArray& message, int k)
{
    int sent = 0;
    const qint32 mode = Config().DncAppMode;
    if ((mode == 0 || mode == 2) && Notifier())
        sent = Notifier()->send(message, k);
    if (message.contains("{a}"))
        View().setStateIcon(qMax(0, MessageNumber(message, "{a}")));
    else if (message.contains("{%}"))
        View().setProgress(MessageNumber(message, "{%}"));
    return sent;
}

QString EventLogPath(const QDate& day)
{
    const QString name =
        QStringLiteral("Journal (%1).txt").arg(day.toString(QStringLiteral("dd-MM-yy")));
    return Paths().logFolder + name;
}

void LogLine(const QByteArray& text)
{
    const QDateTime now = QDateTime::currentDateTime();
    const QByteArray line =
        "---" + now.time().toString(QStringLiteral("hh:mm:ss")).toLatin1() + "---" + text + "\r\n";
    const QString path = EventLogPath(now.date());
    QDir().mkpath(Paths().logFolder);
    QFile file(path);
    // A log that cannot be opened loses the line; the event is still shown.
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(line);
}

} // namespace nodalis
