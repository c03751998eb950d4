#include "platform/ModemLines.h"

#include <QFile>

namespace nodalis {

bool FileModemLines::line(const char* name) const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return true;
    const QByteArray key = QByteArray(name) + '=';
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& l : lines) {
        const QByteArray t = l.trimmed();
        if (t.startsWith(key))
            return t.mid(key.size()).trimmed() != "0";
    }
    return true;
}

std::unique_ptr<ModemLineSource> DefaultModemLineSource()
{
    const QString path = qEnvironmentVariable("NODALIS_MODEM_LINES");
    if (!path.isEmpty())
        return std::make_unique<FileModemLines>(path);
    return std::make_unique<FixedModemLines>();
}

} // namespace nodalis
