#include "startup/ConfigCheck.h"

#include "platform/AnsiText.h"
#include "platform/SystemPaths.h"
#include "startup/IniDocument.h"
#include "startup/IniFile.h"
#include "startup/IniValue.h"
#include "startup/SettingsDump.h"
#include "startup/SettingsKeys.h"

#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <limits>

namespace nodalis {

namespace {

// The loader's bound on numbered lists.
constexpr int kMaxListCount = 1000;

QByteArray quoted(const QByteArray& text)
{
    return '"' + CEscape(text) + '"';
}

// Names from the file as a terminal can show them.
QString shown(const QByteArray& name)
{
    return QString::fromLatin1(CEscape(name));
}

// Control characters (tab and line ends aside) in a text: an INI file holds
// next to none, a binary file taken for one holds them by the hundred.
qsizetype controlCharacters(const QByteArray& text)
{
    return std::count_if(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 32 && c != '\t' && c != '\r' && c != '\n') || u == 127;
    });
}

QByteArray numberText(double v)
{
    return QByteArray::number(v, 'g', 15);
}

// The number ending a numbered key (RefChamp12: 12), 0 when none.
int trailingNumber(const QByteArray& key)
{
    qsizetype i = key.size();
    while (i > 0 && key[i - 1] >= '0' && key[i - 1] <= '9')
        --i;
    return i == key.size() ? 0 : key.mid(i).left(6).toInt();
}

int editDistance(const QByteArray& a, const QByteArray& b)
{
    std::vector<int> row(std::size_t(b.size()) + 1);
    for (std::size_t j = 0; j < row.size(); ++j)
        row[j] = int(j);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = int(i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const int up = row[std::size_t(j)];
            row[std::size_t(j)] = std::min(
                {up + 1, row[std::size_t(j) - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row.back();
}

// The closest of the names to a misspelt one, if it is close enough to be
// what was meant.
QByteArray closest(const QByteArray& name, const QList<QByteArray>& names)
{
    const QByteArray folded = IniDocument::foldName(name);
    QByteArray best;
    int bestDistance = 3;
    for (const QByteArray& candidate : names) {
        const int d = editDistance(folded, IniDocument::foldName(candidate));
        if (d < bestDistance && d < candidate.size() / 2 + 1) {
            bestDistance = d;
            best = candidate;
        }
    }
    return best;
}

struct Range
{
    double min;
    double max;
};

Range typeRange(KeyKind kind)
{
    constexpr double inf = std::numeric_limits<double>::infinity();
    switch (kind) {
    case KeyKind::Int16:
    case KeyKind::Strict16:
        return {-32768, 32767};
    case KeyKind::Long:
        return {-2147483648.0, 2147483647};
    default:
        return {-inf, inf};
    }
}

bool isNumeric(KeyKind kind)
{
    return kind == KeyKind::Int16 || kind == KeyKind::Long || kind == KeyKind::Double ||
           kind == KeyKind::Strict16;
}

class CheckVisitor
{
public:
    CheckVisitor(const QString& path, const IniDocument& doc, QList<ConfigFinding>& out)
        : m_fileName(QFileInfo(path).fileName()), m_doc(doc), m_out(out)
    {
        QByteArray section;
        bool read = false;
        for (const IniDocument::OutlineEntry& e : m_doc.outline()) {
            if (e.section) {
                section = IniDocument::foldName(e.name);
                read = e.readLine == e.line;
                m_headers.append(e);
            } else if (e.sectionLine == 0) {
                m_outside.append(e);
            } else if (read) {
                m_lines[section].append(e);
            }
        }
    }

    template <class T>
    void operator()(const char* section, const QByteArray& key, KeyKind kind, const QByteArray&, T&,
                    const KeyRule& rule)
    {
        judge(section, key, kind, rule);
    }

    void external(const char* section, const char* key, KeyKind kind, const char*,
                  const KeyRule& rule)
    {
        judge(section, key, kind, rule);
    }

    template <class T, class U> void derived(const char*, const char*, T&, const U&) {}

    // Every line of CANAUX is a channel entry: no key there is unknown.
    void channels(QList<QByteArray>&)
    {
        known("CANAUX");
        m_freeSections.insert("CANAUX");
    }

    template <class T>
    void resize(const char* section, const char* key, QList<T>& list, qint32& count)
    {
        m_list = {IniDocument::foldName(section), key, count};
        // Numbered keys past the count are visited too, to say they are not read.
        int highest = count;
        for (const IniDocument::OutlineEntry& e : m_lines.value(m_list.section))
            highest = std::max(highest, std::min(trailingNumber(e.name), kMaxListCount));
        list.resize(1 + std::max(0, highest));
    }

    // What the list does not name: unknown sections and keys, repeats, keys
    // outside any section. A file that is no INI text is reported alone.
    void finish()
    {
        const qsizetype controls = controlCharacters(m_doc.text());
        if (controls >= 4 && controls * 100 > m_doc.text().size()) {
            m_out.clear(); // what its values look like says nothing more
            m_out.append(
                {true, 0,
                 m_fileName +
                     QStringLiteral(": not a text file (%1 control characters)").arg(controls)});
            return;
        }
        if (m_headers.isEmpty()) {
            m_out.append(
                {true, 0, m_fileName + QStringLiteral(": no [section] header, nothing is read")});
            return;
        }
        for (const IniDocument::OutlineEntry& e : std::as_const(m_outside))
            warn(e.line, shown(e.name) + QLatin1Char(':'),
                 QStringLiteral("outside any section, not read"));
        for (const IniDocument::OutlineEntry& e : std::as_const(m_headers)) {
            const QByteArray folded = IniDocument::foldName(e.name);
            const QString where = sectionTag(e.name) + QLatin1Char(':');
            if (e.readLine != e.line) {
                warn(e.line, where,
                     QStringLiteral("repeated section, not read (line %1 is)").arg(e.readLine));
            } else if (!m_knownKeys.contains(folded)) {
                warn(e.line, where,
                     QStringLiteral("unknown section") + suggestion(e.name, m_sectionNames));
            } else if (!m_freeSections.contains(folded)) {
                unknownKeys(folded, m_lines.value(folded));
            }
        }
    }

private:
    struct NumberedList
    {
        QByteArray section;
        QByteArray countKey;
        int count = 0;
    };

    static QString sectionTag(const QByteArray& section)
    {
        return QLatin1Char('[') + shown(section) + QLatin1Char(']');
    }

    QString prefix(int line) const
    {
        return line ? m_fileName + QLatin1Char(':') + QString::number(line) + QLatin1Char(':')
                    : m_fileName + QLatin1Char(':');
    }

    void report(bool error, int line, const QString& where, const QString& what)
    {
        m_out.append({error, line,
                      prefix(line) + QLatin1Char(' ') + where + QLatin1Char(' ') +
                          (error ? QString() : QStringLiteral("warning: ")) + what});
    }

    void warn(int line, const QString& where, const QString& what)
    {
        report(false, line, where, what);
    }

    static QString suggestion(const QByteArray& name, const QList<QByteArray>& names)
    {
        const QByteArray best = closest(name, names);
        return best.isEmpty() ? QString() : QStringLiteral(" (did you mean %1?)").arg(shown(best));
    }

    void unknownKeys(const QByteArray& section, const QList<IniDocument::OutlineEntry>& lines)
    {
        const QSet<QByteArray>& known = m_knownKeys[section];
        const QString tag = sectionTag(m_sectionName.value(section));
        for (const IniDocument::OutlineEntry& e : lines) {
            const QString where = tag + QLatin1Char(' ') + shown(e.name) + QLatin1Char(':');
            if (!known.contains(IniDocument::foldName(e.name))) {
                QString hint = suggestion(e.name, m_keyNames.value(section));
                const QByteArray home = m_homeOf.value(IniDocument::foldName(e.name));
                if (hint.isEmpty() && !home.isEmpty())
                    hint = QStringLiteral(" (a key of %1)").arg(sectionTag(home));
                warn(e.line, where, QStringLiteral("unknown key") + hint);
            } else if (e.readLine != e.line) {
                warn(e.line, where,
                     QStringLiteral("repeated key, not read (line %1 is)").arg(e.readLine));
            }
        }
    }

    // Registers a listed section; its folded name.
    QByteArray known(const char* section)
    {
        const QByteArray s = IniDocument::foldName(section);
        if (!m_sectionName.contains(s)) {
            m_sectionName.insert(s, section);
            m_sectionNames.append(section);
            m_knownKeys.insert(s, {});
        }
        return s;
    }

    void judge(const char* section, const QByteArray& key, KeyKind kind, const KeyRule& rule)
    {
        const QByteArray s = known(section);
        const QByteArray k = IniDocument::foldName(key);
        m_knownKeys[s].insert(k);
        m_keyNames[s].append(key);
        if (!m_homeOf.contains(k))
            m_homeOf.insert(k, section);

        const int line = m_doc.keyLine(section, key);
        if (line == 0)
            return;
        const QString where =
            sectionTag(section) + QLatin1Char(' ') + shown(key) + QLatin1Char(':');
        if (s == m_list.section && trailingNumber(key) > m_list.count) {
            warn(
                line, where,
                QStringLiteral("not read, %1 is %2").arg(shown(m_list.countKey)).arg(m_list.count));
            return;
        }
        const auto value = m_doc.value(section, key);
        if (!value) {
            warn(line, where, QStringLiteral("no \"=\", not read"));
            return;
        }
        QByteArray text = value->left(IniValueMax);
        if (kind != KeyKind::Raw)
            text = TrimSpaces(text);
        if (text.isEmpty())
            return; // the default
        const QString wrong = what(kind, rule, text);
        if (!wrong.isEmpty())
            report(true, line, where, wrong);
        else if (const QString missing = missingPath(kind, rule, text); !missing.isEmpty())
            warn(line, where, missing);
    }

    // What is wrong with a value, empty when nothing is.
    static QString what(KeyKind kind, const KeyRule& rule, const QByteArray& text)
    {
        const QString value = QString::fromLatin1(quoted(text));
        if (kind == KeyKind::Bool)
            return text == "0" || text == "1" ? QString()
                                              : value + QStringLiteral(" is not 0 or 1");
        if (kind == KeyKind::CodeList)
            return codesWrong(text)
                       ? value + QStringLiteral(" is not a list of character codes 0..255")
                       : QString();
        const bool numeric = isNumeric(kind) || rule.accept == KeyRule::Accept::Range;
        if (rule.accept == KeyRule::Accept::OneOf && !numeric) {
            const QList<QByteArray> values = QByteArray(rule.values).split(',');
            if (values.contains(text))
                return {};
            const bool numbers = std::all_of(values.begin(), values.end(), [](const QByteArray& v) {
                return StrictNumber(v).has_value();
            });
            if (numbers && !StrictNumber(text))
                return value + QStringLiteral(" is not a number");
            return value + QStringLiteral(" is not one of ") +
                   QString::fromLatin1(QByteArray(rule.values).replace(",", ", "));
        }
        if (!numeric)
            return {};
        const auto number = StrictNumber(text);
        if (!number)
            return value + QStringLiteral(" is not a number");
        // Whole-number kinds judge the number they will hold.
        const double v =
            kind == KeyKind::Double || !isNumeric(kind) ? *number : std::nearbyint(*number);
        Range r = typeRange(kind);
        if (rule.accept == KeyRule::Accept::Range)
            r = {std::max(r.min, rule.min), std::min(r.max, rule.max)};
        if (v < r.min || v > r.max) {
            if (std::isinf(r.max))
                return value + QStringLiteral(" is below ") +
                       QString::fromLatin1(numberText(r.min));
            return value + QStringLiteral(" is outside ") +
                   QString::fromLatin1(numberText(r.min) + ".." + numberText(r.max));
        }
        if (rule.accept == KeyRule::Accept::OneOf) {
            for (const QByteArray& allowed : QByteArray(rule.values).split(',')) {
                if (StrictNumber(allowed) == v)
                    return {};
            }
            return value + QStringLiteral(" is not one of ") +
                   QString::fromLatin1(QByteArray(rule.values).replace(",", ", "));
        }
        return {};
    }

    static bool codesWrong(const QByteArray& text)
    {
        for (const QByteArray& piece : text.split(',')) {
            if (TrimSpaces(piece).isEmpty())
                continue;
            const auto code = StrictNumber(piece);
            if (!code || *code < 0 || *code > 255 || *code != std::floor(*code))
                return true;
        }
        return false;
    }

    static QString missingPath(KeyKind kind, const KeyRule& rule, const QByteArray& text)
    {
        const bool folder = kind == KeyKind::Folder || rule.accept == KeyRule::Accept::Folder;
        if (!folder && rule.accept != KeyRule::Accept::File)
            return {};
        const QString path = SettingPathText(fromAnsi(TrimSpaces(text)));
        const QFileInfo info(path);
        if (folder ? info.isDir() : info.isFile())
            return {};
        return (folder ? QStringLiteral("folder ") : QStringLiteral("file ")) +
               QString::fromLatin1(quoted(toAnsi(path))) + QStringLiteral(" does not exist");
    }

    QString m_fileName;
    const IniDocument& m_doc;
    QList<ConfigFinding>& m_out;
    QList<IniDocument::OutlineEntry> m_headers;
    QList<IniDocument::OutlineEntry> m_outside;
    QHash<QByteArray, QList<IniDocument::OutlineEntry>> m_lines; // folded section -> key lines read
    QHash<QByteArray, QSet<QByteArray>> m_knownKeys;             // folded section -> folded keys
    QHash<QByteArray, QList<QByteArray>> m_keyNames;             // folded section -> keys as listed
    QHash<QByteArray, QByteArray> m_sectionName;                 // folded -> as listed
    QHash<QByteArray, QByteArray> m_homeOf;                      // folded key -> its first section
    QList<QByteArray> m_sectionNames;
    QSet<QByteArray> m_freeSections;
    NumberedList m_list;
};

} // namespace

QList<ConfigFinding> CheckConfiguration(const QString& path, const Settings& loaded)
{
    QList<ConfigFinding> findings;
    const auto doc = ReadIniDocument(path);
    if (!doc) {
        findings.append({true, 0, QFileInfo(path).fileName() + QStringLiteral(": cannot be read")});
        return findings;
    }
    // A copy: the visit sizes numbered lists to what the file holds.
    Settings settings = loaded;
    CheckVisitor visitor(path, *doc, findings);
    VisitSettingsKeys(settings, visitor);
    visitor.finish();
    std::stable_sort(
        findings.begin(), findings.end(),
        [](const ConfigFinding& a, const ConfigFinding& b) { return a.line < b.line; });
    return findings;
}

} // namespace nodalis
