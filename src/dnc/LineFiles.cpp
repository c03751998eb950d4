#include "dnc/LineFiles.h"

#include "platform/Clock.h"
#include "startup/AppPaths.h"
#include "store/ByteRuns.h"
#include "store/FileUtils.h"

#include <algorithm>
#include <cstring>

namespace nodalis {

namespace {

// Read by chunks that stay in the processor's cache while a filter works
// on them.
constexpr qsizetype kChunk = 256 * 1024;

// Bytes written straight from the caller's memory rather than through the
// writer's buffer: whole runs of lines a filter leaves as they are.
constexpr qsizetype kDirect = 64 * 1024;

// Position of the next CR LF from from, or -1.
qsizetype findCrLf(const QByteArray& text, qsizetype from)
{
    const char* begin = text.constData();
    const char* at = FindCrLf(begin + from, begin + text.size());
    return at ? at - begin : -1;
}

// Position of the next CR or LF from from, or -1.
qsizetype findCrOrLf(const QByteArray& text, qsizetype from)
{
    const char* begin = text.constData();
    for (const char *p = begin + from, *end = begin + text.size(); p < end; ++p) {
        if (*p == '\r' || *p == '\n')
            return p - begin;
    }
    return -1;
}

// Drops the first n bytes, keeping the room of the array (and its start at
// the start of that room, so that growing it later moves nothing).
void dropFront(QByteArray& bytes, qsizetype n)
{
    const qsizetype rest = bytes.size() - n;
    if (rest > 0)
        std::memmove(bytes.data(), bytes.constData() + n, size_t(rest));
    bytes.resize(rest);
}

// Room for n more bytes at the end of out; returns where they go.
char* grow(QByteArray& out, qsizetype n)
{
    const qsizetype before = out.size();
    if (out.capacity() < before + n)
        out.reserve(std::max(before + n, 2 * out.capacity()));
    out.resize(before + n);
    return out.data() + before;
}

} // namespace

qsizetype FindText(QByteArrayView text, QByteArrayView search, qsizetype from)
{
    if (from < 0 || from > text.size())
        return -1;
    if (search.isEmpty())
        return from;
    if (search.size() > text.size() - from)
        return -1;
    const char* const begin = text.data();
    const char* const last = begin + text.size() - search.size(); // last possible start
    for (const char* p = begin + from; p <= last;) {
        p = static_cast<const char*>(std::memchr(p, search[0], size_t(last - p + 1)));
        if (!p)
            return -1;
        if (std::memcmp(p + 1, search.data() + 1, size_t(search.size() - 1)) == 0)
            return p - begin;
        ++p;
    }
    return -1;
}

const char* FindLastCrLf(const char* from, const char* end)
{
    if (end - from < 2)
        return nullptr;
    const char* const near = end - std::min<qsizetype>(end - from, 4096);
    for (const char* lf = end - 1; lf > near; --lf) {
        if (*lf == '\n' && lf[-1] == '\r')
            return lf - 1;
    }
    // None in the last bytes: the last one before them, if any.
    const char* last = nullptr;
    for (const char* at = FindCrLf(from, near + 1); at; at = FindCrLf(at + 2, near + 1))
        last = at;
    return last;
}

bool FileSource::readChunk(QByteArray& out)
{
    if (m_failed)
        return false;
    // The size is asked once: small files, the usual case, take no more room
    // than they need, and a file that grows while read is read to its end.
    if (m_left < 0)
        m_left = std::max<qint64>(0, m_file.size() - m_file.pos());
    const qsizetype want = m_left > 0 ? qsizetype(std::min<qint64>(m_left, kChunk)) : 4096;
    const qsizetype before = out.size();
    const qint64 n = m_file.read(grow(out, want), want);
    out.resize(before + (n > 0 ? n : 0));
    if (n < 0)
        m_failed = true;
    if (n > 0)
        m_left = std::max<qint64>(0, m_left - n);
    return n > 0;
}

ReplacingSource::ReplacingSource(ChunkSource& input, const QByteArray& search,
                                 const QByteArray& replacement, const QByteArray& tail)
    : m_input(input), m_search(search), m_replacement(replacement), m_tail(tail)
{
}

void ReplacingSource::replaceInPlace(QByteArray& bytes, qsizetype from)
{
    const char search = m_search[0];
    if (m_replacement.size() == 1) {
        // One character for another (a tab for a blank).
        char* p = bytes.data() + from;
        char* const end = bytes.data() + bytes.size();
        while ((p = static_cast<char*>(std::memchr(p, search, size_t(end - p))))) {
            *p++ = m_replacement[0];
            ++m_count;
        }
        return;
    }
    // A character removed (the blanks of a program): the bytes close up.
    char* const begin = bytes.data() + from;
    const char* const end = bytes.constData() + bytes.size();
    char* const o = RemoveByte(begin, end, search);
    m_count += end - o;
    bytes.resize(o - bytes.constData());
}

void ReplacingSource::replaceByte(QByteArray& out)
{
    const char search = m_search[0];
    const char* in = m_pending.constData();
    const char* const end = in + m_pending.size();
    qsizetype from = 0;
    for (;;) {
        const auto* at =
            static_cast<const char*>(std::memchr(in + from, search, size_t(end - in - from)));
        if (!at)
            break;
        out.append(in + from, at - in - from);
        out += m_replacement;
        from = at - in + 1;
        ++m_count;
    }
    out.append(in + from, m_pending.size() - from);
}

qsizetype ReplacingSource::replaceText(QByteArray& out, qsizetype limit)
{
    out.reserve(out.size() + m_pending.size());
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = FindText(m_pending, m_search, from);
        if (at < 0 || at >= limit)
            break;
        out.append(m_pending.constData() + from, at - from);
        out += m_replacement;
        from = at + m_search.size();
        ++m_count;
    }
    return from;
}

bool ReplacingSource::readChunk(QByteArray& out)
{
    if (m_ended)
        return false;
    if (m_search.isEmpty() || (m_search.size() == 1 && m_replacement.size() <= 1)) {
        // Nothing that grows the text: read straight into out, replaced there.
        const qsizetype before = out.size();
        const bool more = m_input.readChunk(out);
        if (!m_search.isEmpty())
            replaceInPlace(out, before);
        return finish(out, more);
    }
    const bool more = m_input.readChunk(m_pending);
    if (m_search.size() == 1) {
        replaceByte(out);
        m_pending.resize(0); // keeps its room for the next chunk
    } else {
        // Only bytes that cannot begin an occurrence completed by the next
        // chunk are final.
        const qsizetype limit = more ? m_pending.size() - m_search.size() + 1 : m_pending.size();
        const qsizetype from = replaceText(out, limit);
        const qsizetype done = more ? std::max(from, limit) : m_pending.size();
        out.append(m_pending.constData() + from, done - from);
        dropFront(m_pending, done);
    }
    return finish(out, more);
}

bool ReplacingSource::finish(QByteArray& out, bool more)
{
    if (!more) {
        m_ended = true;
        if (m_count > 0)
            out += m_tail;
    }
    return true;
}

bool LineReader::fill()
{
    if (m_ended)
        return false;
    if (m_pos > 0) {
        dropFront(m_buffer, m_pos);
        m_scan -= m_pos;
        m_pos = 0;
    }
    const qsizetype before = m_buffer.size();
    while (m_buffer.size() == before) {
        if (!m_source.readChunk(m_buffer)) {
            m_ended = true;
            break;
        }
    }
    return m_buffer.size() > before;
}

qsizetype LineReader::findEnd(qsizetype& length) const
{
    if (!m_anyEnd) {
        length = 2;
        return findCrLf(m_buffer, m_scan);
    }
    const qsizetype at = findCrOrLf(m_buffer, m_scan);
    if (at < 0 || m_buffer[at] == '\n') {
        length = 1;
        return at;
    }
    if (at + 1 < m_buffer.size()) {
        length = m_buffer[at + 1] == '\n' ? 2 : 1;
        return at;
    }
    // A CR as last byte may be the first half of a CR LF: the next chunk tells.
    length = 1;
    return m_ended ? at : -1;
}

bool LineReader::readLine(QByteArray& line)
{
    for (;;) {
        qsizetype length = 0;
        qsizetype end = findEnd(length);
        if (end >= 0 && end - m_pos > kChunk) {
            // A long line is handed over rather than copied: only the bytes
            // after it are copied back into the buffer.
            if (m_pos > 0)
                dropFront(m_buffer, m_pos);
            end -= m_pos;
            line = std::move(m_buffer);
            m_buffer = line.mid(end + length);
            line.truncate(end);
            m_pos = m_scan = 0;
            return true;
        }
        if (end >= 0) {
            // resize + memcpy keeps the line's own storage from one call to the next
            line.resize(end - m_pos);
            std::memcpy(line.data(), m_buffer.constData() + m_pos, size_t(end - m_pos));
            m_pos = end + length;
            m_scan = m_pos;
            return true;
        }
        // A CR as last byte may be the first half of the next line end.
        m_scan = std::max(m_pos, m_buffer.size() - 1);
        if (!fill()) {
            if (m_pos >= m_buffer.size())
                return false;
            line = m_buffer.mid(m_pos);
            if (m_anyEnd && line.endsWith('\r'))
                line.chop(1);
            m_pos = m_scan = m_buffer.size();
            return true;
        }
    }
}

bool LineReader::readLines(QByteArrayView& lines)
{
    for (;;) {
        // The run ends at the last CR LF read; no CR LF begins before m_scan.
        const char* const data = m_buffer.constData();
        const char* const cr = FindLastCrLf(data + std::max(m_pos, m_scan), data + m_buffer.size());
        if (cr) {
            lines = QByteArrayView(data + m_pos, cr + 2 - (data + m_pos));
            m_pos = m_scan = cr + 2 - data;
            return true;
        }
        m_scan = std::max(m_pos, m_buffer.size() - 1);
        if (!fill()) {
            if (m_pos >= m_buffer.size())
                return false;
            m_buffer += "\r\n";
            lines = QByteArrayView(m_buffer.constData() + m_pos, m_buffer.size() - m_pos);
            m_pos = m_scan = m_buffer.size();
            return true;
        }
    }
}

LineWriter::~LineWriter()
{
    // A writer left before close() without a file made leaves none.
    if (!m_source)
        close();
}

bool LineWriter::open(const QString& path)
{
    if (!m_data)
        m_data = std::make_unique<char[]>(size_t(kBuffer));
    m_source = nullptr;
    m_unchanged = false;
    m_used = 0;
    m_ok = OpenForWrite(path, FileMode::Output, m_file);
    return m_ok;
}

bool LineWriter::open(const QString& path, QFile& source)
{
    if (!m_data)
        m_data = std::make_unique<char[]>(size_t(kBuffer));
    m_path = path;
    m_source = &source;
    m_sourceSize = source.size();
    m_kept = 0;
    m_unchanged = false;
    m_used = kBuffer; // every write goes through differ() first
    m_ok = true;
    return true;
}

void LineWriter::makeFile()
{
    QFile& source = *m_source;
    m_source = nullptr;
    m_used = 0;
    m_ok = OpenForWrite(m_path, FileMode::Output, m_file);
    if (!m_ok || m_kept == 0)
        return;
    // The source bytes kept so far, read again from its start.
    const qint64 at = source.pos();
    bool ok = source.seek(0);
    for (qint64 left = m_kept; ok && left > 0;) {
        const qint64 n = source.read(m_data.get(), std::min<qint64>(left, kBuffer));
        ok = n > 0 && m_file.write(m_data.get(), n) == n;
        left -= n;
    }
    m_ok = ok && source.seek(at);
}

void LineWriter::flush()
{
    if (m_ok && m_used > 0)
        m_ok = m_file.write(m_data.get(), m_used) == m_used;
    m_used = 0;
}

void LineWriter::write(QByteArrayView bytes)
{
    const qsizetype n = bytes.size();
    if (n == 0 || !m_data)
        return;
    if (n < kDirect && n <= kBuffer - m_used) {
        std::memcpy(m_data.get() + m_used, bytes.data(), size_t(n));
        m_used += n;
        return;
    }
    differ();
    flush();
    if (n >= kDirect) {
        if (m_ok)
            m_ok = m_file.write(bytes.data(), n) == n;
        return;
    }
    std::memcpy(m_data.get(), bytes.data(), size_t(n));
    m_used = n;
}

void LineWriter::writeLineAcross(QByteArrayView line)
{
    write(line);
    write(QByteArrayView("\r\n", 2));
}

bool LineWriter::close()
{
    if (m_source && m_ok && m_kept == m_sourceSize) {
        m_source = nullptr;
        m_unchanged = true;
        return true;
    }
    differ();
    if (!m_file.isOpen())
        return m_ok;
    flush();
    m_file.close();
    m_ok = m_ok && m_file.error() == QFileDevice::NoError;
    return m_ok;
}

bool FileLines::open(const QString& path, LineEnds ends)
{
    m_reader.reset();
    m_source.reset();
    if (!OpenForRead(path, FileMode::TextInput, m_file))
        return false;
    m_source = std::make_unique<FileSource>(m_file);
    m_reader = std::make_unique<LineReader>(*m_source, ends);
    return true;
}

QString TempFilePath(const QString& name)
{
    return Paths().tempFolder + name;
}

bool ReplaceByResult(const QString& input, const QString& result)
{
    // Events keep being served between a filter and the next step, as
    // during the pauses of a copy.
    DoEvents();
    if (RenameOver(result, input))
        return true;
    Pause(10);
    bool ok = CopyScratchFile(result, input);
    if (!ok && FileExists(input)) {
        DeleteFile(input);
        Pause(10);
        ok = CopyScratchFile(result, input);
    }
    Pause(10);
    return ok;
}

} // namespace nodalis
