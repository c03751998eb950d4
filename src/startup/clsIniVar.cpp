#include "startup/clsIniVar.h"

#include "startup/IniFile.h"
#include "startup/IniValue.h"

#include <QLocale>

namespace nodalis {

bool clsIniVar::FNKeyExist(const QByteArray& key, const QByteArray& section,
                           const QString& path) const
{
    const QByteArray text = ReadSection(section, path);
    // A plain substring test on the raw section text: a longer key ending
    // with this one, or a value holding "key=", counts too.
    return !text.isEmpty() && text.contains(keyOr(key) + '=');
}

QByteArray clsIniVar::ReadDef(const QByteArray& defaultValue, const QByteArray& key,
                              const QByteArray& section, const QString& path) const
{
    const QByteArray v = Read(key, section, path);
    return v.isEmpty() ? defaultValue : v;
}

QByteArray clsIniVar::ReadSection(const QByteArray& section, const QString& path) const
{
    return ReadIniSection(pathOr(path), sectionOr(section));
}

QList<QByteArray> clsIniVar::ReadSectionInTab(const QByteArray& section, const QString& path) const
{
    QList<QByteArray> lines{QByteArray()};
    const QByteArray text = ReadSection(section, path);
    for (const QByteArray& piece : text.split('\0')) {
        if (!piece.isEmpty() && !piece.startsWith('\''))
            lines.append(piece);
    }
    return lines;
}

void clsIniVar::Init(const QString& path, const QByteArray& section, const QByteArray& key,
                     const QByteArray& value)
{
    m_path = path;
    m_section = section;
    m_key = key;
    m_value = value;
}

QByteArray clsIniVar::Read(const QByteArray& key, const QByteArray& section,
                           const QString& path) const
{
    return TrimSpaces(FNReadIni(pathOr(path), sectionOr(section), keyOr(key)));
}

double clsIniVar::ReadVal(const QByteArray& key, const QByteArray& section,
                          const QString& path) const
{
    return LeadingNumber(Read(key, section, path));
}

bool clsIniVar::ReadBoolDef(bool defaultValue, const QByteArray& key, const QByteArray& section,
                            const QString& path) const
{
    const QByteArray v = Read(key, section, path);
    return v.isEmpty() ? defaultValue : v == "1";
}

bool clsIniVar::ReadBool(const QByteArray& key, const QByteArray& section,
                         const QString& path) const
{
    return Read(key, section, path) == "1";
}

void clsIniVar::WriteBool(bool value, const QByteArray& key, const QByteArray& section,
                          const QString& path) const
{
    WriteStr(value ? QByteArrayLiteral("1") : QByteArrayLiteral("0"), key, section, path);
}

void clsIniVar::WriteVal(double value, const QByteArray& key, const QByteArray& section,
                         const QString& path) const
{
    // General number format of the user's locale: a decimal comma under a
    // French locale, which ReadVal then reads back as the integer part.
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    WriteStr(locale.toString(value, 'g', 15).toLocal8Bit(), key, section, path);
}

void clsIniVar::WriteStr(const QByteArray& value, const QByteArray& key, const QByteArray& section,
                         const QString& path) const
{
    WriteIni(pathOr(path), sectionOr(section), keyOr(key), value.isEmpty() ? m_value : value);
}

} // namespace nodalis
