#pragma once

#include <QByteArray>
#include <QHash>

#include <optional>
#include <vector>

namespace nodalis {

// A parsed INI text, read as the Windows private-profile functions read it:
// section and key names compared without regard to case, blanks around them
// ignored, the first section and the first key of a name winning, ";" lines
// as comments, CR LF, LF and CR alone all ending a line. The document keeps
// the original bytes, so that a write changes one line and nothing else.
class IniDocument
{
public:
    explicit IniDocument(QByteArray content = {});

    // The raw value after the first "=" (blanks kept, one pair of enclosing
    // quotes removed); nothing when the section or key is missing or the key
    // line has no "=".
    std::optional<QByteArray> value(const QByteArray& section, const QByteArray& key) const;

    // Every key line of the section as "key=value" (a bare key alone), each
    // followed by a NUL byte, in file order; empty when the section is missing.
    QByteArray sectionText(const QByteArray& section) const;

    // The whole text with key set to value in that section: the first
    // matching key line gets the new value, else the key is added at the
    // end of its section, else the section is added at the end of the text.
    QByteArray withValue(const QByteArray& section, const QByteArray& key,
                         const QByteArray& value) const;

    const QByteArray& content() const { return m_content; }

private:
    enum class Kind
    {
        Other,
        Section,
        Key
    };
    struct Line
    {
        qsizetype start = 0;     // first byte of the line
        qsizetype length = 0;    // without the line end
        qsizetype eolLength = 0; // 0 on a last line without line end
        qsizetype nameStart = 0; // trimmed section or key name
        qsizetype nameLength = 0;
        qsizetype valueStart = -1; // byte after "=", -1 for a bare key
        Kind kind = Kind::Other;
        bool blank = false;
    };
    struct Section
    {
        int header = -1;                                    // line index of the [name] line
        int end = 0;                                        // one past its last line
        mutable std::optional<QHash<QByteArray, int>> keys; // built on first look-up
    };

    void parse();
    static QByteArray fold(const char* data, qsizetype length);
    QByteArray nameOf(const Line& line) const;
    const Section* findSection(const QByteArray& name) const;
    int findKey(const Section& section, const QByteArray& key) const;
    QByteArray lineEnd() const;

    QByteArray m_content;
    std::vector<Line> m_lines;
    std::vector<Section> m_sections;
    QHash<QByteArray, int> m_sectionIndex; // folded name -> first section
};

} // namespace nodalis
