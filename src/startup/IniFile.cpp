#include "startup/IniFile.h"

#include "platform/FileSync.h"
#include "platform/OperatorPrompt.h"
#include "startup/IniDocument.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QSet>
#include <QTemporaryFile>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

namespace nodalis {

namespace {

// Parsed files, kept while their size and modification time are unchanged:
// the configuration loader reads a few hundred keys of the same file.
struct CachedIni
{
    qint64 size = -1;
    QDateTime modified;
    std::shared_ptr<const IniDocument> document;
};

QHash<QString, CachedIni>& cache()
{
    static QHash<QString, CachedIni> files;
    return files;
}

std::shared_ptr<const IniDocument> load(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile()) {
        cache().remove(path);
        return nullptr;
    }
    CachedIni& entry = cache()[path];
    if (entry.document && entry.size == info.size() && entry.modified == info.lastModified())
        return entry.document;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        cache().remove(path);
        return nullptr;
    }
    entry.document = std::make_shared<const IniDocument>(file.readAll());
    entry.size = info.size();
    entry.modified = info.lastModified();
    return entry.document;
}

void reportWriteFailure(const QString& path, const QString& why)
{
    cache().remove(path);
    // Start-up writes several keys in a row: one complaint per file and reason.
    static QSet<QString> reported;
    if (IsHeadless() && !reported.contains(path + why)) {
        reported.insert(path + why);
        std::fprintf(stderr, "nodalis: cannot write %s: %s\n", qPrintable(path), qPrintable(why));
        std::fflush(stderr);
    }
}

// Writes the text to a new file beside the old one and renames it over it,
// without waiting for the disk. False with the reason; an empty reason when
// no file can be made beside it.
bool replaceUnsynced(const QString& path, const QByteArray& text, QString* why)
{
    why->clear();
    // A link stays a link: its target is what gets replaced.
    const QFileInfo target(QFileInfo(path).canonicalFilePath());
    QTemporaryFile temp(target.filePath() + QStringLiteral(".XXXXXX"));
    if (!temp.open())
        return false;
    if (!temp.setPermissions(target.permissions()) || temp.write(text) != text.size() ||
        !temp.flush()) {
        *why = temp.errorString();
        return false;
    }
    // Some file systems only tell of a failed write when the file is closed.
    temp.close();
    if (temp.error() != QFileDevice::NoError) {
        *why = temp.errorString();
        return false;
    }
    std::error_code error;
    std::filesystem::rename(std::filesystem::path(temp.fileName().toStdU16String()),
                            std::filesystem::path(target.filePath().toStdU16String()), error);
    if (error) {
        *why = QString::fromLocal8Bit(error.message());
        return false;
    }
    temp.setAutoRemove(false);
    return true;
}

bool replaceSynced(const QString& path, const QByteArray& text, QString* why)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !CommitWhole(file)) {
        *why = file.errorString();
        return false;
    }
    return true;
}

} // namespace

QByteArray FNReadIni(const QString& path, const QByteArray& section, const QByteArray& key,
                     const QByteArray& defaultValue)
{
    QByteArray result = defaultValue;
    if (const auto doc = load(path)) {
        if (auto v = doc->value(section, key))
            result = std::move(*v);
    }
    result.truncate(IniValueMax);
    return result;
}

QByteArray ReadIniSection(const QString& path, const QByteArray& section)
{
    const auto doc = load(path);
    if (!doc)
        return {};
    QByteArray text = doc->sectionText(section);
    text.truncate(IniSectionMax);
    return text;
}

std::shared_ptr<const IniDocument> ReadIniDocument(const QString& path)
{
    return load(path);
}

bool WriteIni(const QString& path, const QByteArray& section, const QByteArray& key,
              const QByteArray& value, IniFlush flush)
{
    for (char c : section + key + value) {
        if (c == '\r' || c == '\n' || c == '\0') {
            reportWriteFailure(path, QStringLiteral("line break in a section, key or value"));
            return false;
        }
    }
    const auto doc = load(path);
    // A file that exists but cannot be read must not be replaced by one key.
    if (!doc && QFileInfo::exists(path)) {
        reportWriteFailure(path, QStringLiteral("the file cannot be read"));
        return false;
    }
    const QByteArray text = (doc ? *doc : IniDocument()).withValue(section, key, value);
    QString why;
    // A new file, or a folder where nothing can be made beside the file,
    // takes the synced write, which knows how to create one or write in place.
    bool written = flush == IniFlush::ToSystem && doc && replaceUnsynced(path, text, &why);
    if (!written && why.isEmpty())
        written = replaceSynced(path, text, &why);
    if (!written) {
        reportWriteFailure(path, why);
        return false;
    }
    cache().remove(path);
    return true;
}

} // namespace nodalis
