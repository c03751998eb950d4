#include "dnc/CharLists.h"
#include "dnc/LineFiles.h"
#include "dnc/UploadStorage.h"
#include "store/FileUtils.h"

#include <deque>

namespace nodalis {

namespace {

// Lines of a program as they are compared: block and comment without
// blanks, in capitals; lines without a block do not count.
class ComparedLines
{
public:
    bool open(const QString& path) { return m_lines.open(path); }

    bool next(QByteArray& text)
    {
        QByteArray line;
        while (m_lines.readLine(line)) {
            const CommentSplit parts = SplitComment(line);
            if (TrimmedView(parts.block).isEmpty())
                continue;
            text = UpperAnsi(parts.block + parts.comment);
            text.replace(' ', QByteArray()).replace('\t', QByteArray());
            return true;
        }
        return false;
    }

private:
    FileLines m_lines;
};

constexpr qint64 kShift = 5; // lines an upload may have moved either way

} // namespace

bool CompareProgramTexts(const QString& programFile, const QString& uploadFile)
{
    if (!FileExists(programFile) || !FileExists(uploadFile))
        return false;
    ComparedLines program;
    ComparedLines upload;
    if (!program.open(programFile))
        return false;
    bool uploadEnded = !upload.open(uploadFile);

    // The upload's lines around the program line being looked for: position
    // first (counted from 1) and the ones after it. Programs run to hundreds
    // of megabytes, so only this window is held.
    std::deque<QByteArray> window;
    qint64 first = 1;
    qint64 i = 0;
    QByteArray text;
    while (program.next(text)) {
        ++i;
        while (!uploadEnded && first + qint64(window.size()) - 1 < i + kShift) {
            QByteArray line;
            if (upload.next(line))
                window.push_back(line);
            else
                uploadEnded = true;
        }
        // The upload's last line stays: a longer program is compared with it.
        while (window.size() > 1 && first < i - kShift) {
            window.pop_front();
            ++first;
        }
        const qint64 known = first + qint64(window.size()) - 1;
        const qint64 hi = qMin(known, i + kShift);
        const qint64 lo = qMin(qMax<qint64>(1, i - kShift), hi);
        bool found = false;
        for (qint64 p = qMax(lo, first); p <= hi && !found; ++p)
            found = window[std::size_t(p - first)] == text;
        if (!found)
            return false;
    }
    return i > 0;
}

} // namespace nodalis
