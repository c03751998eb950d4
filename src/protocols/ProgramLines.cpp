#include "protocols/ProgramLines.h"

#include "store/FileUtils.h"

#include <QFile>

namespace nodalis {

QList<QByteArray> ProgramLines(const QString& path)
{
    QFile file;
    QByteArray text;
    if (!ReadWholeFile(path, file, text))
        text.clear();
    QList<QByteArray> lines;
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.append(text.sliced(from, i - from));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        from = i + 1;
    }
    lines.append(text.mid(from));
    return lines;
}

} // namespace nodalis
