#include "SimulatedCnc.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSettings>
#include <QStringList>
#include <QTemporaryFile>

#include <algorithm>
#include <cstring>
#include <utility>

namespace nodalis {

using namespace focas;

namespace {

constexpr unsigned short TheHandle = 1;
constexpr qint64 MaxProgram = 64 * 1024 * 1024; // the memory holds no more
constexpr int CommentLength = 50;
constexpr long MaxNumber = 99999999;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

QByteArray cString(const QByteArray& raw)
{
    const qsizetype nul = raw.indexOf('\0');
    return nul < 0 ? raw : raw.left(nul);
}

// No way out of the memory folder and nothing a file system trips on.
bool cleanText(const QByteArray& s)
{
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == '\\' || c == ':')
            return false;
    }
    return !s.contains("..");
}

// A control path from the caller, under //CNC_MEM/; null when refused.
QString controlPath(const QByteArray& raw)
{
    const QByteArray s = cString(raw);
    if (s.size() >= PathField || !s.startsWith("//CNC_MEM/") || !cleanText(s) ||
        s.indexOf("//", 2) >= 0)
        return {};
    return QString::fromLatin1(s);
}

// A name within a folder; null when refused.
QString bareName(const QByteArray& raw)
{
    const QByteArray s = cString(raw);
    if (s.isEmpty() || s.size() >= NameField || s.contains('/') || s == "." || !cleanText(s))
        return {};
    return QString::fromLatin1(s);
}

// Splits a control path into its folder (ending with '/') and its last
// name; false when that would leave //CNC_MEM/.
bool splitPath(const QString& path, QString* parent, QString* name)
{
    const QString target = path.endsWith(u'/') ? path.chopped(1) : path;
    const qsizetype cut = target.lastIndexOf(u'/');
    *parent = target.left(cut + 1);
    *name = target.mid(cut + 1);
    return parent->startsWith(QStringLiteral("//CNC_MEM/")) && !name->isEmpty();
}

// The number of a program file name O<digits>, or -1.
long programNumber(const QString& name)
{
    if (name.size() < 2 || name.size() > 9 || name[0] != u'O')
        return -1;
    long n = 0;
    for (qsizetype i = 1; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        n = n * 10 + (c - u'0');
    }
    return n > 0 ? n : -1;
}

// The program's O line, after a leading '%' line and blank lines: gives the
// digits after the 'O' and the comment, the text between the first '(' and
// ')'. False when the first line is no O line.
bool oLine(const QByteArray& text, QByteArray* digits, QByteArray* comment)
{
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype end = pos;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r')
            ++end;
        const QByteArray line = text.mid(pos, end - pos).trimmed();
        pos = end + 1;
        if (line.isEmpty() || line.startsWith('%'))
            continue;
        qsizetype i = 1;
        while (i < line.size() && isDigit(line[i]))
            ++i;
        if (!line.startsWith('O') || i == 1 || i > 9 || line.mid(1, i - 1).toLong() == 0)
            return false;
        *digits = line.mid(1, i - 1);
        const qsizetype open = line.indexOf('(');
        const qsizetype close = open < 0 ? -1 : line.indexOf(')', open + 1);
        *comment = open < 0
                       ? QByteArray()
                       : line.mid(open + 1, close < 0 ? -1 : close - open - 1).left(CommentLength);
        return true;
    }
    return false;
}

QByteArray fileComment(const QString& path)
{
    QFile file(path);
    QByteArray digits, comment;
    if (file.open(QIODevice::ReadOnly))
        oLine(file.read(4096), &digits, &comment);
    return comment;
}

// The program files of a local folder, by number then name.
QList<std::pair<long, QString>> programs(const QString& dir)
{
    QList<std::pair<long, QString>> list;
    for (const QString& name : QDir(dir).entryList(QDir::Files, QDir::NoSort)) {
        const long n = programNumber(name);
        if (n > 0)
            list.append({n, name});
    }
    std::sort(list.begin(), list.end());
    return list;
}

QString findProgram(const QString& dir, long number)
{
    for (const auto& [n, name] : programs(dir))
        if (n == number)
            return dir + u'/' + name;
    return {};
}

// Sub-folders by name, then files by name.
QStringList folderEntries(const QString& dir, qsizetype* folders)
{
    const QDir d(dir);
    QStringList dirs = d.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort);
    QStringList files = d.entryList(QDir::Files, QDir::NoSort);
    std::sort(dirs.begin(), dirs.end());
    std::sort(files.begin(), files.end());
    *folders = dirs.size();
    return dirs + files;
}

// Stores a downloaded program as O<number> in a local folder, replacing any
// program of that number there.
short writeProgram(const QString& dir, const QByteArray& text)
{
    QByteArray digits, comment;
    if (!oLine(text, &digits, &comment) || !QFileInfo(dir).isDir())
        return EW_DATA;
    const QString name = QStringLiteral("O") + QString::fromLatin1(digits);
    const long number = digits.toLong();
    for (const auto& [n, other] : programs(dir))
        if (n == number && other != name)
            QFile::remove(dir + u'/' + other);
    QFile file(dir + u'/' + name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
        return EW_DATA;
    return EW_OK;
}

} // namespace

SimulatedCnc::SimulatedCnc(const QString& folder) : m_folder(folder) {}

void SimulatedCnc::readControl()
{
    // QSettings keeps files it parsed and trusts size and time to tell a
    // change; a test rewriting control.ini within one clock tick would go
    // unseen. A fresh copy under a new name is always parsed.
    QFile source(m_folder + QStringLiteral("/control.ini"));
    QTemporaryFile copy;
    if (source.open(QIODevice::ReadOnly) && copy.open())
        copy.write(source.read(64 * 1024));
    copy.close();
    QSettings ini(copy.fileName(), QSettings::IniFormat);
    ini.beginGroup(QStringLiteral("control"));
    const auto number = [&ini](const char* key, qint64 fallback) {
        bool ok = false;
        const qint64 value = ini.value(QLatin1String(key)).toLongLong(&ok);
        return ok ? value : fallback;
    };

    QByteArray type =
        ini.value(QStringLiteral("CncType"), QStringLiteral("31")).toString().trimmed().toLatin1();
    if (type.isEmpty())
        type = "31";
    int typeNumber = 0;
    qsizetype i = 0;
    for (; i < type.size() && i < 4 && isDigit(type[i]); ++i)
        typeNumber = typeNumber * 10 + (type[i] - '0');
    if (i == 0)
        typeNumber = 31;
    if (type.size() == 1)
        type.prepend(' ');
    m_cncType[0] = type[0];
    m_cncType[1] = type[1];

    const QString mode = ini.value(QStringLiteral("Mode")).toString().trimmed().toLower();
    m_folderMode = mode == QStringLiteral("folder")   ? true
                   : mode == QStringLiteral("number") ? false
                                                      : typeNumber == 0 || typeNumber >= 30;
    m_refuseConnect = number("RefuseConnect", 0) != 0;
    m_busy = static_cast<int>(std::clamp<qint64>(number("Busy10", 0), -1, 1000000));
    m_dropAfter = std::max<qint64>(number("DropAfterBytes", -1), -1);
    m_bytesPerCall = number("BytesPerCall", 1460);
    if (m_bytesPerCall <= 0)
        m_bytesPerCall = 1460;
    m_memoryFull = number("MemoryFull", 0) != 0;
    m_reset = number("Reset", 0) != 0;
}

short SimulatedCnc::check(unsigned short handle) const
{
    if (!m_connected || handle != TheHandle)
        return EW_HANDLE;
    return m_dropped ? EW_SOCKET : EW_OK;
}

short SimulatedCnc::checkFolderCall(unsigned short handle) const
{
    const short rc = check(handle);
    if (rc != EW_OK)
        return rc;
    return m_folderMode ? EW_OK : EW_FUNC;
}

QString SimulatedCnc::local(const QString& controlPath) const
{
    return m_folder + u'/' + controlPath.mid(2);
}

QString SimulatedCnc::programFolder() const
{
    return m_folderMode ? local(m_currentDir).chopped(1) : m_folder;
}

short SimulatedCnc::cnc_allclibhndl3(const QByteArray&, unsigned short, long,
                                     unsigned short* handle)
{
    if (handle)
        *handle = 0;
    readControl();
    m_connected = false;
    m_dropped = false;
    m_transfer = Transfer::None;
    m_text.clear();
    if (m_refuseConnect || !handle)
        return m_refuseConnect ? EW_SOCKET : EW_ATTRIB;
    if (m_currentDir.isEmpty() || !QFileInfo(local(m_currentDir)).isDir()) {
        const QString path1 = QStringLiteral("//CNC_MEM/USER/PATH1/");
        m_currentDir = QFileInfo(local(path1)).isDir() ? path1 : QStringLiteral("//CNC_MEM/USER/");
    }
    m_connected = true;
    *handle = TheHandle;
    return EW_OK;
}

short SimulatedCnc::cnc_freelibhndl(unsigned short handle)
{
    if (!m_connected || handle != TheHandle)
        return EW_HANDLE;
    m_connected = false;
    m_transfer = Transfer::None;
    m_text.clear();
    return EW_OK;
}

short SimulatedCnc::cnc_sysinfo(unsigned short handle, ODBSYS* info)
{
    const short rc = check(handle);
    if (rc != EW_OK)
        return rc;
    if (!info)
        return EW_ATTRIB;
    std::memset(info, 0, sizeof *info);
    info->max_axis = 8;
    std::memcpy(info->cnc_type, m_cncType, 2);
    std::memcpy(info->mt_type, " M", 2);
    std::memcpy(info->series, "SIM1", 4);
    std::memcpy(info->version, "01.0", 4);
    std::memcpy(info->axes, " 3", 2);
    return EW_OK;
}

short SimulatedCnc::cnc_rdprogdir2(unsigned short handle, short, short* top, short* count,
                                   PRGDIR2* entries)
{
    const short rc = check(handle);
    if (rc != EW_OK)
        return rc;
    if (!top || !count || !entries)
        return EW_ATTRIB;
    const QString dir = programFolder();
    // A listing starts at 0 and asks for one program after the other: the
    // folder is read once for it, not once a program.
    if (*top <= 0 || m_listingDir != dir) {
        m_listing = programs(dir);
        m_listingDir = dir;
    }
    for (const auto& [n, name] : std::as_const(m_listing)) {
        if (n < *top || n > 32767)
            continue;
        const QString path = dir + u'/' + name;
        std::memset(entries, 0, sizeof *entries);
        entries->number = static_cast<short>(n);
        entries->length = static_cast<long>(QFileInfo(path).size());
        qstrncpy(entries->comment, fileComment(path).constData(), sizeof entries->comment);
        *top = static_cast<short>(n);
        *count = 1;
        return EW_OK;
    }
    *count = 0;
    return EW_NUMBER;
}

short SimulatedCnc::dataGate()
{
    if (m_busy != 0) {
        if (m_busy > 0)
            --m_busy;
        return EW_BUSY;
    }
    if (m_dropAfter >= 0 && m_moved >= m_dropAfter) {
        m_dropped = true;
        return EW_SOCKET;
    }
    return EW_OK;
}

short SimulatedCnc::upstart(const QString& file)
{
    m_transfer = Transfer::Missing;
    m_text.clear();
    m_sent = 0;
    m_moved = 0;
    QFile source(file);
    if (file.isEmpty() || !QFileInfo(file).isFile() || !source.open(QIODevice::ReadOnly))
        return EW_NUMBER;
    if (source.size() > MaxProgram)
        return EW_LENGTH;
    QByteArray content = source.readAll();
    if (content.startsWith('%')) {
        m_text = std::move(content);
    } else {
        m_text.reserve(content.size() + 3);
        m_text.append("%\n").append(content).append('%');
    }
    m_transfer = Transfer::Upload;
    return EW_OK;
}

short SimulatedCnc::upload(unsigned short handle, long* length, char* data)
{
    short rc = check(handle);
    if (rc != EW_OK)
        return rc;
    if (!length || !data)
        return EW_ATTRIB;
    const long wanted = *length;
    *length = 0;
    if (m_transfer != Transfer::Upload && m_transfer != Transfer::Missing)
        return EW_FUNC;
    if ((rc = dataGate()) != EW_OK)
        return rc;
    if (m_reset)
        return EW_RESET;
    const qint64 left = m_text.size() - m_sent;
    if (m_transfer == Transfer::Missing || left <= 0)
        return EW_DATA;
    if (wanted < 0)
        return EW_LENGTH;
    qint64 n = std::min<qint64>(wanted, left);
    if (m_dropAfter >= 0)
        n = std::min(n, m_dropAfter - m_moved);
    std::memcpy(data, m_text.constData() + m_sent, static_cast<size_t>(n));
    m_sent += n;
    m_moved += n;
    *length = static_cast<long>(n);
    if (m_dropAfter >= 0 && m_moved >= m_dropAfter)
        m_dropped = true;
    return EW_OK;
}

short SimulatedCnc::upend(unsigned short handle)
{
    const short rc = check(handle);
    if (rc != EW_OK)
        return rc;
    if (m_transfer != Transfer::Upload && m_transfer != Transfer::Missing)
        return EW_FUNC;
    const bool open = m_transfer == Transfer::Upload;
    m_transfer = Transfer::None;
    m_text.clear();
    return open ? EW_OK : EW_FUNC;
}

short SimulatedCnc::cnc_upstart3(unsigned short handle, short, long start, long)
{
    const short rc = check(handle);
    if (rc != EW_OK)
        return rc;
    return upstart(start > 0 ? findProgram(programFolder(), start) : QString());
}

short SimulatedCnc::cnc_upload3(unsigned short handle, long* length, char* data)
{
    return upload(handle, length, data);
}

short SimulatedCnc::cnc_upend3(unsigned short handle)
{
    return upend(handle);
}

short SimulatedCnc::cnc_upstart4(unsigned short handle, short, const QByteArray& name)
{
    const short rc = checkFolderCall(handle);
    if (rc != EW_OK)
        return rc;
    const QByteArray given = cString(name);
    QString path;
    if (given.startsWith("//")) {
        path = controlPath(given);
    } else {
        const QString bare = bareName(given);
        if (!bare.isNull())
            path = m_currentDir + bare;
    }
    if (path.isNull() || path.endsWith(u'/')) {
        upstart(QString());
        return EW_DATA;
    }
    return upstart(local(path));
}

short SimulatedCnc::cnc_upload4(unsigned short handle, long* length, char* data)
{
    return upload(handle, length, data);
}

short SimulatedCnc::cnc_upend4(unsigned short handle)
{
    return upend(handle);
}

short SimulatedCnc::download(unsigned short handle, long* length, const char* data)
{
    short rc = check(handle);
    if (rc != EW_OK)
        return rc;
    if (!length || !data)
        return EW_ATTRIB;
    const long offered = *length;
    *length = 0;
    if (m_transfer != Transfer::Download)
        return EW_FUNC;
    if ((rc = dataGate()) != EW_OK)
        return rc;
    if (m_memoryFull)
        return EW_OVRFLOW;
    if (offered < 0)
        return EW_LENGTH;
    qint64 n = std::min<qint64>(offered, m_bytesPerCall);
    if (m_dropAfter >= 0)
        n = std::min(n, m_dropAfter - m_moved);
    if (m_text.size() + n > MaxProgram)
        return EW_OVRFLOW;
    m_text.append(data, static_cast<qsizetype>(n));
    m_moved += n;
    *length = static_cast<long>(n);
    if (m_dropAfter >= 0 && m_moved >= m_dropAfter)
        m_dropped = true;
    return EW_OK;
}

short SimulatedCnc::dwnend(unsigned short handle)
{
    const short rc = check(handle);
    if (rc != EW_OK)
        return rc;
    if (m_transfer != Transfer::Download)
        return EW_FUNC;
    m_transfer = Transfer::None;
    const QByteArray text = std::exchange(m_text, QByteArray());
    if (m_memoryFull)
        return EW_OVRFLOW;
    return writeProgram(m_targetDir, text);
}

short SimulatedCnc::cnc_dwnstart3(unsigned short handle, short)
{
    const short rc = check(handle);
    if (rc != EW_OK)
        return rc;
    m_transfer = Transfer::Download;
    m_text.clear();
    m_moved = 0;
    m_targetDir = programFolder();
    return EW_OK;
}

short SimulatedCnc::cnc_download3(unsigned short handle, long* length, const char* data)
{
    return download(handle, length, data);
}

short SimulatedCnc::cnc_dwnend3(unsigned short handle)
{
    return dwnend(handle);
}

short SimulatedCnc::cnc_dwnstart4(unsigned short handle, short, const QByteArray& folder)
{
    const short rc = checkFolderCall(handle);
    if (rc != EW_OK)
        return rc;
    QString path = cString(folder).isEmpty() ? m_currentDir : controlPath(folder);
    if (path.isNull())
        return EW_DATA;
    if (!path.endsWith(u'/'))
        path += u'/';
    if (!QFileInfo(local(path)).isDir())
        return EW_DATA;
    m_transfer = Transfer::Download;
    m_text.clear();
    m_moved = 0;
    m_targetDir = local(path).chopped(1);
    return EW_OK;
}

short SimulatedCnc::cnc_download4(unsigned short handle, long* length, const char* data)
{
    return download(handle, length, data);
}

short SimulatedCnc::cnc_dwnend4(unsigned short handle)
{
    return dwnend(handle);
}

short SimulatedCnc::cnc_delete(unsigned short handle, short number)
{
    const short rc = check(handle);
    if (rc != EW_OK)
        return rc;
    const QString dir = programFolder();
    bool removed = false;
    for (const auto& [n, name] : programs(dir))
        if (n == number)
            removed = QFile::remove(dir + u'/' + name) || removed;
    return removed ? EW_OK : EW_NUMBER;
}

short SimulatedCnc::cnc_renameprog(unsigned short handle, long oldNumber, long newNumber)
{
    const short rc = check(handle);
    if (rc != EW_OK)
        return rc;
    const QString dir = programFolder();
    const QString from = oldNumber > 0 ? findProgram(dir, oldNumber) : QString();
    if (from.isEmpty() || newNumber <= 0 || newNumber > MaxNumber)
        return EW_NUMBER;
    if (!findProgram(dir, newNumber).isEmpty())
        return EW_DATA;
    const QString to = dir + u'/' + QString::asprintf("O%04ld", newNumber);
    return QFile::rename(from, to) ? EW_OK : EW_DATA;
}

short SimulatedCnc::cnc_rdpdf_curdir(unsigned short handle, short, char* dir)
{
    const short rc = checkFolderCall(handle);
    if (rc != EW_OK)
        return rc;
    if (!dir)
        return EW_ATTRIB;
    qstrncpy(dir, m_currentDir.toLatin1().constData(), PathField);
    return EW_OK;
}

short SimulatedCnc::cnc_wrpdf_curdir(unsigned short handle, short, const QByteArray& dir)
{
    const short rc = checkFolderCall(handle);
    if (rc != EW_OK)
        return rc;
    const QString path = controlPath(dir);
    if (path.isNull() || !path.endsWith(u'/') || !QFileInfo(local(path)).isDir())
        return EW_DATA;
    m_currentDir = path;
    return EW_OK;
}

short SimulatedCnc::cnc_rdpdf_subdirn(unsigned short handle, const QByteArray& path,
                                      ODBPDFNFIL* counts)
{
    const short rc = checkFolderCall(handle);
    if (rc != EW_OK)
        return rc;
    if (!counts)
        return EW_ATTRIB;
    QString dir = controlPath(path);
    if (dir.isNull() || !QFileInfo(local(dir)).isDir())
        return EW_DATA;
    qsizetype folders = 0;
    const qsizetype all = folderEntries(local(dir), &folders).size();
    counts->dir_num = static_cast<short>(std::min<qsizetype>(folders, 32767));
    counts->file_num = static_cast<short>(std::min<qsizetype>(all - folders, 32767));
    return EW_OK;
}

short SimulatedCnc::cnc_rdpdf_alldir(unsigned short handle, short* count, const IDBPDFADIR* request,
                                     ODBPDFADIR* entry)
{
    const short rc = checkFolderCall(handle);
    if (rc != EW_OK)
        return rc;
    if (!count || !request || !entry)
        return EW_ATTRIB;
    *count = 0;
    QString dir = controlPath(QByteArray(request->path, qstrnlen(request->path, PathField)));
    if (dir.isNull())
        return EW_DATA;
    if (!dir.endsWith(u'/'))
        dir += u'/';
    if (!QFileInfo(local(dir)).isDir())
        return EW_DATA;
    qsizetype folders = 0;
    const QStringList names = folderEntries(local(dir), &folders);
    const qsizetype index = request->req_num;
    if (index < 0 || index >= names.size())
        return EW_NUMBER;
    const QFileInfo info(local(dir) + names[index]);
    const QDateTime time = info.lastModified();
    std::memset(entry, 0, sizeof *entry);
    entry->data_kind = index < folders ? 0 : 1;
    entry->year = static_cast<short>(time.date().year());
    entry->mon = static_cast<short>(time.date().month());
    entry->day = static_cast<short>(time.date().day());
    entry->hour = static_cast<short>(time.time().hour());
    entry->min = static_cast<short>(time.time().minute());
    entry->sec = static_cast<short>(time.time().second());
    if (index >= folders) {
        entry->size = static_cast<long>(info.size());
        qstrncpy(entry->comment, fileComment(info.filePath()).constData(), sizeof entry->comment);
    }
    qstrncpy(entry->d_f, names[index].toLatin1().left(NameField - 1).constData(), NameField);
    *count = 1;
    return EW_OK;
}

short SimulatedCnc::cnc_pdf_add(unsigned short handle, const QByteArray& path)
{
    const short rc = checkFolderCall(handle);
    if (rc != EW_OK)
        return rc;
    if (m_memoryFull)
        return EW_OVRFLOW;
    const QString target = controlPath(path);
    QString parent, name;
    if (target.isNull() || !splitPath(target, &parent, &name) ||
        bareName(name.toLatin1()).isNull() || !QFileInfo(local(parent)).isDir() ||
        QFileInfo::exists(local(parent + name)))
        return EW_DATA;
    if (target.endsWith(u'/'))
        return QDir().mkdir(local(parent + name)) ? EW_OK : EW_DATA;
    QFile file(local(parent + name));
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly) ? EW_OK : EW_DATA;
}

short SimulatedCnc::cnc_pdf_del(unsigned short handle, const QByteArray& path)
{
    const short rc = checkFolderCall(handle);
    if (rc != EW_OK)
        return rc;
    const QString target = controlPath(path);
    QString parent, name;
    if (target.isNull() || !splitPath(target, &parent, &name))
        return EW_DATA;
    const QString file = local(parent + name);
    if (target.endsWith(u'/')) {
        // Only an empty folder goes, and never the current one.
        if (m_currentDir.startsWith(target))
            return EW_DATA;
        return QDir().rmdir(file) ? EW_OK : EW_DATA;
    }
    return QFileInfo(file).isFile() && QFile::remove(file) ? EW_OK : EW_DATA;
}

short SimulatedCnc::cnc_pdf_rename(unsigned short handle, const QByteArray& path,
                                   const QByteArray& name)
{
    const short rc = checkFolderCall(handle);
    if (rc != EW_OK)
        return rc;
    const QString target = controlPath(path);
    const QString newName = bareName(name);
    QString parent, oldName;
    if (target.isNull() || newName.isNull() || !splitPath(target, &parent, &oldName) ||
        (target.endsWith(u'/') && m_currentDir.startsWith(target)))
        return EW_DATA;
    const QString from = local(parent + oldName);
    const QString to = local(parent + newName);
    if (!QFileInfo::exists(from) || QFileInfo::exists(to))
        return EW_DATA;
    return QDir().rename(from, to) ? EW_OK : EW_DATA;
}

} // namespace nodalis
