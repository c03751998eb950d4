#include "startup/IniDocument.h"

#include "platform/AnsiText.h"

#include <QString>

#include <algorithm>

namespace nodalis {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool startsWith(const QByteArray& bytes, const char* mark, qsizetype length)
{
    return bytes.size() >= length && std::equal(mark, mark + length, bytes.constData());
}

} // namespace

IniDocument::IniDocument(QByteArray content) : m_content(std::move(content))
{
    decode();
    parse();
}

void IniDocument::decode()
{
    if (startsWith(m_content, "\xFF\xFE", 2))
        m_encoding = Encoding::Utf16Le;
    else if (startsWith(m_content, "\xFE\xFF", 2))
        m_encoding = Encoding::Utf16Be;
    else if (startsWith(m_content, "\xEF\xBB\xBF", 3))
        m_encoding = Encoding::Utf8Bom;

    if (m_encoding == Encoding::Ansi) {
        m_text = m_content;
    } else if (m_encoding == Encoding::Utf8Bom) {
        m_text = m_content.mid(3);
    } else {
        // One byte per UTF-16 unit, so that a write can map its change back
        // onto the units and leave every other one as it was.
        const bool le = m_encoding == Encoding::Utf16Le;
        const auto* b = reinterpret_cast<const uchar*>(m_content.constData());
        const qsizetype units = (m_content.size() - 2) / 2;
        QString wide(units, Qt::Uninitialized);
        for (qsizetype i = 0; i < units; ++i) {
            const uchar lo = b[2 + 2 * i + (le ? 0 : 1)];
            const uchar hi = b[2 + 2 * i + (le ? 1 : 0)];
            wide[i] = QChar(char16_t(lo | (hi << 8)));
        }
        m_text = toAnsi(wide);
    }
}

QByteArray IniDocument::fold(const char* data, qsizetype length)
{
    QByteArray folded(data, length);
    for (char& c : folded) {
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    }
    return folded;
}

QByteArray IniDocument::foldName(const QByteArray& name)
{
    return fold(name.constData(), name.size()).trimmed();
}

QByteArray IniDocument::nameOf(const Line& line) const
{
    return m_text.mid(line.nameStart, line.nameLength);
}

QByteArray IniDocument::valueOf(const Line& line) const
{
    QByteArray v = m_text.mid(line.valueStart, line.start + line.length - line.valueStart);
    // The platform reads values as C strings: a NUL ends one.
    const qsizetype nul = v.indexOf('\0');
    if (nul >= 0)
        v.truncate(nul);
    return v;
}

void IniDocument::parse()
{
    const char* d = m_text.constData();
    const qsizetype n = m_text.size();
    qsizetype pos = 0;
    while (pos < n) {
        Line line;
        line.start = pos;
        qsizetype end = pos;
        while (end < n && d[end] != '\r' && d[end] != '\n')
            ++end;
        line.length = end - pos;
        if (end < n)
            line.eolLength = (d[end] == '\r' && end + 1 < n && d[end + 1] == '\n') ? 2 : 1;
        pos = end + line.eolLength;

        qsizetype first = line.start;
        qsizetype last = end; // one past the last non-blank byte
        while (first < last && isBlank(d[first]))
            ++first;
        while (last > first && isBlank(d[last - 1]))
            --last;
        line.blank = first == last;

        if (!line.blank && d[first] == '[') {
            qsizetype close = last - 1;
            while (close > first && d[close] != ']')
                --close;
            if (close > first) {
                qsizetype a = first + 1;
                qsizetype b = close;
                while (a < b && isBlank(d[a]))
                    ++a;
                while (b > a && isBlank(d[b - 1]))
                    --b;
                line.kind = Kind::Section;
                line.nameStart = a;
                line.nameLength = b - a;
            }
        }
        if (line.kind == Kind::Other && !line.blank && d[first] != ';') {
            qsizetype eq = first;
            while (eq < last && d[eq] != '=')
                ++eq;
            qsizetype nameEnd = eq;
            while (nameEnd > first && isBlank(d[nameEnd - 1]))
                --nameEnd;
            line.kind = Kind::Key;
            line.nameStart = first;
            line.nameLength = nameEnd - first;
            line.valueStart = eq < last ? eq + 1 : -1;
        }

        const int index = int(m_lines.size());
        if (line.kind == Kind::Section) {
            if (!m_sections.empty())
                m_sections.back().end = index;
            m_sections.push_back(Section{index, index + 1, std::nullopt});
            const QByteArray key = fold(d + line.nameStart, line.nameLength);
            if (!m_sectionIndex.contains(key))
                m_sectionIndex.insert(key, int(m_sections.size()) - 1);
        }
        m_lines.push_back(line);
    }
    if (!m_sections.empty())
        m_sections.back().end = int(m_lines.size());
}

const IniDocument::Section* IniDocument::findSection(const QByteArray& name) const
{
    const auto it = m_sectionIndex.constFind(foldName(name));
    return it == m_sectionIndex.constEnd() ? nullptr : &m_sections[std::size_t(*it)];
}

int IniDocument::findKey(const Section& section, const QByteArray& key) const
{
    if (!section.keys) {
        QHash<QByteArray, int> keys;
        for (int i = section.header + 1; i < section.end; ++i) {
            const Line& line = m_lines[std::size_t(i)];
            if (line.kind != Kind::Key)
                continue;
            const QByteArray folded = fold(m_text.constData() + line.nameStart, line.nameLength);
            if (!keys.contains(folded))
                keys.insert(folded, i);
        }
        section.keys = std::move(keys);
    }
    return section.keys->value(foldName(key), -1);
}

std::optional<QByteArray> IniDocument::value(const QByteArray& section, const QByteArray& key) const
{
    const Section* s = findSection(section);
    if (!s)
        return std::nullopt;
    const int index = findKey(*s, key);
    if (index < 0)
        return std::nullopt;
    const Line& line = m_lines[std::size_t(index)];
    if (line.valueStart < 0)
        return std::nullopt;
    QByteArray v = valueOf(line);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.mid(1, v.size() - 2);
    return v;
}

int IniDocument::keyLine(const QByteArray& section, const QByteArray& key) const
{
    const Section* s = findSection(section);
    const int index = s ? findKey(*s, key) : -1;
    return index + 1;
}

QByteArray IniDocument::sectionText(const QByteArray& section) const
{
    QByteArray text;
    const Section* s = findSection(section);
    if (!s)
        return text;
    for (int i = s->header + 1; i < s->end; ++i) {
        const Line& line = m_lines[std::size_t(i)];
        if (line.kind != Kind::Key)
            continue;
        text.append(nameOf(line));
        if (line.valueStart >= 0) {
            QByteArray v = valueOf(line);
            qsizetype a = 0;
            qsizetype b = v.size();
            while (a < b && isBlank(v[a]))
                ++a;
            while (b > a && isBlank(v[b - 1]))
                --b;
            text.append('=');
            text.append(v.constData() + a, b - a);
        }
        text.append('\0');
    }
    return text;
}

std::vector<IniDocument::OutlineEntry> IniDocument::outline() const
{
    std::vector<OutlineEntry> entries;
    const Section* current = nullptr;
    std::size_t sectionNo = 0;
    for (int i = 0; i < int(m_lines.size()); ++i) {
        const Line& line = m_lines[std::size_t(i)];
        if (line.kind == Kind::Other)
            continue;
        OutlineEntry e;
        e.line = i + 1;
        e.name = nameOf(line);
        if (line.kind == Kind::Section) {
            current = &m_sections[sectionNo++];
            e.section = true;
            e.readLine = findSection(e.name)->header + 1;
        } else {
            e.sectionLine = current ? current->header + 1 : 0;
            e.readLine = current ? findKey(*current, e.name) + 1 : e.line;
        }
        entries.push_back(std::move(e));
    }
    return entries;
}

QByteArray IniDocument::lineEnd() const
{
    for (const Line& line : m_lines) {
        if (line.eolLength)
            return m_text.mid(line.start + line.length, line.eolLength);
    }
    return QByteArrayLiteral("\r\n");
}

QByteArray IniDocument::replaced(qsizetype at, qsizetype removed, const QByteArray& inserted) const
{
    switch (m_encoding) {
    case Encoding::Ansi:
        return m_content.left(at) + inserted + m_content.mid(at + removed);
    case Encoding::Utf8Bom:
        return m_content.left(3 + at) + inserted + m_content.mid(3 + at + removed);
    case Encoding::Utf16Le:
    case Encoding::Utf16Be:
        break;
    }
    const bool le = m_encoding == Encoding::Utf16Le;
    QByteArray units;
    units.reserve(inserted.size() * 2);
    for (QChar c : fromAnsi(inserted)) {
        const char lo = char(c.unicode() & 0xFF);
        const char hi = char(c.unicode() >> 8);
        units.append(le ? lo : hi);
        units.append(le ? hi : lo);
    }
    return m_content.left(2 + 2 * at) + units + m_content.mid(2 + 2 * (at + removed));
}

QByteArray IniDocument::withValue(const QByteArray& section, const QByteArray& key,
                                  const QByteArray& value) const
{
    const QByteArray eol = lineEnd();
    const QByteArray entry = key.trimmed() + '=' + value;
    const Section* s = findSection(section);
    if (!s) {
        // Right after the last line, as the platform appends a section.
        QByteArray added;
        if (!m_text.isEmpty() && !m_text.endsWith('\n') && !m_text.endsWith('\r'))
            added.append(eol);
        added += '[' + section.trimmed() + ']' + eol + entry + eol;
        return replaced(m_text.size(), 0, added);
    }

    const int index = findKey(*s, key);
    if (index >= 0) {
        const Line& line = m_lines[std::size_t(index)];
        const qsizetype end = line.start + line.length;
        if (line.valueStart >= 0)
            return replaced(line.valueStart, end - line.valueStart, value);
        const qsizetype nameEnd = line.nameStart + line.nameLength;
        return replaced(nameEnd, end - nameEnd, '=' + value);
    }

    // A new key goes after the last non-blank line of its section.
    int after = s->header;
    for (int i = s->end - 1; i > s->header; --i) {
        if (!m_lines[std::size_t(i)].blank) {
            after = i;
            break;
        }
    }
    const Line& prev = m_lines[std::size_t(after)];
    QByteArray added = prev.eolLength == 0 ? eol : QByteArray();
    added += entry + eol;
    return replaced(prev.start + prev.length + prev.eolLength, 0, added);
}

} // namespace nodalis
