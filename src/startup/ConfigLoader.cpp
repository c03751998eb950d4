#include "startup/ConfigLoader.h"

#include "platform/AnsiText.h"
#include "platform/OperatorPrompt.h"
#include "platform/SystemPaths.h"
#include "startup/IniFile.h"
#include "startup/IniValue.h"
#include "startup/SettingsKeys.h"
#include "startup/clsIniVar.h"

#include <QDir>
#include <QFileInfo>

namespace nodalis {

namespace {

// Numbered lists (database fields, activities) are bounded so that a wild
// count in the file cannot exhaust memory.
constexpr qint32 kMaxListCount = 1000;

QString folderValue(const QByteArray& text)
{
    if (text.isEmpty())
        return {};
    QString folder = SettingPathText(fromAnsi(text));
    if (!folder.endsWith(QLatin1Char('/')) && !folder.endsWith(QLatin1Char('\\')))
        folder += QDir::separator();
    return QDir::toNativeSeparators(folder);
}

class LoadVisitor
{
public:
    LoadVisitor(const QString& path, ConfigLoadResult& result) : m_path(path), m_result(result) {}

    void operator()(const char* section, const QByteArray& key, KeyKind kind,
                    const QByteArray& defaultText, QByteArray& field, const KeyRule&)
    {
        const QByteArray text = read(section, key, kind, defaultText);
        if (kind == KeyKind::CodeList)
            field = decodeCodes(section, key, text);
        else
            field = text;
    }

    void operator()(const char* section, const QByteArray& key, KeyKind kind,
                    const QByteArray& defaultText, QString& field, const KeyRule&)
    {
        field = folderValue(read(section, key, kind, defaultText));
    }

    void operator()(const char* section, const QByteArray& key, KeyKind kind,
                    const QByteArray& defaultText, bool& field, const KeyRule&)
    {
        field = read(section, key, kind, defaultText) == "1";
    }

    void operator()(const char* section, const QByteArray& key, KeyKind kind,
                    const QByteArray& defaultText, double& field, const KeyRule&)
    {
        field = LeadingNumber(read(section, key, kind, defaultText));
    }

    void operator()(const char* section, const QByteArray& key, KeyKind kind,
                    const QByteArray& defaultText, qint16& field, const KeyRule&)
    {
        const QByteArray text = read(section, key, kind, defaultText);
        if (kind == KeyKind::Strict16) {
            // An absent value is simply 0; a value that is there must be a number.
            if (text.isEmpty())
                return;
            const auto number = StrictNumber(text);
            const auto value = number ? ToInt16(*number) : std::nullopt;
            if (!value)
                return problem(section, key, text, QStringLiteral("is not a whole number"));
            field = *value;
            return;
        }
        if (const auto value = ToInt16(LeadingNumber(text)))
            field = *value;
        else
            problem(section, key, text, QStringLiteral("is out of the range -32768..32767"));
    }

    void operator()(const char* section, const QByteArray& key, KeyKind kind,
                    const QByteArray& defaultText, qint32& field, const KeyRule&)
    {
        const QByteArray text = read(section, key, kind, defaultText);
        if (const auto value = ToInt32(LeadingNumber(text)))
            field = *value;
        else
            problem(section, key, text, QStringLiteral("is out of the 32-bit range"));
    }

    void operator()(const char* section, const QByteArray& key, KeyKind kind,
                    const QByteArray& defaultText, QList<QByteArray>& field, const KeyRule&)
    {
        field.clear();
        const QByteArray text = read(section, key, kind, defaultText);
        if (text.isEmpty())
            return;
        for (const QByteArray& piece : text.split(','))
            field.append(TrimSpaces(piece));
    }

    template <class T, class U> void derived(const char*, const char*, T& field, const U& value)
    {
        field = value;
    }

    void external(const char*, const char*, KeyKind, const char*, const KeyRule&) {}

    void channels(QList<QByteArray>& entries)
    {
        clsIniVar ini;
        entries = ini.ReadSectionInTab(QByteArrayLiteral("CANAUX"), m_path);
    }

    template <class T>
    void resize(const char* section, const char* key, QList<T>& list, qint32& count)
    {
        if (count > kMaxListCount) {
            problem(section, key, QByteArray::number(count),
                    QStringLiteral("is more than %1 entries; only %1 are read").arg(kMaxListCount));
            count = kMaxListCount;
        }
        list.resize(1 + qMax(0, count));
    }

private:
    QByteArray read(const char* section, const QByteArray& key, KeyKind kind,
                    const QByteArray& defaultText)
    {
        QByteArray text = FNReadIni(m_path, section, key, defaultText);
        if (kind != KeyKind::Raw)
            text = TrimSpaces(text);
        return text.isEmpty() ? defaultText : text;
    }

    QByteArray decodeCodes(const char* section, const QByteArray& key, const QByteArray& text)
    {
        QByteArray chars;
        if (text.isEmpty())
            return chars;
        for (const QByteArray& piece : text.split(',')) {
            if (TrimSpaces(piece).isEmpty())
                continue;
            const auto code = ToInt16(LeadingNumber(piece));
            if (!code || *code < 0 || *code > 255) {
                problem(section, key, text, QStringLiteral("holds a code outside 0..255"));
                return {};
            }
            chars.append(char(*code));
        }
        return chars;
    }

    void problem(const char* section, const QByteArray& key, const QByteArray& text,
                 const QString& why)
    {
        m_result.problems.append(
            QStringLiteral("%1.%2 \"%3\" %4")
                .arg(QLatin1String(section), fromAnsi(key), fromAnsi(text), why));
    }

    const QString& m_path;
    ConfigLoadResult& m_result;
};

} // namespace

ConfigLoadResult ReadConfiguration(const QString& path, Settings& settings)
{
    ConfigLoadResult result;
    if (!QFileInfo(path).isFile())
        return result;
    settings = Settings();
    LoadVisitor visitor(path, result);
    VisitSettingsKeys(settings, visitor);
    result.loaded = true;
    return result;
}

bool LoadConfiguration(const QString& path)
{
    const QString message = QStringLiteral("Problème durant l'ouverture du fichier Nodalis.ini");
    const ConfigLoadResult result = ReadConfiguration(path, Config());
    const QString title = QStringLiteral("Erreur ") + fromAnsi(Config().RefMO);
    if (!result.loaded) {
        Prompt().showMessage(title, message, OperatorPrompt::Icon::Critical);
        return false;
    }
    if (!result.problems.isEmpty()) {
        Prompt().showMessage(title,
                             message + QLatin1Char('\n') + result.problems.join(QLatin1Char('\n')),
                             OperatorPrompt::Icon::Critical);
    }
    return true;
}

} // namespace nodalis
