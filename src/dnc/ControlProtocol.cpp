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

QList<QByteArray> LineAssembler::add(const QByteArray& data)
{
    QList<QByteArray> lines;
    // A CR at the end of the last arrival may meet its LF now.
    qsizetype search = qMax<qsizetype>(0, m_partial.size() - 1);
    m_partial += data;
    qsizetype pos = 0;
    for (qsizetype end = m_partial.indexOf("\r\n", search); end >= 0;
         end = m_partial.indexOf("\r\n", search)) {
        if (m_skipping) {
            m_skipping = false;
        } else if (end - pos > m_max) {
            ++m_dropped;
        } else if (end > pos) {
            lines.append(m_partial.mid(pos, end - pos));
        }
        pos = search = end + 2;
    }
    m_partial.remove(0, pos);
    // A CR at the end may be the start of the line's CR LF.
    if (m_partial.size() - (m_partial.endsWith('\r') ? 1 : 0) > m_max) {
        if (!m_skipping)
            ++m_dropped;
        m_skipping = true;
        m_partial = m_partial.endsWith('\r') ? QByteArray("\r") : QByteArray();
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
