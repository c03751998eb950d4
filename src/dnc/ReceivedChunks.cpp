#include "dnc/ReceivedChunks.h"

#include "dnc/ControlProtocol.h"
#include "dnc/InfoNotifier.h"
#include "dnc/ServerView.h"
#include "startup/AppPaths.h"
#include "store/FileUtils.h"

#include <QFile>

#include <utility>

namespace nodalis {

QByteArray SplitReceivedChunk(const QByteArray& pending, const LineOutput& out, bool show)
{
    const char* d = pending.constData();
    const qsizetype n = pending.size();
    // Lines that already end in one CR LF are copied as they stand, in
    // runs: [copied, start) is such a run.
    QByteArray lines;
    qsizetype start = 0;
    qsizetype copied = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (d[i] != '\r' && d[i] != '\n')
            continue;
        const qsizetype end = i;
        while (i + 1 < n && (d[i + 1] == '\r' || d[i + 1] == '\n'))
            ++i;
        const bool crLf = i == end + 1 && d[end] == '\r' && d[i] == '\n';
        if (end == start || !crLf) {
            lines.append(d + copied, end - copied);
            if (end > start)
                lines.append("\r\n", 2);
            copied = i + 1;
        }
        if (show && end > start) {
            const QByteArray line(d + start, end - start);
            SendInfoMessage(BuildInfoMessage("{b}", {line}), 0);
            View().setBlockDisplay(line);
        }
        start = i + 1;
    }
    lines.append(d + copied, start - copied);
    if (out && !lines.isEmpty())
        out(lines);
    return pending.mid(start);
}

void ReceivedLines::cut()
{
    if (m_pending.isEmpty())
        return;
    const bool ends = m_pending.contains('\r') || m_pending.contains('\n');
    // A long line that ends right at the chunk's start looks like an empty
    // line to the splitter.
    if (m_midLine && (m_pending[0] == '\r' || m_pending[0] == '\n'))
        m_out("\r\n");
    if (ends)
        m_midLine = false;
    m_pending = SplitReceivedChunk(m_pending, m_out, m_show);
    if (m_pending.size() > LongLine) {
        m_out(m_pending);
        m_pending.clear();
        m_midLine = true;
    }
}

QByteArray ReceivedLines::finish()
{
    QByteArray last = std::exchange(m_pending, {});
    if (!last.isEmpty() || m_midLine)
        m_out(last + "\r\n");
    m_midLine = false;
    return last;
}

bool NormaliseLibraryReception(const QString& path)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QString temp = Paths().tempFolder + QStringLiteral("TT_Receiv_Pcomm.txt");
    QFile out(temp);
    if (!MakeFolders(Paths().tempFolder) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    // Lines end at CR LF as the text reader splits them; any other CR or LF
    // inside a line is removed.
    bool readAny = false;
    QByteArray carry;
    auto emitLine = [&out](QByteArray line) {
        line.replace('\r', QByteArray()).replace('\n', QByteArray());
        if (!line.isEmpty())
            out.write(line + "\r\n");
    };
    while (!in.atEnd()) {
        carry += in.read(1 << 20);
        readAny = true;
        qsizetype pos = 0;
        for (qsizetype end = carry.indexOf("\r\n"); end >= 0; end = carry.indexOf("\r\n", pos)) {
            emitLine(carry.mid(pos, end - pos));
            pos = end + 2;
        }
        carry.remove(0, pos);
    }
    if (!carry.isEmpty())
        emitLine(carry);
    out.close();
    in.close();
    if (!readAny) {
        QFile::remove(temp);
        return true;
    }
    const bool replaced = CopyFile(temp, path);
    QFile::remove(temp);
    return replaced;
}

} // namespace nodalis
