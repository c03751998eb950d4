#include "dnc/LineFiles.h"

#include "platform/Clock.h"
#include "startup/AppPaths.h"
#include "store/FileUtils.h"

#include <algorithm>
#include <cstring>

namespace nodalis {

namespace {

constexpr qsizetype kChunk = 256 * 1024;

// Position of the next CR LF from from, or -1.
qsizetype findCrLf(const QByteArray& text, qsizetype from)
{
    const char* begin = text.constData();
    const char* end = begin + text.size();
    for (const char* p = begin + from; p < end;) {
        p = static_cast<const char*>(std::memchr(p, '\r', size_t(end - p)));
        if (!p || p + 1 >= end)
            return -1;
        if (p[1] == '\n')
            return p - begin;
        ++p;
    }
    return -1;
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

bool FileSource::readChunk(QByteArray& out)
{
    if (m_failed)
        return false;
    // Small files, the usual case, take no more room than they need.
    const qint64 left = m_file.size() - m_file.pos();
    const qsizetype want = left > 0 ? qsizetype(qMin<qint64>(left, kChunk)) : 4096;
    const qsizetype before = out.size();
    out.resize(before + want);
    const qint64 n = m_file.read(out.data() + before, want);
    out.resize(before + (n > 0 ? n : 0));
    if (n < 0)
        m_failed = true;
    return n > 0;
}

ReplacingSource::ReplacingSource(ChunkSource& input, const QByteArray& search,
                                 const QByteArray& replacement, const QByteArray& tail)
    : m_input(input), m_search(search), m_replacement(replacement), m_tail(tail)
{
}

bool ReplacingSource::readChunk(QByteArray& out)
{
    if (m_ended)
        return false;
    const bool more = m_input.readChunk(m_pending);
    if (m_search.size() == 1 && m_replacement.size() == 1) {
        // One character for another (a tab for a blank): in place.
        char* p = m_pending.data();
        char* const end = p + m_pending.size();
        while ((p = static_cast<char*>(std::memchr(p, m_search[0], size_t(end - p))))) {
            *p++ = m_replacement[0];
            ++m_count;
        }
        out += m_pending;
        m_pending.resize(0);
    } else if (m_search.isEmpty()) {
        out += m_pending;
        m_pending.resize(0);
    } else {
        // Only bytes that cannot begin an occurrence completed by the next
        // chunk are final.
        const qsizetype limit = more ? m_pending.size() - m_search.size() + 1 : m_pending.size();
        const char* const data = m_pending.constData();
        const auto find = [&](qsizetype from) -> qsizetype {
            if (m_search.size() > 1)
                return m_pending.indexOf(m_search, from);
            const void* at = std::memchr(data + from, m_search[0], size_t(m_pending.size() - from));
            return at ? static_cast<const char*>(at) - data : -1;
        };
        out.reserve(out.size() + m_pending.size());
        qsizetype from = 0;
        for (;;) {
            const qsizetype at = find(from);
            if (at < 0 || at >= limit)
                break;
            out.append(m_pending.constData() + from, at - from);
            out += m_replacement;
            from = at + m_search.size();
            ++m_count;
        }
        const qsizetype done = more ? std::max(from, limit) : m_pending.size();
        out.append(m_pending.constData() + from, done - from);
        m_pending.remove(0, done);
    }
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
        m_buffer.remove(0, m_pos);
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
                m_buffer.remove(0, m_pos);
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

LineWriter::~LineWriter()
{
    close();
}

bool LineWriter::open(const QString& path)
{
    m_buffer.clear();
    m_ok = OpenForWrite(path, FileMode::Output, m_file);
    return m_ok;
}

void LineWriter::flush()
{
    if (m_ok && !m_buffer.isEmpty())
        m_ok = m_file.write(m_buffer) == m_buffer.size();
    m_buffer.resize(0); // keeps its room for the next lines
}

void LineWriter::write(QByteArrayView bytes)
{
    if (m_buffer.size() + bytes.size() > kChunk)
        flush();
    if (bytes.size() >= kChunk) {
        if (m_ok)
            m_ok = m_file.write(bytes.data(), bytes.size()) == bytes.size();
        return;
    }
    m_buffer.append(bytes);
}

void LineWriter::writeLine(QByteArrayView line)
{
    write(line);
    write("\r\n");
}

bool LineWriter::close()
{
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
    Pause(10);
    bool ok = CopyFile(result, input);
    if (!ok && FileExists(input)) {
        DeleteFile(input);
        Pause(10);
        ok = CopyFile(result, input);
    }
    Pause(10);
    return ok;
}

} // namespace nodalis
