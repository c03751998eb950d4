#include "startup/IniDocument.h"

namespace nodalis {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

IniDocument::IniDocument(QByteArray content) : m_content(std::move(content))
{
    parse();
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

QByteArray IniDocument::nameOf(const Line& line) const
{
    return m_content.mid(line.nameStart, line.nameLength);
}

void IniDocument::parse()
{
    const char* d = m_content.constData();
    const qsizetype n = m_content.size();
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
    const QByteArray key = fold(name.constData(), name.size()).trimmed();
    const auto it = m_sectionIndex.constFind(key);
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
            const QByteArray folded = fold(m_content.constData() + line.nameStart, line.nameLength);
            if (!keys.contains(folded))
                keys.insert(folded, i);
        }
        section.keys = std::move(keys);
    }
    return section.keys->value(fold(key.constData(), key.size()).trimmed(), -1);
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
    QByteArray v = m_content.mid(line.valueStart, line.start + line.length - line.valueStart);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.mid(1, v.size() - 2);
    return v;
}

QByteArray IniDocument::sectionText(const QByteArray& section) const
{
    QByteArray text;
    const Section* s = findSection(section);
    if (!s)
        return text;
    for (int i = s->header + 1; i < s->end; ++i) {
        const Line& line = m_lines[std::size_t(i)];
        if (line.kind != Kind::Key || line.nameLength == 0)
            continue;
        text.append(nameOf(line));
        if (line.valueStart >= 0) {
            text.append('=');
            text.append(m_content.constData() + line.valueStart,
                        line.start + line.length - line.valueStart);
        }
        text.append('\0');
    }
    return text;
}

QByteArray IniDocument::lineEnd() const
{
    for (const Line& line : m_lines) {
        if (line.eolLength)
            return m_content.mid(line.start + line.length, line.eolLength);
    }
    return QByteArrayLiteral("\r\n");
}

QByteArray IniDocument::withValue(const QByteArray& section, const QByteArray& key,
                                  const QByteArray& value) const
{
    const QByteArray eol = lineEnd();
    const QByteArray keyLine = key.trimmed() + '=' + value;
    const Section* s = findSection(section);
    if (!s) {
        QByteArray text = m_content;
        if (!text.isEmpty() && !text.endsWith('\n') && !text.endsWith('\r'))
            text.append(eol);
        if (!m_lines.empty() && !m_lines.back().blank)
            text.append(eol);
        return text + '[' + section.trimmed() + ']' + eol + keyLine + eol;
    }

    const int index = findKey(*s, key);
    if (index >= 0) {
        const Line& line = m_lines[std::size_t(index)];
        const qsizetype keep = line.valueStart >= 0 ? line.valueStart - line.start
                                                    : line.nameStart + line.nameLength - line.start;
        QByteArray text = m_content.left(line.start + keep);
        if (line.valueStart < 0)
            text.append('=');
        text.append(value);
        text.append(m_content.mid(line.start + line.length));
        return text;
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
    const qsizetype insertAt = prev.start + prev.length + prev.eolLength;
    QByteArray text = m_content.left(insertAt);
    if (prev.eolLength == 0)
        text.append(eol);
    text.append(keyLine);
    text.append(eol);
    text.append(m_content.mid(insertAt));
    return text;
}

} // namespace nodalis
