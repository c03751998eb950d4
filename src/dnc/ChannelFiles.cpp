#include "dnc/ChannelFiles.h"

#include "platform/AnsiText.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"
#include "store/TextUtils.h"

namespace nodalis {

namespace {

const char* const kFixedExtensions[] = {".m", ".s", ".t", ".q"};

} // namespace

int ChannelCount()
{
    return std::max(1, Config().NbCanaux);
}

QByteArray ChannelField(int channel, const QByteArray& label)
{
    const QList<QByteArray>& lines = Config().Canaux;
    QByteArray value;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray number = TrimSpaces(TextBetween(lines[i], "Canal:", "|"));
        if (!number.isEmpty() && LeadingNumber(number) == channel)
            value = TrimSpaces(TextBetween(lines[i], label, "|"));
    }
    return value;
}

QString ChannelLabel(const QString& text, int channel)
{
    return channel >= 2 ? text + QString::number(channel) : text;
}

QStringList ChannelFileNames(const QString& path, int channelCount, bool useChannelTable)
{
    if (channelCount <= 1)
        return {QString(), path};
    if (!useChannelTable && channelCount > int(std::size(kFixedExtensions)))
        return {};
    // Folder with its separator, base name and extension; a folder name may
    // hold a "." of its own.
    const QString name = FileNameOf(path);
    const QString folder = path.left(path.size() - name.size());
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString base = dot < 0 ? name : name.left(dot);
    QStringList names{QString()};
    for (int channel = 1; channel <= channelCount; ++channel) {
        if (useChannelTable)
            names.append(folder + fromAnsi(ChannelField(channel, "Pref:")) + base +
                         fromAnsi(ChannelField(channel, "Suff:")));
        else
            names.append(folder + base + QLatin1String(kFixedExtensions[channel - 1]));
    }
    return names;
}

QStringList ChannelTargetNames(int channelCount, bool useChannelTable)
{
    return ChannelFileNames(QString(), channelCount, useChannelTable);
}

} // namespace nodalis
