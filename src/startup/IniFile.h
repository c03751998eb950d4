#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace nodalis {

class IniDocument;

// Longest value a read returns, and longest section text (the sizes of the
// buffers the configuration has always been read into, less their ends).
inline constexpr qsizetype IniValueMax = 511;
inline constexpr qsizetype IniSectionMax = 32753;

// One value of an INI file, with the blanks around it (callers trim); the
// default when the file, the section or the key is missing.
QByteArray FNReadIni(const QString& path, const QByteArray& section, const QByteArray& key,
                     const QByteArray& defaultValue = {});

// Every key line of a section as "key=value", each followed by a NUL byte.
QByteArray ReadIniSection(const QString& path, const QByteArray& section);

// The parsed file the reads above look at (shared with them, so parsed
// once); nothing when the file is missing or cannot be read.
std::shared_ptr<const IniDocument> ReadIniDocument(const QString& path);

// How far a write goes before it returns. Either way a new file is renamed
// over the old one (where the folder allows it), so that a reader never
// meets half a file.
enum class IniFlush
{
    // On the disk: settings the operator or a command changes.
    ToDisk,
    // Handed to the system, which writes it out when it likes: the values
    // the server publishes about itself (PID, addresses, Socket), written
    // again at every start and every control connection. A power cut soon
    // after may lose the change.
    ToSystem,
};

// Sets key=value in the section, creating the file, the section and the key
// when missing and keeping every other byte of the file, in its encoding. A
// failure is not an error for the caller; headless runs get one line on stderr.
bool WriteIni(const QString& path, const QByteArray& section, const QByteArray& key,
              const QByteArray& value, IniFlush flush = IniFlush::ToDisk);

} // namespace nodalis
