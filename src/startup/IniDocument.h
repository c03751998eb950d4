#pragma once

#include <QByteArray>
#include <QHash>

#include <optional>
#include <vector>

namespace nodalis {

// A parsed INI file, read as the Windows private-profile functions read it:
// section and key names compared without regard to case, blanks around them
// ignored, the first section and the first key of a name winning, ";" lines
// as comments, CR LF, LF and CR alone all ending a line. A UTF-16 file (with
// its byte-order mark) is read as its single-byte text, one byte per UTF-16
// unit; a UTF-8 byte-order mark is skipped. The document keeps the file's
// bytes, so that a write changes one line, in the file's own encoding, and
// nothing else.
class IniDocument
{
public:
    enum class Encoding
    {
        Ansi,
        Utf8Bom,
        Utf16Le,
        Utf16Be
    };

    // One section header or key line, as a look-up sees it.
    struct OutlineEntry
    {
        int line = 0;         // 1-based
        bool section = false; // a [name] header, else a key line
        QByteArray name;      // trimmed section or key name
        int sectionLine = 0;  // a key's section header line, 0 before any section
        int readLine = 0;     // the line a look-up of this name reads
    };

    explicit IniDocument(QByteArray content = {});

    // The raw value after the first "=" up to a NUL byte (blanks kept, one
    // pair of enclosing quotes removed); nothing when the section or key is
    // missing or the key line has no "=".
    std::optional<QByteArray> value(const QByteArray& section, const QByteArray& key) const;

    // The 1-based line that value() reads for the key, 0 when none.
    int keyLine(const QByteArray& section, const QByteArray& key) const;

    // Every key line of the section as "key=value" (a bare key alone, an
    // empty key kept, blanks around the value dropped), each followed by a
    // NUL byte, in file order; empty when the section is missing.
    QByteArray sectionText(const QByteArray& section) const;

    // The whole file with key set to value in that section: the first
    // matching key line gets the new value, else the key is added at the
    // end of its section, else the section is added after the last line.
    QByteArray withValue(const QByteArray& section, const QByteArray& key,
                         const QByteArray& value) const;

    // Section headers and key lines in file order.
    std::vector<OutlineEntry> outline() const;

    // A name as look-ups compare it: ASCII capitals, blanks around dropped.
    static QByteArray foldName(const QByteArray& name);

    const QByteArray& content() const { return m_content; }
    const QByteArray& text() const { return m_text; } // what the look-ups read
    Encoding encoding() const { return m_encoding; }

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

    void decode();
    void parse();
    static QByteArray fold(const char* data, qsizetype length);
    QByteArray nameOf(const Line& line) const;
    QByteArray valueOf(const Line& line) const;
    const Section* findSection(const QByteArray& name) const;
    int findKey(const Section& section, const QByteArray& key) const;
    QByteArray lineEnd() const;
    QByteArray replaced(qsizetype at, qsizetype removed, const QByteArray& inserted) const;

    QByteArray m_content; // the file's bytes
    QByteArray m_text;    // its single-byte text, which the lines index
    Encoding m_encoding = Encoding::Ansi;
    std::vector<Line> m_lines;
    std::vector<Section> m_sections;
    QHash<QByteArray, int> m_sectionIndex; // folded name -> first section
};

} // namespace nodalis
