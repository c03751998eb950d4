#include "dnc/ReceivedChunks.h"

#include "dnc/ControlProtocol.h"
#include "dnc/InfoNotifier.h"
#include "dnc/ServerView.h"
#include "startup/AppPaths.h"
#include "store/FileUtils.h"

#include <QFile>

namespace nodalis {

QByteArray SplitReceivedChunk(const QByteArray& pending, const LineOutput& out, bool show)
{
    const char* d = pending.constData();
    const qsizetype n = pending.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (d[i] != '\r' && d[i] != '\n')
            continue;
        if (i > start) {
            const QByteArray line(d + start, i - start);
            if (out)
                out(line + "\r\n");
            if (show) {
                SendInfoMessage(BuildInfoMessage("{b}", {line}), 0);
                View().setBlockDisplay(line);
            }
        }
        while (i + 1 < n && (d[i + 1] == '\r' || d[i + 1] == '\n'))
            ++i;
        start = i + 1;
    }
    return pending.mid(start);
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
