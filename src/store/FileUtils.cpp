#include "store/FileUtils.h"

#include "platform/FileSync.h"
#include "platform/OperatorPrompt.h"
#include "platform/SystemPaths.h"
#include "startup/AppPaths.h"
#include "startup/IniValue.h"
#include "store/ByteRuns.h"
#include "store/TextUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>
#include <bit>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace nodalis {

namespace {

// Programs can weigh hundreds of megabytes: copies and filters go by
// chunks, small enough that a chunk and what a filter makes of it stay in
// the processor's cache.
constexpr qint64 kChunk = 256 * 1024;

bool isBlank(const QString& text)
{
    return text.trimmed().isEmpty();
}

// The path's folder with its separator ("C:\Prog\" for "C:\Prog\A.txt"),
// empty for a bare name.
QString folderPrefix(const QString& path)
{
    return path.left(path.size() - FileNameOf(path).size());
}

// Copies what is left of in to out: inside the system where it can, else
// chunk by chunk.
bool streamInto(QFile& in, QFileDevice& out)
{
    if (const SystemCopy copy = CopyInSystem(in, out); copy != SystemCopy::Unsupported)
        return copy == SystemCopy::Done;
    QByteArray buffer(kChunk, Qt::Uninitialized);
    for (;;) {
        const qint64 n = in.read(buffer.data(), kChunk);
        if (n < 0)
            return false;
        if (n == 0)
            return in.error() == QFileDevice::NoError;
        if (out.write(buffer.constData(), n) != n)
            return false;
    }
}

// The absolute path with links resolved as far as it exists, so that two names
// of one folder compare equal.
QString resolvedPath(const QString& path)
{
    QFileInfo info(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    QString rest;
    while (!info.exists()) {
        const QString parent = info.absolutePath();
        if (parent == info.absoluteFilePath())
            break;
        rest = u'/' + info.fileName() + rest;
        info = QFileInfo(parent);
    }
    return info.canonicalFilePath() + rest;
}

bool copyTree(const QString& from, const QString& to)
{
    if (!QDir().mkpath(to))
        return false;
    const QString target = WithTrailingBackslash(to);
    const QFileInfoList entries = QDir(from).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                           QDir::Hidden | QDir::System);
    bool ok = true;
    for (const QFileInfo& entry : entries) {
        if (entry.isDir()) {
            // A link to a folder could lead back into the tree.
            if (!entry.isSymLink())
                ok = copyTree(entry.filePath(), target + entry.fileName()) && ok;
        } else {
            ok = CopyFile(entry.filePath(), target + entry.fileName()) && ok;
        }
    }
    return ok;
}

bool findIn(const QString& folder, const QString& name, bool recurse, QString& foundPath)
{
    const QDir dir(folder);
    const QDir::SortFlags order = QDir::Name | QDir::IgnoreCase;
    const QStringList files = dir.entryList(QDir::Files | QDir::Hidden | QDir::System, order);
    for (const QString& file : files) {
        if (file.compare(name, Qt::CaseInsensitive) == 0) {
            foundPath = WithTrailingBackslash(folder) + file;
            return true;
        }
    }
    if (!recurse)
        return false;
    const QStringList subFolders =
        dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Hidden, order);
    for (const QString& sub : subFolders) {
        if (findIn(WithTrailingBackslash(folder) + sub, name, true, foundPath))
            return true;
    }
    return false;
}

// Whether the canonical path lies below the canonical folder.
bool isBelow(const QString& path, const QString& folder)
{
    if (path.isEmpty() || folder.isEmpty())
        return false;
    const QString prefix = folder.endsWith(u'/') ? folder : folder + u'/';
    return path.size() > prefix.size() && path.startsWith(prefix, FileNameCase());
}

QString executablePrefix()
{
    QString name;
    if (QCoreApplication::instance())
        name = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    // Without an application object there is no executable name to go by.
    return name.isEmpty() ? QStringLiteral("nod") : name.left(3);
}

// Copies the bytes before the next CR or LF (or the end) from p to o, eight
// at a time, and leaves p on that CR or LF. o must have room for eight bytes
// more than it is given. True when it copied any.
bool copyToLineEnd(const char*& p, const char* const end, char*& o)
{
    constexpr quint64 ones = 0x0101010101010101;
    constexpr quint64 low7 = 0x7f7f7f7f7f7f7f7f;
    const auto equal = [](quint64 t) { return ~(((t & low7) + low7) | t | low7); };
    const char* const from = p;
    while (end - p >= 8) {
        const quint64 word = qFromLittleEndian<quint64>(p);
        const quint64 found = equal(word ^ (ones * '\n')) | equal(word ^ (ones * '\r'));
        std::memcpy(o, p, 8);
        if (found != 0) {
            const int k = std::countr_zero(found) >> 3; // the first one, in memory order
            o += k;
            p += k;
            return p > from;
        }
        o += 8;
        p += 8;
    }
    while (p < end && *p != '\r' && *p != '\n')
        *o++ = *p++;
    return p > from;
}

// Writes what is left of in to out with every line ended by CR LF, from the
// start of a line. A line ends at CR or CR LF (a lone LF stays inside the
// line). Each LF inside a line becomes CR LF, and a line whose text ends with
// LF gets no second line end.
bool writeWithCrLf(QFile& in, QFile& out)
{
    bool afterCr = false;     // the last byte of the chunk before ended a line with CR
    bool lineStarted = false; // bytes since the last line end
    bool endsWithLf = false;  // the current line's last byte is LF
    QByteArray chunk(kChunk, Qt::Uninitialized);
    // Each byte may become CR LF; the expansion writes 16 bytes past its end.
    QByteArray converted(2 * kChunk + 32, Qt::Uninitialized);
    for (;;) {
        const qint64 n = in.read(chunk.data(), kChunk);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        const char* p = chunk.constData();
        const char* const end = p + n;
        char* o = converted.data();
        if (afterCr && *p == '\n')
            ++p;
        afterCr = false;
        // Texts written on Linux have no CR at all: each LF gets its CR.
        const bool withCr = std::memchr(p, '\r', size_t(end - p)) != nullptr;
        if (!withCr && p < end) {
            o = ExpandLineFeeds(p, end, o);
            lineStarted = true;
            endsWithLf = end[-1] == '\n';
            p = end;
        }
        while (p < end) {
            if (copyToLineEnd(p, end, o)) {
                lineStarted = true;
                endsWithLf = false;
            }
            if (p == end)
                break;
            if (*p == '\n') {
                *o++ = '\r';
                *o++ = '\n';
                lineStarted = true;
                endsWithLf = true;
                ++p;
                continue;
            }
            if (!endsWithLf) {
                *o++ = '\r';
                *o++ = '\n';
            }
            lineStarted = false;
            endsWithLf = false;
            if (p + 1 == end)
                afterCr = true; // an LF opening the next chunk belongs to this CR
            p += p + 1 < end && p[1] == '\n' ? 2 : 1;
        }
        const qint64 size = o - converted.constData();
        if (out.write(converted.constData(), size) != size)
            return false;
    }
    if (lineStarted && !endsWithLf && out.write(CrLf) != CrLf.size())
        return false;
    return in.error() == QFileDevice::NoError;
}

// Whether every byte pair of b[0..n] (n + 1 bytes) is right for CR LF line
// ends: a CR, and only a CR, before each LF. Written so that the compiler
// checks many pairs at once.
bool crLfPairsRight(const char* b, qsizetype n)
{
    unsigned char wrong = 0;
    for (qsizetype i = 0; i < n; ++i)
        wrong |= static_cast<unsigned char>((b[i] == '\r') != (b[i + 1] == '\n'));
    return wrong == 0;
}

constexpr qint64 kReadError = -2;

// Offset of the start of the first line whose end is not a plain CR LF (the
// first line to rewrite), -1 when every line ends right (an empty file too),
// kReadError when the file could not be read.
qint64 firstWrongLine(QFile& in)
{
    // buffer[0] is the last byte of the chunk before (none: a NUL), so that
    // pairs across chunks are checked too.
    QByteArray buffer(kChunk + 1, Qt::Uninitialized);
    char* const b = buffer.data();
    b[0] = 0;
    qint64 start = 0;  // offset of b[1]
    qint64 lineAt = 0; // start of the last line begun before this chunk
    for (;;) {
        const qint64 n = in.read(b + 1, kChunk);
        if (n < 0)
            return kReadError;
        if (n == 0)
            break;
        const bool right = crLfPairsRight(b, n);
        qsizetype last = n; // from where to look back for the last line end
        if (!right) {
            // The wrong byte: a CR without LF, or an LF without CR.
            qsizetype i = 0;
            while ((b[i] == '\r') == (b[i + 1] == '\n'))
                ++i;
            last = b[i] == '\r' ? i - 1 : i;
        }
        while (last >= 0 && b[last] != '\n')
            --last;
        if (last >= 0)
            lineAt = start + last;
        if (!right)
            return lineAt;
        b[0] = b[n];
        start += n;
    }
    if (in.error() != QFileDevice::NoError)
        return kReadError;
    // The last line lacks its CR LF (or ends with a CR alone).
    return start > 0 && b[0] != '\n' ? lineAt : -1;
}

// Copies the next count bytes of in to out.
bool copyBytes(QFile& in, QFile& out, qint64 count)
{
    QByteArray buffer(kChunk, Qt::Uninitialized);
    while (count > 0) {
        const qint64 n = in.read(buffer.data(), std::min(count, kChunk));
        if (n <= 0 || out.write(buffer.constData(), n) != n)
            return false;
        count -= n;
    }
    return true;
}

std::filesystem::path fsPath(const QString& path)
{
    return std::filesystem::path(path.toStdU16String());
}

// The file a name stands for: a link's target (as QSaveFile follows it).
QString linkTarget(const QString& path)
{
    QFileInfo info(path);
    int depth = 128;
    while (--depth && info.isSymLink())
        info.setFile(info.symLinkTarget());
    return depth > 0 ? info.filePath() : path;
}

// Opens a new file of a unique name beside path, for a copy that takes its
// place once complete.
bool openBeside(const QString& path, QFile& file)
{
    for (int tries = 0; tries < 100; ++tries) {
        file.setFileName(path + u'.' + QString::number(QRandomGenerator::global()->generate(), 36));
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return true;
        if (!QFileInfo::exists(file.fileName()))
            return false; // the folder refuses new files
    }
    return false;
}

} // namespace

bool OpenForRead(const QString& path, FileMode mode, QFile& file)
{
    if (file.isOpen())
        file.close();
    if (mode != FileMode::TextInput && mode != FileMode::RandomAccess &&
        mode != FileMode::ByteStream)
        return false;
    file.setFileName(path);
    return file.open(QIODevice::ReadOnly) && file.size() >= 1;
}

bool OpenForWrite(const QString& path, FileMode mode, QFile& file)
{
    if (file.isOpen())
        file.close();
    QIODevice::OpenMode flags;
    switch (mode) {
    case FileMode::Output:
        flags = QIODevice::WriteOnly | QIODevice::Truncate;
        break;
    case FileMode::Append:
        flags = QIODevice::WriteOnly | QIODevice::Append;
        break;
    case FileMode::RandomAccess:
    case FileMode::ByteStream:
        flags = QIODevice::ReadWrite; // written in place, nothing truncated
        break;
    default:
        return false;
    }
    const QString folder = folderPrefix(path);
    if (!folder.isEmpty())
        MakeFolders(folder);
    file.setFileName(path);
    return file.open(flags);
}

bool ReadWholeFile(const QString& path, QFile& file, QByteArray& text)
{
    const auto readAllOf = [&text](QFile& f) {
        if (!f.isReadable() || (!f.isSequential() && !f.seek(0)))
            return false;
        f.unsetError();
        text = f.readAll();
        return f.error() == QFileDevice::NoError;
    };
    if (file.isOpen() && readAllOf(file))
        return true;
    // The handle we were given could not be read: start again from the path.
    file.close();
    if (!path.isEmpty())
        file.setFileName(path);
    if (file.open(QIODevice::ReadOnly) && readAllOf(file))
        return true;
    Prompt().showMessage(QStringLiteral("Erreur"),
                         QStringLiteral("Erreur durant l'ouverture du programme."),
                         OperatorPrompt::Icon::Critical);
    return false;
}

bool ReadOrWriteFile(int direction, const QString& path, QByteArray& text)
{
    if (direction == ReadDirection) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        text = file.readAll();
        return file.error() == QFileDevice::NoError;
    }
    const QString folder = folderPrefix(path);
    if (!folder.isEmpty())
        MakeFolders(folder);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(text);
    file.write(CrLf);
    return CommitWhole(file);
}

bool FileExists(const QString& path)
{
    return !isBlank(path) && QFileInfo(path).isFile();
}

bool FolderExists(const QString& path)
{
    return !isBlank(path) && QFileInfo(path).isDir();
}

bool DeleteFile(const QString& path)
{
    if (isBlank(path))
        return false;
    const QFileInfo info(path);
    // A read-only file is deleted all the same; a link's target is left alone.
    if (info.isFile() && !info.isSymLink())
        QFile::setPermissions(path, info.permissions() | QFile::ReadOwner | QFile::WriteOwner |
                                        QFile::ReadUser | QFile::WriteUser);
    return QFile::remove(path);
}

bool CopyFile(const QString& source, const QString& destination)
{
    if (isBlank(source) || isBlank(destination))
        return false;
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QSaveFile out(destination);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    if (!streamInto(in, out)) {
        out.cancelWriting();
        return false;
    }
    return CommitWhole(out);
}

QString CopyToNewVersion(const QString& path)
{
    QFile in(path);
    if (isBlank(path) || !in.open(QIODevice::ReadOnly))
        return {};
    for (int tries = 0; tries < 100; ++tries) {
        const QString version = NextVersionName(path);
        QFile out(version);
        if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (QFileInfo::exists(version))
                continue; // another server took that name meanwhile
            return {};
        }
        const bool ok = streamInto(in, out) && SyncToDisk(out);
        out.close();
        if (ok && out.error() == QFileDevice::NoError)
            return version;
        out.remove();
        return {};
    }
    return {};
}

bool CopyScratchFile(const QString& source, const QString& destination)
{
    if (isBlank(source) || isBlank(destination))
        return false;
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    // As CopyFile: a write-protected destination or a folder is refused,
    // and the replaced file keeps its permissions.
    const QString target = linkTarget(destination);
    const QFileInfo existing(target);
    if (existing.exists() && (existing.isDir() || !existing.isWritable()))
        return false;
    QFile out;
    if (!openBeside(target, out))
        return false;
    bool ok = streamInto(in, out);
    out.close();
    ok = ok && out.error() == QFileDevice::NoError &&
         (!existing.exists() || out.setPermissions(existing.permissions()));
    std::error_code error;
    if (ok)
        std::filesystem::rename(fsPath(out.fileName()), fsPath(target), error);
    if (!ok || error) {
        out.remove();
        return false;
    }
    return true;
}

bool RenameOver(const QString& source, const QString& destination)
{
    if (isBlank(source) || isBlank(destination))
        return false;
    const QString target = linkTarget(destination);
    const QFileInfo existing(target);
    if (existing.isDir())
        return false;
    // A write-protected file is replaced by a plain one, as when it is
    // deleted and copied again.
    if (existing.exists() && existing.isWritable())
        QFile::setPermissions(source, existing.permissions());
    std::error_code error;
    std::filesystem::rename(fsPath(source), fsPath(target), error);
    return !error;
}

bool RenameFile(const QString& oldPath, const QString& newPath)
{
    return !isBlank(oldPath) && !isBlank(newPath) && QFile::rename(oldPath, newPath);
}

bool CopyFolder(const QString& source, const QString& destination)
{
    if (isBlank(source) || isBlank(destination) || !FolderExists(source))
        return false;
    const QString from = resolvedPath(source);
    const QString to = resolvedPath(destination);
    // A copy into the source itself would never end.
    const Qt::CaseSensitivity cs = FileNameCase();
    if (to.compare(from, cs) == 0 || to.startsWith(from + u'/', cs))
        return false;
    return copyTree(source, destination);
}

bool DeleteFolder(const QString& folder)
{
    QString path = folder.trimmed();
    while (path.size() > 1 && (path.endsWith(u'\\') || path.endsWith(u'/')))
        path.chop(1);
    // A blank name would mean the current folder, and a root the whole volume.
    if (path.isEmpty() || path.endsWith(u':') || QDir(path).isRoot() || !FolderExists(path))
        return false;
    return QDir(path).removeRecursively();
}

bool MakeFolders(const QString& folder)
{
    return !isBlank(folder) && QDir().mkpath(folder.trimmed());
}

QStringList ListSubFolders(const QString& folder)
{
    if (isBlank(folder))
        return {};
    return QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                                  QDir::Name | QDir::IgnoreCase);
}

bool FindFileInTree(const QString& folder, const QString& name, bool recurse, QString& foundPath)
{
    if (isBlank(folder) || isBlank(name) || !FolderExists(folder))
        return false;
    return findIn(folder, name.trimmed(), recurse, foundPath);
}

QString ConfinedPath(const QString& folder, const QString& name)
{
    // Without its folder a name would be looked up wherever we were started.
    const QString root = isBlank(folder) ? QString() : QFileInfo(folder).canonicalFilePath();
    if (root.isEmpty())
        return {};
    const QFileInfo file(QDir(root).filePath(name));
    // Empty for a missing file or a link to nothing.
    const QString canonical = file.canonicalFilePath();
    return file.isFile() && isBelow(canonical, root) ? canonical : QString();
}

bool IsInsideFolders(const QString& path, const QStringList& folders)
{
    const QString canonical = isBlank(path) ? QString() : QFileInfo(path).canonicalFilePath();
    return std::any_of(folders.cbegin(), folders.cend(), [&canonical](const QString& folder) {
        return !isBlank(folder) && isBelow(canonical, QFileInfo(folder).canonicalFilePath());
    });
}

QStringList ListFilesLike(const QString& path)
{
    const QString prefix = folderPrefix(path);
    const QString fileName = FileNameOf(path).trimmed();
    const QString base = BaseNameOf(path, false);
    if (base.isEmpty())
        return {};
    const QStringList names =
        QDir(prefix.isEmpty() ? QStringLiteral(".") : prefix)
            .entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name | QDir::IgnoreCase);
    QStringList like;
    for (const QString& name : names) {
        if (name.compare(fileName, Qt::CaseInsensitive) == 0)
            continue;
        if (name.compare(base, Qt::CaseInsensitive) == 0 ||
            name.startsWith(base + u'.', Qt::CaseInsensitive))
            like << prefix + name;
    }
    return like;
}

QString TempFolder()
{
    return WithTrailingBackslash(QDir::toNativeSeparators(QDir::tempPath()));
}

QString NewTempFile(const QString& extension)
{
    static quint32 next = QRandomGenerator::global()->bounded(1u, 0x10000u);
    const QString folder = TempFolder();
    const QString prefix = executablePrefix();
    QString made;
    for (int tries = 0; tries < 0xFFFF && made.isEmpty(); ++tries) {
        const QString candidate =
            folder + prefix + QString::number(next, 16).toUpper() + QStringLiteral(".TMP");
        next = next >= 0xFFFF ? 1 : next + 1;
        QFile file(candidate);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            made = candidate;
        else if (!QFileInfo::exists(candidate))
            return {}; // the folder refuses new files: no other number will do better
    }
    if (made.isEmpty() || extension.isEmpty())
        return made;
    QString name = FileNameOf(made).toUpper();
    name.chop(4); // ".TMP"
    return folderPrefix(made) + name + u'.' + extension;
}

QString NextVersionName(const QString& path)
{
    const QString prefix = folderPrefix(path);
    const QString name = FileNameOf(path);
    const qsizetype dot = name.indexOf(u'.');
    const QString base = dot < 0 ? name : name.left(dot);
    const QString ext = dot < 0 ? QString() : name.mid(dot + 1);
    const QString dotExt = u'.' + ext;

    double highest = 0;
    const QStringList names = QDir(prefix.isEmpty() ? QStringLiteral(".") : prefix)
                                  .entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& entry : names) {
        if (!entry.startsWith(base, Qt::CaseInsensitive))
            continue;
        // Without an extension, the versions are the names up to their first ".".
        qsizetype end =
            entry.indexOf(ext.isEmpty() ? QStringLiteral(".") : dotExt, 0, Qt::CaseInsensitive);
        if (end < 0 && !ext.isEmpty())
            continue;
        if (end < 0)
            end = entry.size();
        const QString number = entry.left(end).mid(base.size() + 1);
        highest = std::max(highest, LeadingNumber(number.toLatin1()));
    }
    QString next = prefix + base + u'_' + QString::fromLatin1(FormatValue(highest + 1));
    if (!ext.isEmpty())
        next += dotExt;
    return next;
}

bool NormaliseLineEnds(const QString& path)
{
    QFile in(path);
    if (isBlank(path) || !in.open(QIODevice::ReadOnly))
        return false;
    // Most texts have their line ends right already: those are only read.
    const qint64 wrong = firstWrongLine(in);
    if (wrong == kReadError)
        return false;
    if (wrong < 0)
        return true;
    const QString work = Paths().tempFolder.isEmpty() ? TempFolder() : Paths().tempFolder;
    MakeFolders(work);
    const QString copyPath = WithTrailingBackslash(work) + QStringLiteral("TT_FiltreCRLF.txt");
    QFile copy(copyPath);
    if (!copy.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    // The lines before the first wrong one are right: copied as they are.
    bool written = in.seek(0) && copyBytes(in, copy, wrong) && writeWithCrLf(in, copy);
    in.close();
    copy.close();
    written = written && copy.error() == QFileDevice::NoError;
    const bool replaced =
        written && (RenameOver(copyPath, path) || CopyScratchFile(copyPath, path));
    QFile::remove(copyPath); // left only when it was copied
    return replaced;
}

QStringList ChooseFiles(const QString& title, const QString& filter, quint32 flags,
                        const QString& startFolder)
{
    return Prompt().chooseFiles(title, filter, startFolder, (flags & ChooseSeveral) != 0);
}

QString ChooseFile(const QString& title, const QString& filter, quint32 flags,
                   const QString& startFolder)
{
    return ChooseFiles(title, filter, flags, startFolder).value(0);
}

bool ConcatFilesByBatch(const QStringList& paths, const QString& destination)
{
    QStringList sources;
    for (const QString& path : paths) {
        if (!isBlank(path))
            sources << path;
    }
    if (sources.isEmpty() || isBlank(destination))
        return false;
    // The result goes to a temporary file first, so a destination that is also
    // a source is still read whole, and a failure leaves it untouched.
    QSaveFile out(destination);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    for (const QString& source : sources) {
        QFile in(source);
        if (!in.open(QIODevice::ReadOnly) || !streamInto(in, out)) {
            out.cancelWriting();
            return false;
        }
    }
    return CommitWhole(out);
}

} // namespace nodalis
