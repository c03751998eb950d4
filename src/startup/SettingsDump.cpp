#include "startup/SettingsDump.h"

#include "platform/AnsiText.h"
#include "startup/SettingsKeys.h"

namespace nodalis {

namespace {

class DumpVisitor
{
public:
    QByteArray out;

    template <class T>
    void operator()(const char* section, const QByteArray& key, KeyKind, const QByteArray&,
                    const T& field, const KeyRule&)
    {
        line(section, key, text(field));
    }

    template <class T, class U>
    void derived(const char* section, const char* key, const T& field, const U&)
    {
        line(section, key, text(field));
    }

    void channels(const QList<QByteArray>& entries)
    {
        for (int i = 1; i < entries.size(); ++i)
            line("CANAUX", QByteArray::number(i), entries[i]);
    }

    template <class T> void resize(const char*, const char*, QList<T>&, qint32&) {}

    void external(const char*, const char*, KeyKind, const char*, const KeyRule&) {}

private:
    static QByteArray text(const QByteArray& v) { return v; }
    static QByteArray text(const QString& v) { return toAnsi(v); }
    static QByteArray text(bool v) { return v ? "true" : "false"; }
    static QByteArray text(qint16 v) { return QByteArray::number(v); }
    static QByteArray text(qint32 v) { return QByteArray::number(v); }
    static QByteArray text(double v) { return QByteArray::number(v, 'g', 17 - 2); }
    static QByteArray text(const QList<QByteArray>& v) { return v.join(','); }

    void line(const char* section, const QByteArray& key, const QByteArray& value)
    {
        out += QByteArray(section) + '.' + key + "=\"" + CEscape(value) + "\"\n";
    }
};

} // namespace

QByteArray CEscape(const QByteArray& bytes)
{
    QByteArray out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        switch (c) {
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        default: {
            const auto u = static_cast<unsigned char>(c);
            if (u >= 32 && u <= 126)
                out += c;
            else
                out += "\\x" + QByteArray::number(u, 16).rightJustified(2, '0').toUpper();
        }
        }
    }
    return out;
}

QByteArray DumpSettings(Settings settings)
{
    DumpVisitor visitor;
    VisitSettingsKeys(settings, visitor);
    return visitor.out;
}

} // namespace nodalis
