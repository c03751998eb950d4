#pragma once

#include "store/FileUtils.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QString>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace nodalis {

// The plumbing of the program text filters. Every filter reads its input
// file by big chunks, writes a temporary file and then puts that file in
// place of its input. Programs reach hundreds of megabytes and a single
// line can be megabytes long, so nothing here holds more than a chunk and
// the current line in memory, and nothing is allocated line by line.
//
// A line ends at CR LF. A lone CR or a lone LF is part of the line (the
// syntax check reports a bare LF, the special-character filter keeps both),
// the last line may lack its line end, and every written line gets CR LF.
// Readers that cut a program or a call text into lines without filtering it
// (LineEnds::Any) also end a line at a lone LF or CR: most programs written
// on Linux have LF alone, some older editors CR alone.

// Position of the first occurrence of search in text from from, or -1. For
// the short texts looked for in every line of a program, where a library
// search costs more than the line itself.
qsizetype FindText(QByteArrayView text, QByteArrayView search, qsizetype from = 0);

// The first CR LF in [from, end), or nullptr.
inline const char* FindCrLf(const char* from, const char* end)
{
    while (from < end) {
        const auto* cr = static_cast<const char*>(std::memchr(from, '\r', size_t(end - from)));
        if (!cr || cr + 1 >= end)
            return nullptr;
        if (cr[1] == '\n')
            return cr;
        from = cr + 1;
    }
    return nullptr;
}

// The CR LF of a run of lines, one after the other. Lines are short: a
// library search per line costs more than the line, so the line feeds are
// found 64 bytes at a time and given from a bit mask.
class CrLfScanner
{
public:
    CrLfScanner(const char* begin, const char* end) : m_begin(begin), m_end(end), m_block(begin)
    {
        m_mask = feedsAt(m_block);
    }
    // The next CR LF, or nullptr when there is none left.
    const char* next()
    {
        for (;;) {
            while (m_mask == 0) {
                if (m_end - m_block <= 64)
                    return nullptr;
                m_block += 64;
                m_mask = feedsAt(m_block);
            }
            const char* const lf = m_block + std::countr_zero(m_mask);
            m_mask &= m_mask - 1;
            if (lf > m_begin && lf[-1] == '\r')
                return lf - 1;
        }
    }

private:
    // The line feeds of the 64 bytes from at (fewer at the end), one bit each.
    std::uint64_t feedsAt(const char* at) const
    {
        const qsizetype n = std::min<qsizetype>(64, m_end - at);
        std::uint64_t mask = 0;
#if defined(__SSE2__)
        if (n == 64) {
            const __m128i lf = _mm_set1_epi8('\n');
            for (int i = 0; i < 4; ++i) {
                const __m128i bytes =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16 * i));
                const auto bits = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, lf)));
                mask |= std::uint64_t(bits) << (16 * i);
            }
            return mask;
        }
#endif
        for (qsizetype i = 0; i < n; ++i)
            mask |= std::uint64_t(at[i] == '\n') << i;
        return mask;
    }

    const char* m_begin;
    const char* m_end;
    const char* m_block;      // the 64 bytes m_mask is of
    std::uint64_t m_mask = 0; // their line feeds not looked at yet
};

// The last CR LF in [from, end), or nullptr. Lines are short, so it is
// looked for backwards near the end first; a long line is then searched
// forwards, which the library does many bytes at a time.
const char* FindLastCrLf(const char* from, const char* end);

// A producer of bytes, read one chunk at a time.
class ChunkSource
{
public:
    virtual ~ChunkSource() = default;
    // Appends the next bytes to out; false when there are none left.
    virtual bool readChunk(QByteArray& out) = 0;
    // A read error cut the bytes short.
    virtual bool failed() const = 0;
};

// The bytes of an open file, from its current position.
class FileSource : public ChunkSource
{
public:
    explicit FileSource(QFile& file) : m_file(file) {}
    bool readChunk(QByteArray& out) override;
    bool failed() const override { return m_failed; }

private:
    QFile& m_file;
    qint64 m_left = -1; // bytes still expected, from the size seen at the first read
    bool m_failed = false;
};

// The bytes of another source with every occurrence of a text replaced,
// from left to right, without looking again at what was put in. An empty
// search text replaces nothing. When tail is given, it is appended after
// the last byte provided at least one occurrence was replaced.
class ReplacingSource : public ChunkSource
{
public:
    ReplacingSource(ChunkSource& input, const QByteArray& search, const QByteArray& replacement,
                    const QByteArray& tail = QByteArray());
    bool readChunk(QByteArray& out) override;
    bool failed() const override { return m_input.failed(); }
    qint64 replacements() const { return m_count; }

private:
    // A one-byte search replaced by at most one byte, in bytes from from.
    void replaceInPlace(QByteArray& bytes, qsizetype from);
    // The pending bytes replaced into out: all of them for a one-byte
    // search; up to limit for a longer one, returning where it stopped.
    void replaceByte(QByteArray& out);
    qsizetype replaceText(QByteArray& out, qsizetype limit);
    bool finish(QByteArray& out, bool more);

    ChunkSource& m_input;
    QByteArray m_search;
    QByteArray m_replacement;
    QByteArray m_tail;
    QByteArray m_pending; // bytes read but not yet searched to the end
    qint64 m_count = 0;
    bool m_ended = false;
};

// What ends a line for a reader.
enum class LineEnds
{
    CrLfOnly, // CR LF only
    Any       // CR LF, LF alone or CR alone
};

// Splits the bytes of a source into lines.
class LineReader
{
public:
    explicit LineReader(ChunkSource& source, LineEnds ends = LineEnds::CrLfOnly)
        : m_source(source), m_anyEnd(ends == LineEnds::Any)
    {
    }
    // The next line without its line end; false after the last line.
    bool readLine(QByteArray& line);
    // The next lines, as many whole lines as are read already (at least
    // one), each with its CR LF; a last line without one gets it, as every
    // written line does. The view holds until the next read. For CrLfOnly.
    bool readLines(QByteArrayView& lines);
    bool failed() const { return m_source.failed(); }

private:
    bool fill();
    // Position of the next line end from m_scan, with its length; -1 when
    // the buffer holds none yet.
    qsizetype findEnd(qsizetype& length) const;

    ChunkSource& m_source;
    bool m_anyEnd = false;
    QByteArray m_buffer;
    qsizetype m_pos = 0;  // start of the unread bytes
    qsizetype m_scan = 0; // where the search for a line end resumes
    bool m_ended = false;
};

// Buffered writing of lines and bytes to a file. A failed write is kept
// and told by close().
//
// The output of a filter is often its input unchanged (a program already
// trimmed, without special characters, with a right syntax): opened with
// its source, the writer makes no file as long as it is given only the
// source's own bytes, in order (keep()). The first other byte, or differ(),
// makes the file, with the source bytes kept so far copied in first.
class LineWriter
{
public:
    LineWriter() = default;
    ~LineWriter();
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    // Creates the file (and its missing folders), truncating it.
    bool open(const QString& path);
    // Opens for an output that may prove to be source (an open file, read
    // from its start): the file at path is made only once they differ.
    bool open(const QString& path, QFile& source);
    void writeLine(QByteArrayView line)
    {
        const qsizetype n = line.size();
        if (n + 2 > kBuffer - m_used) {
            writeLineAcross(line);
            return;
        }
        char* at = m_data.get() + m_used;
        if (n > 0) // an empty view may have no data
            std::memcpy(at, line.data(), size_t(n));
        at[n] = '\r';
        at[n + 1] = '\n';
        m_used += n + 2;
    }
    void write(QByteArrayView bytes);
    // The next bytes of the source, none left out, passed as they are.
    void keep(QByteArrayView bytes)
    {
        if (m_source && m_kept + bytes.size() <= m_sourceSize)
            m_kept += bytes.size();
        else if (!bytes.isEmpty())
            write(bytes);
    }
    // The output differs from the source from here on.
    void differ()
    {
        if (m_source)
            makeFile();
    }
    // Flushes and closes; true when every byte was written.
    bool close();
    // After close(): the output was the source itself, and no file was made.
    bool unchanged() const { return m_unchanged; }

private:
    // Each write costs the file system an update of the file's times,
    // whatever its size, so pieces are large; but small enough that the
    // bytes a filter just made are still in the processor's cache when the
    // kernel copies them (a quarter of a 1 MB cache level 2).
    static constexpr qsizetype kBuffer = 256 * 1024;

    void writeLineAcross(QByteArrayView line);
    void flush();
    // Makes the file, with the source bytes kept so far.
    void makeFile();

    QFile m_file;
    QString m_path;
    QFile* m_source = nullptr; // while no file is made
    qint64 m_sourceSize = 0;
    qint64 m_kept = 0; // source bytes kept while no file is made
    std::unique_ptr<char[]> m_data;
    qsizetype m_used = kBuffer; // no room until opened, or while no file is made
    bool m_ok = false;
    bool m_unchanged = false;
};

// A file's lines, for the readers that look at a program without changing it.
class FileLines
{
public:
    // False when the file is missing, unreadable or empty.
    bool open(const QString& path, LineEnds ends = LineEnds::CrLfOnly);
    bool readLine(QByteArray& line) { return m_reader && m_reader->readLine(line); }
    bool readLines(QByteArrayView& lines) { return m_reader && m_reader->readLines(lines); }
    bool failed() const { return m_source && m_source->failed(); }

private:
    QFile m_file;
    std::unique_ptr<FileSource> m_source;
    std::unique_ptr<LineReader> m_reader;
};

// A file of the server's temporary folder.
QString TempFilePath(const QString& name);

// Puts the result of a filter in place of its input. On one file system
// the result is renamed over the input, which is replaced in one step, and
// is gone. Otherwise (or when the input refuses to be replaced so) it is
// copied whole onto the input's name, with a short pause on each side so
// that a program reading the file does not see it change under it; a failed
// copy leaves the input as it was, and only a copy refused over the existing
// file (write-protected) deletes it first.
bool ReplaceByResult(const QString& input, const QString& result);

// Runs f(line) for each line of lines, a run of whole lines each ended by
// CR LF (as readLines gives them); line is without its CR LF.
template <class PerLine> void ForEachLine(QByteArrayView lines, PerLine&& f)
{
    const char* p = lines.data();
    CrLfScanner ends(p, p + lines.size());
    for (const char* lineEnd = ends.next(); lineEnd; lineEnd = ends.next()) {
        f(QByteArrayView(p, lineEnd - p));
        p = lineEnd + 2;
    }
}

// Writes a run of whole lines to out: the lines keep(line) passes as they
// are (LineWriter::keep), every other one through rewrite(line, out). Lines
// kept side by side go in one piece, so that a program the filter leaves as
// it is costs a read and no write.
template <class Keep, class Rewrite>
void WriteLines(QByteArrayView lines, LineWriter& out, Keep&& keep, Rewrite&& rewrite)
{
    const char* kept = lines.data(); // first line kept and not written yet
    const char* p = kept;
    const char* const end = p + lines.size();
    CrLfScanner ends(p, end);
    for (const char* lineEnd = ends.next(); lineEnd; lineEnd = ends.next()) {
        const QByteArrayView line(p, lineEnd - p);
        if (!keep(line)) {
            if (p != kept)
                out.keep(QByteArrayView(kept, p - kept));
            out.differ();
            rewrite(line, out);
            kept = lineEnd + 2;
        }
        p = lineEnd + 2;
    }
    out.keep(QByteArrayView(kept, end - kept));
}

// Writes a run of whole lines to out: each line that holds mark through
// rewrite(line, out), the others as they are, in pieces as long as possible.
// For filters that change only the lines holding a rare text. No line holds
// an empty mark.
template <class Rewrite>
void WriteLinesHolding(QByteArrayView lines, QByteArrayView mark, LineWriter& out,
                       Rewrite&& rewrite)
{
    if (mark.isEmpty()) {
        out.keep(lines);
        return;
    }
    const char* const b = lines.data();
    const char* const end = b + lines.size();
    qsizetype written = 0; // start of the lines not written yet
    for (qsizetype at = FindText(lines, mark); at >= 0; at = FindText(lines, mark, written)) {
        qsizetype start = at; // of the line that holds it
        while (start - written >= 2 && !(b[start - 2] == '\r' && b[start - 1] == '\n'))
            --start;
        if (start - written < 2)
            start = written;
        const char* const lineEnd = FindCrLf(b + start, end);
        out.keep(QByteArrayView(b + written, start - written));
        out.differ();
        rewrite(QByteArrayView(b + start, lineEnd - (b + start)), out);
        written = lineEnd + 2 - b;
    }
    out.keep(QByteArrayView(b + written, lines.size() - written));
}

namespace detail {

// TransformFileRuns, with *unchanged set (and no output made) when the
// output proves to be the file itself; unchanged null: always written.
template <class PerLines>
bool transformRuns(const QString& path, const QString& outPath, PerLines&& perLines,
                   bool* unchanged)
{
    QFile in;
    if (!OpenForRead(path, FileMode::TextInput, in))
        return false;
    LineWriter out;
    if (!(unchanged ? out.open(outPath, in) : out.open(outPath)))
        return false;
    FileSource source(in);
    LineReader reader(source);
    QByteArrayView lines;
    while (reader.readLines(lines))
        perLines(lines, out);
    const bool ok = out.close() && !reader.failed();
    in.close();
    if (unchanged)
        *unchanged = out.unchanged();
    return ok;
}

} // namespace detail

// Runs perLines(lines, out) for each run of whole lines of the file (as
// readLines gives them), writing into outPath; perLines passes the lines it
// leaves as they are with out.keep(). False when the file is missing or
// empty, when it could not be read to its end, or when the output could not
// be written.
template <class PerLines>
bool TransformFileRuns(const QString& path, const QString& outPath, PerLines&& perLines)
{
    return detail::transformRuns(path, outPath, std::forward<PerLines>(perLines), nullptr);
}

namespace detail {

// Each line of a run through perLine(line, out), line being a QByteArray
// the callback may change; its room serves every line.
template <class PerLine> auto lineByLine(PerLine& perLine)
{
    return [&perLine, line = QByteArray()](QByteArrayView lines, LineWriter& out) mutable {
        ForEachLine(lines, [&](QByteArrayView view) {
            line.resize(view.size());
            if (!view.isEmpty())
                std::memcpy(line.data(), view.data(), size_t(view.size()));
            perLine(line, out);
        });
    };
}

} // namespace detail

// TransformFileRuns line by line: perLine(line, out) for each line.
template <class PerLine>
bool TransformFileLines(const QString& path, const QString& outPath, PerLine&& perLine)
{
    return TransformFileRuns(path, outPath, detail::lineByLine(perLine));
}

// TransformFileRuns into the temporary file, which then takes the place of
// the file; when the output proves to be the file itself, no temporary file
// is made and the file stays as it is. False, with the file untouched, when
// anything failed.
template <class PerLines>
bool FilterFileRuns(const QString& path, const QString& tempPath, PerLines&& perLines)
{
    bool unchanged = false;
    return detail::transformRuns(path, tempPath, std::forward<PerLines>(perLines), &unchanged) &&
           (unchanged || ReplaceByResult(path, tempPath));
}

// The same, line by line.
template <class PerLine>
bool FilterFileLines(const QString& path, const QString& tempPath, PerLine&& perLine)
{
    return FilterFileRuns(path, tempPath, detail::lineByLine(perLine));
}

} // namespace nodalis
