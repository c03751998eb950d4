#include "protocols/RemoteTransport.h"

namespace nodalis {

qsizetype RemoteListing::countReal() const
{
    qsizetype n = 0;
    for (const RemoteEntry& e : entries)
        n += e.Nom != QLatin1String("..");
    return n;
}

bool RemoteListing::has(RemoteEntry::Kind kind, const QString& name) const
{
    for (const RemoteEntry& e : entries)
        if (e.TypeFD == kind && e.Nom.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

bool IsPlainRemoteName(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
        name.size() > 255)
        return false;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c == u'/' || c == u'\\' || c == u':')
            return false;
    }
    // No blanks alone, and none that a command line would cut.
    return !name.trimmed().isEmpty() && name.trimmed() == name;
}

} // namespace nodalis
