#include "ctl/ConfigKeys.h"

#include "platform/AnsiText.h"
#include "startup/SettingsKeys.h"

#include <QList>

namespace nodalis::ctl {

namespace {

struct KeyLine
{
    QString section;
    QString key;
    QString type;
    QString defaultText;
    QString accepts;
    QString meaning;
};

QString typeOf(KeyKind kind)
{
    switch (kind) {
    case KeyKind::Text:
        return QStringLiteral("text");
    case KeyKind::Raw:
        return QStringLiteral("text, blanks kept");
    case KeyKind::Folder:
        return QStringLiteral("folder");
    case KeyKind::Bool:
        return QStringLiteral("0 or 1");
    case KeyKind::Int16:
    case KeyKind::Long:
    case KeyKind::Strict16:
        return QStringLiteral("whole number");
    case KeyKind::Double:
        return QStringLiteral("number");
    case KeyKind::CodeList:
        return QStringLiteral("character codes");
    case KeyKind::CommaList:
        return QStringLiteral("list");
    }
    return {};
}

QString acceptsOf(const KeyRule& rule)
{
    switch (rule.accept) {
    case KeyRule::Accept::Range:
        return rule.max == keyrule::kNoLimit
                   ? QStringLiteral("%1 or more").arg(rule.min)
                   : QStringLiteral("%1 to %2").arg(rule.min).arg(rule.max);
    case KeyRule::Accept::OneOf:
        return QString::fromLatin1(rule.values).replace(QLatin1Char(','), QStringLiteral(", "));
    case KeyRule::Accept::Folder:
        return QStringLiteral("an existing folder");
    case KeyRule::Accept::File:
        return QStringLiteral("an existing file");
    case KeyRule::Accept::Any:
        break;
    }
    return {};
}

// Walks the key list once; numbered lists are shown with one entry, its
// number written n.
class KeyCollector
{
public:
    QList<KeyLine> lines;

    template <class T>
    void operator()(const char* section, const QByteArray& key, KeyKind kind,
                    const QByteArray& defaultText, const T&, const KeyRule& rule)
    {
        QString name = QString::fromLatin1(key);
        if (m_numbered == section && name.endsWith(QLatin1Char('1')))
            name = name.chopped(1) + QLatin1Char('n');
        add(section, name, kind, fromAnsi(defaultText), rule);
    }

    template <class T, class U> void derived(const char*, const char*, const T&, const U&) {}

    void channels(const QList<QByteArray>&)
    {
        lines.append({QStringLiteral("CANAUX"),
                      QStringLiteral("(any)"),
                      QStringLiteral("text"),
                      {},
                      {},
                      QStringLiteral("one channel per line: its file label")});
    }

    template <class T> void resize(const char* section, const char*, QList<T>& list, qint32&)
    {
        m_numbered = section;
        list.resize(2);
    }

    void external(const char* section, const char* key, KeyKind kind, const char* defaultText,
                  const KeyRule& rule)
    {
        add(section, QString::fromLatin1(key), kind, QString::fromLatin1(defaultText), rule);
    }

private:
    void add(const char* section, const QString& key, KeyKind kind, const QString& defaultText,
             const KeyRule& rule)
    {
        lines.append({QString::fromLatin1(section), key, typeOf(kind), defaultText, acceptsOf(rule),
                      QString::fromUtf8(rule.meaning)});
    }

    QByteArray m_numbered;
};

QString cell(const QString& text)
{
    return text.isEmpty() ? QString()
                          : QString(text).replace(QLatin1Char('|'), QStringLiteral("\\|"));
}

} // namespace

int PrintConfigKeys(QTextStream& out, bool markdown)
{
    Settings settings;
    KeyCollector keys;
    VisitSettingsKeys(settings, keys);
    if (!markdown) {
        for (const KeyLine& k : keys.lines) {
            out << '[' << k.section << "] " << k.key << " (" << k.type;
            if (!k.defaultText.isEmpty())
                out << ", default " << k.defaultText;
            if (!k.accepts.isEmpty())
                out << "; " << k.accepts;
            out << "): " << k.meaning << '\n';
        }
        return 0;
    }
    out << "# Nodalis.ini: every key\n\n"
           "Made by `nodalisctl config keys --markdown` from the key list the server loads by;\n"
           "`nodalis --check-config` reports values outside what a key accepts. A numbered key\n"
           "(`RefChampn`) stands for each of its entries, 1 to the count before it.\n";
    QString section;
    for (const KeyLine& k : keys.lines) {
        if (k.section != section) {
            section = k.section;
            out << "\n## [" << section << "]\n\n"
                << "| Key | Type | Default | Accepts | Meaning |\n|---|---|---|---|---|\n";
        }
        out << "| `" << k.key << "` | " << k.type << " | "
            << (k.defaultText.isEmpty() ? QString()
                                        : QLatin1Char('`') + k.defaultText + QLatin1Char('`'))
            << " | " << cell(k.accepts) << " | " << cell(k.meaning) << " |\n";
    }
    return 0;
}

} // namespace nodalis::ctl
