#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace nodalis {

// A small INI accessor that remembers a file, a section, a key and a value,
// so that a caller sets its context once and then reads or writes with fewer
// arguments. Every empty argument is replaced by the property of the same name.
class clsIniVar
{
public:
    bool FNKeyExist(const QByteArray& key = {}, const QByteArray& section = {},
                    const QString& path = {}) const;
    QByteArray ReadDef(const QByteArray& defaultValue, const QByteArray& key = {},
                       const QByteArray& section = {}, const QString& path = {}) const;
    QByteArray ReadSection(const QByteArray& section = {}, const QString& path = {}) const;
    // Element 0 is always empty; elements 1..N are the section's lines that
    // are not empty and do not begin with an apostrophe, whole.
    QList<QByteArray> ReadSectionInTab(const QByteArray& section = {},
                                       const QString& path = {}) const;
    void Init(const QString& path, const QByteArray& section, const QByteArray& key,
              const QByteArray& value);

    QByteArray Key() const { return m_key; }
    void setKey(const QByteArray& key) { m_key = key; }
    QString Path() const { return m_path; }
    void setPath(const QString& path) { m_path = path; }

    QByteArray Read(const QByteArray& key = {}, const QByteArray& section = {},
                    const QString& path = {}) const;
    double ReadVal(const QByteArray& key = {}, const QByteArray& section = {},
                   const QString& path = {}) const;
    bool ReadBoolDef(bool defaultValue, const QByteArray& key = {}, const QByteArray& section = {},
                     const QString& path = {}) const;
    bool ReadBool(const QByteArray& key = {}, const QByteArray& section = {},
                  const QString& path = {}) const;

    QByteArray Section() const { return m_section; }
    void setSection(const QByteArray& section) { m_section = section; }
    QByteArray Value() const { return m_value; }
    void setValue(const QByteArray& value) { m_value = value; }

    void WriteBool(bool value, const QByteArray& key = {}, const QByteArray& section = {},
                   const QString& path = {}) const;
    void WriteVal(double value, const QByteArray& key = {}, const QByteArray& section = {},
                  const QString& path = {}) const;
    void WriteStr(const QByteArray& value = {}, const QByteArray& key = {},
                  const QByteArray& section = {}, const QString& path = {}) const;

private:
    const QByteArray& keyOr(const QByteArray& key) const { return key.isEmpty() ? m_key : key; }
    const QByteArray& sectionOr(const QByteArray& s) const { return s.isEmpty() ? m_section : s; }
    const QString& pathOr(const QString& path) const { return path.isEmpty() ? m_path : path; }

    QString m_path;
    QByteArray m_section;
    QByteArray m_key;
    QByteArray m_value;
};

} // namespace nodalis
