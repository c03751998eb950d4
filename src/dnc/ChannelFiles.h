#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace nodalis {

// File names of machines with several machining channels, one program file
// per channel.

// The channel count of the configuration (NbCanaux), at least 1.
int ChannelCount();

// The value of a field ("Pref:", "Suff:") of the CANAUX line whose "Canal:"
// field is the channel; the last such line wins; empty when none is.
QByteArray ChannelField(int channel, const QByteArray& label);

// The text followed by the channel number from channel 2 on: the channel
// files of a transfer are Send/ToCN.txt, Send/ToCN.txt2, Send/ToCN.txt3...
QString ChannelLabel(const QString& text, int channel);

// The per-channel names of a program file, element i for channel i
// (element 0 empty, as in the other one-based lists of the settings). One
// channel (or none): the path itself. With the CANAUX table: folder +
// prefix + base name + suffix (the path's extension is dropped). Without:
// the extension becomes ".m", ".s", ".t", ".q" for channels 1 to 4; more
// than four channels have no such names and give an empty list.
QStringList ChannelFileNames(const QString& path, int channelCount, bool useChannelTable);

// The names by which remote channel files are recognised: ChannelFileNames
// of an empty path (prefix + suffix, or ".m", ".s"...; one empty name for a
// single channel).
QStringList ChannelTargetNames(int channelCount, bool useChannelTable);

} // namespace nodalis
