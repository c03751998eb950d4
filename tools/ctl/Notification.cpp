#include "ctl/Notification.h"

#include "dnc/ControlProtocol.h"
#include "platform/AnsiText.h"

#include <QHash>

namespace nodalis::ctl {

namespace {

// Notifications sent raw: the tag followed directly by its value.
const QList<QByteArray> kRawTags = {"{a}", "{n}", "{l}", "{dlf}", "{lf}", "{flf}", "{h}"};

QString label(const char* name, const QString& value)
{
    return QString::fromLatin1(name).leftJustified(10) + value;
}

} // namespace

QString StateName(int state)
{
    switch (state) {
    case 0:
        return QStringLiteral("idle (0)");
    case 1:
        return QStringLiteral("receiving (1)");
    case 2:
        return QStringLiteral("sending (2)");
    case 3:
        return QStringLiteral("listening (3)");
    case 5:
        return QStringLiteral("explorer in use (5)");
    default:
        return QStringLiteral("state %1").arg(state);
    }
}

Notification Decode(const QByteArray& line)
{
    Notification n;
    QByteArray value;
    QList<QByteArray> args;
    if (line.startsWith("Info:")) {
        const ControlLine parsed = ParseLine(line);
        n.tag = parsed.keyword;
        args = ArgumentList(parsed.arguments);
        value = args.value(0);
    } else {
        for (const QByteArray& tag : kRawTags) {
            if (line.startsWith(tag)) {
                n.tag = tag;
                value = line.mid(tag.size());
                args = {value};
                break;
            }
        }
    }
    const QString v = fromAnsi(value).trimmed();
    const QByteArray& t = n.tag;
    if (t == "{i}") {
        n.status = fromAnsi(value);
        n.text = label("status", v);
    } else if (t == "{a}")
        n.text = label("state", StateName(v.toInt()));
    else if (t == "{%}") {
        n.progress = qBound(0, v.toInt(), 100);
        n.text = label("progress", QStringLiteral("%1%").arg(v.toInt()));
    } else if (t == "{b}")
        n.text = label("program", v);
    else if (t == "{n}")
        n.text = label("serving", v);
    else if (t == "{c}")
        n.text = QStringLiteral("ready");
    else if (t == "{f}")
        n.text = QStringLiteral("transfer ended");
    else if (t == "{g}")
        n.text = QStringLiteral("the serial port cannot be opened for a send");
    else if (t == "{t}")
        n.text = label("sent", v);
    else if (t == "{v}")
        n.text = label("called", v);
    else if (t == "{r}")
        n.text = label("received", v);
    else if (t == "{preview}")
        n.text = label("preview", v);
    else if (t == "OK")
        n.text = QStringLiteral("pong");
    else if (t == "{lf}" && args.size() >= 2)
        // Framed: type (1 file, 2 folder), name, size, comment.
        n.text = (args[0] == "2" ? QStringLiteral("dir   ") : QStringLiteral("file  ")) +
                 fromAnsi(args[1]) +
                 (args[0] == "2" ? QString() : QLatin1Char(' ') + fromAnsi(args.value(2)));
    else if (t == "{l}" || t == "{lf}")
        n.text = label("listing", fromAnsi(value));
    else if (t == "{dlf}")
        n.text = label("listing", QStringLiteral("of ") + v);
    else if (t == "{flf}")
        n.text = label("listing", QStringLiteral("end"));
    else
        n.text = fromAnsi(line);
    return n;
}

} // namespace nodalis::ctl
