#include "dnc/ControlProtocol.h"

#include "startup/IniValue.h"

#include <cmath>

namespace nodalis {

namespace {

// The text between a marker (found without regard to case) and the next
// "|" after it; empty when either is missing.
QByteArray field(const QByteArray& line, const char* lowerMarker)
{
    const qsizetype start = line.toLower().indexOf(lowerMarker);
    if (start < 0)
        return {};
    const qsizetype from = start + qsizetype(qstrlen(lowerMarker));
    const qsizetype end = line.indexOf('|', from);
    return end < 0 ? QByteArray() : line.mid(from, end - from);
}

} // namespace

QByteArray BuildInfoMessage(const QByteArray& keyword, const QList<QByteArray>& arguments)
{
    QByteArray m = "Info:" + keyword + '|';
    if (!arguments.isEmpty()) {
        m += "Arg:";
        for (const QByteArray& a : arguments)
            m += TrimSpaces(a) + "<>";
        m += '|';
    }
    return m;
}

QList<ControlLine> SplitArrival(const QByteArray& data)
{
    // Only lines ended by CR LF count: a fragment after the last one may be
    // a command cut short, and running "T" with half a program name would
    // send the wrong program.
    QList<ControlLine> lines;
    qsizetype pos = 0;
    for (qsizetype end = data.indexOf("\r\n"); end >= 0; end = data.indexOf("\r\n", pos)) {
        const QByteArray piece = data.mid(pos, end - pos);
        pos = end + 2;
        if (!piece.isEmpty())
            lines.append(ParseLine(piece));
    }
    return lines;
}

ControlLine ParseLine(const QByteArray& line)
{
    if (line.size() == 1)
        return {line, {}};
    return {field(line, "info:"), field(line, "arg:")};
}

QList<QByteArray> ArgumentList(const QByteArray& arguments)
{
    QList<QByteArray> list;
    qsizetype pos = 0;
    for (qsizetype sep = arguments.indexOf("<>"); sep >= 0; sep = arguments.indexOf("<>", pos)) {
        list.append(arguments.mid(pos, sep - pos));
        pos = sep + 2;
    }
    list.append(arguments.mid(pos));
    return list;
}

int MessageNumber(const QByteArray& message, const QByteArray& placeholder)
{
    QByteArray text;
    if (message.startsWith("Info:")) {
        text = ArgumentList(field(message, "arg:")).value(0);
    } else {
        text = message;
        text.replace(placeholder, QByteArray());
    }
    const double v = LeadingNumber(text.trimmed());
    return std::isfinite(v) && std::abs(v) < 1e9 ? int(std::lround(v)) : 0;
}

} // namespace nodalis
