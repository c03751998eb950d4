#include "protocols/SharedFolder.h"

#include "platform/AnsiText.h"
#include "platform/SystemPaths.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace nodalis {

QString SharedFolder::root() const
{
    const Settings& s = Config();
    return QDir::cleanPath(ShareFolderPath(fromAnsi(s.DefaultDirHostSend), fromAnsi(s.UncRoot)));
}

QString SharedFolder::currentFolder() const
{
    QString folder = root();
    for (const QString& part : m_below)
        folder += QLatin1Char('/') + part;
    return folder;
}

QString SharedFolder::pathOf(const QString& name) const
{
    return currentFolder() + QLatin1Char('/') + name;
}

bool SharedFolder::fail(const QString& why)
{
    m_error = why;
    return false;
}

bool SharedFolder::connect()
{
    if (Config().DefaultDirHostSend.trimmed().isEmpty())
        return fail(QStringLiteral("DefaultDirHostSend est vide : pas de dossier partagé"));
    if (!FolderExists(currentFolder())) {
        // A folder that went away takes the transport back to the share's root.
        m_below.clear();
        if (!FolderExists(root()))
            return fail(root() + QStringLiteral(" : dossier partagé absent"));
    }
    m_error.clear();
    return true;
}

void SharedFolder::disconnect()
{
    m_below.clear();
}

bool SharedFolder::list(const QString& folder, RemoteListing& listing)
{
    listing.entries.clear();
    if (!connect())
        return false;
    if (folder == QLatin1String("..")) {
        if (!m_below.isEmpty())
            m_below.removeLast();
    } else if (!folder.isEmpty() && folder != QLatin1String(".")) {
        if (!IsPlainRemoteName(folder) || !FolderExists(pathOf(folder)))
            return fail(folder + QStringLiteral(" : dossier absent"));
        m_below.append(folder);
    }
    QDir dir(currentFolder());
    const QFileInfoList found =
        dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                          QDir::Name | QDir::DirsFirst | QDir::IgnoreCase);
    if (!dir.exists())
        return fail(currentFolder() + QStringLiteral(" : dossier illisible"));
    if (found.size() > MaxEntries)
        return fail(QStringLiteral("plus de %1 entrées").arg(MaxEntries));
    if (!m_below.isEmpty())
        listing.entries.append({RemoteEntry::Folder, QStringLiteral(".."), 0, {}});
    for (const QFileInfo& f : found) {
        if (!IsPlainRemoteName(f.fileName()))
            continue;
        listing.entries.append({f.isDir() ? RemoteEntry::Folder : RemoteEntry::File,
                                f.fileName(),
                                f.isDir() ? 0 : f.size(),
                                {}});
    }
    return true;
}

bool SharedFolder::put(const QString& localPath, const QString& name)
{
    if (!connect())
        return false;
    const QString target = pathOf(name);
    if (!CopyFile(localPath, target))
        return fail(target + QStringLiteral(" : copie impossible"));
    m_written.append(target);
    return true;
}

bool SharedFolder::get(const QString& name, const QString& localPath, const Progress& progress)
{
    if (!connect())
        return false;
    const QString source = pathOf(name);
    if (!FileExists(source))
        return fail(source + QStringLiteral(" : fichier absent"));
    const qint64 size = QFileInfo(source).size();
    if (!CopyFile(source, localPath) || QFileInfo(localPath).size() != size)
        return fail(localPath + QStringLiteral(" : copie incomplète"));
    if (progress)
        progress(size);
    return true;
}

bool SharedFolder::deleteFile(const QString& name)
{
    if (!connect())
        return false;
    const QString path = pathOf(name);
    DeleteFile(path);
    return !QFileInfo::exists(path) || fail(path + QStringLiteral(" : suppression impossible"));
}

bool SharedFolder::deleteFolder(const QString& name)
{
    if (!connect())
        return false;
    const QString path = pathOf(name);
    DeleteFolder(path);
    return !QFileInfo::exists(path) || fail(path + QStringLiteral(" : suppression impossible"));
}

bool SharedFolder::rename(const QString& from, const QString& to)
{
    if (!connect())
        return false;
    return QFile::rename(pathOf(from), pathOf(to)) ||
           fail(pathOf(from) + QStringLiteral(" : renommage impossible"));
}

bool SharedFolder::createFolder(const QString& name)
{
    if (!connect())
        return false;
    return QDir(currentFolder()).mkdir(name) ||
           fail(pathOf(name) + QStringLiteral(" : création impossible"));
}

bool SharedFolder::createTextFile(const QString& name)
{
    if (!connect())
        return false;
    QFile file(pathOf(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return fail(pathOf(name) + QStringLiteral(" : ") + file.errorString());
    return true;
}

} // namespace nodalis
