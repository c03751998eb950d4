#pragma once

#include "dnc/LineFiles.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace nodalis {

// Character filters of program texts. Each works on a whole file and, when
// it succeeds, puts its result in place of the file; a missing or empty file
// is left untouched and gives false.

// Replaces every occurrence of the whole search text by the replacement,
// through "TT_FiltreCarBy.txt". On a DURER_OVARE machine the text then also
// gets a closing CR LF "%1" when it holds CR LF "DOPR", and loses every
// CR LF "DOPR" and every CR LF "----". True when the result was written.
bool ReplaceChars(const QString& file, const QByteArray& search, const QByteArray& replacement);

// The same replacement over a stream of bytes, for a filter that runs it
// inside its own pass over a file.
class CharReplacement
{
public:
    CharReplacement(ChunkSource& input, const QByteArray& search, const QByteArray& replacement);
    ChunkSource& output() { return *m_last; }
    // Something was replaced in the bytes given so far.
    bool changed() const;

private:
    std::unique_ptr<ReplacingSource> m_replace;
    std::unique_ptr<ReplacingSource> m_dopr;
    std::unique_ptr<ReplacingSource> m_dashes;
    ChunkSource* m_last = nullptr;
};

// Line by line through "TT_FiltreCarSpec.txt": removes every "&HE:",
// replaces the control characters (but CR and LF) and the characters 127 to
// 255 (but 174, 175, 240, 242, 246 and 248) by the replacement (a blank, or
// nothing), and on group-3 machines turns a leading ":" into "O".
bool FilterSpecialChars(const QString& file, const QByteArray& replacement);

// The special-character rules applied to one line.
void FilterSpecialLine(QByteArray& line, const QByteArray& replacement);

// Whether FilterSpecialLine leaves the line as it is.
bool SpecialLineKept(QByteArrayView line);

// False when FilterSpecialLine leaves every line of the text as it is; true
// when some line may change. One quick pass, for whole runs of lines.
bool MayHoldSpecialChars(QByteArrayView text);

// Each line without its leading and trailing blanks, through "TT_TrimBlocs.txt".
bool TrimBlocks(const QString& file);

// False when no line of a run of whole lines begins or ends with a blank;
// true when some line may. One quick pass.
bool MayHoldEdgeBlanks(QByteArrayView lines);

} // namespace nodalis
