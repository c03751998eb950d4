#pragma once

#include "store/FileUtils.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QString>

#include <memory>
#include <utility>

namespace nodalis {

// The plumbing of the program text filters. Every filter reads its input
// file line by line, writes a temporary file and then puts that file in
// place of its input. Programs reach hundreds of megabytes and a single
// line can be megabytes long, so nothing here holds more than one chunk and
// the current line in memory.
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

// Buffered writing of lines and bytes to a file.
class LineWriter
{
public:
    LineWriter() = default;
    ~LineWriter();
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    // Creates the file (and its missing folders), truncating it.
    bool open(const QString& path);
    void writeLine(QByteArrayView line);
    void write(QByteArrayView bytes);
    // Flushes and closes; true when every byte was written.
    bool close();

private:
    void flush();

    QFile m_file;
    QByteArray m_buffer;
    bool m_ok = false;
};

// A file's lines, for the readers that look at a program without changing it.
class FileLines
{
public:
    // False when the file is missing, unreadable or empty.
    bool open(const QString& path, LineEnds ends = LineEnds::CrLfOnly);
    bool readLine(QByteArray& line) { return m_reader && m_reader->readLine(line); }
    bool failed() const { return m_source && m_source->failed(); }

private:
    QFile m_file;
    std::unique_ptr<FileSource> m_source;
    std::unique_ptr<LineReader> m_reader;
};

// A file of the server's temporary folder.
QString TempFilePath(const QString& name);

// Puts the result of a filter in place of its input: the result is copied
// onto the input's name, with a short pause on each side so that a program
// reading the file does not see it change under it. The copy replaces the
// input in one step, so a failed copy leaves the input as it was; only a
// copy refused over the existing file (write-protected) deletes it first.
bool ReplaceByResult(const QString& input, const QString& result);

// Runs perLine(line, out) for each line of the file, writing into outPath.
// False when the file is missing or empty, when it could not be read to its
// end, or when the output could not be written.
template <class PerLine>
bool TransformFileLines(const QString& path, const QString& outPath, PerLine&& perLine)
{
    QFile in;
    if (!OpenForRead(path, FileMode::TextInput, in))
        return false;
    FileSource source(in);
    LineReader reader(source);
    LineWriter out;
    if (!out.open(outPath))
        return false;
    QByteArray line;
    while (reader.readLine(line))
        perLine(line, out);
    in.close();
    return out.close() && !reader.failed();
}

// TransformFileLines into the temporary file, which then takes the place of
// the file. False, with the file untouched, when anything failed.
template <class PerLine>
bool FilterFileLines(const QString& path, const QString& tempPath, PerLine&& perLine)
{
    return TransformFileLines(path, tempPath, std::forward<PerLine>(perLine)) &&
           ReplaceByResult(path, tempPath);
}

} // namespace nodalis
