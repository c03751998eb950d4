#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

// <windows.h> defines these two as macros; our own names must win wherever
// this header is seen after it.
#ifdef DeleteFile
#undef DeleteFile
#endif
#ifdef CopyFile
#undef CopyFile
#endif

namespace nodalis {

// File routines every transformation of a program relies on: a filter reads
// one file, writes another, then puts the result in place of the source.
// Files are always opened in binary: program texts are bytes, line ends
// included, and are never translated.

// How a file is opened, with the mode numbers of the server's file routines.
enum class FileMode
{
    RandomAccess = 1, // read, or write in place without truncating
    ByteStream = 2,   // read, or write in place without truncating
    TextInput = 3,    // read only
    Output = 4,       // write, the file truncated first
    Append = 5,       // write at the end
};

// Opens the file for reading in file (closed first if open). True only when
// it opened and holds at least one byte: an empty file counts as a failure
// and is left open, the caller closes it. Write modes give false.
bool OpenForRead(const QString& path, FileMode mode, QFile& file);

// Creates the missing folders of the path, then opens the file for writing
// in file. TextInput gives false.
bool OpenForWrite(const QString& path, FileMode mode, QFile& file);

// Reads every byte of the file from its start into text. When file is not
// open, or not readable, the path is opened again and read. Only when that
// fails too is the operator told (critical message box) and false returned;
// text holds whatever was read. The file is left open for the caller.
bool ReadWholeFile(const QString& path, QFile& file, QByteArray& text);

// Direction of ReadOrWriteFile.
inline constexpr int ReadDirection = 1; // any other value writes

// ReadDirection: the whole file into text (an empty file gives an empty text).
// Otherwise: replaces the file with text followed by CR LF, creating missing
// folders. False when the file cannot be opened or written.
bool ReadOrWriteFile(int direction, const QString& path, QByteArray& text);

bool FileExists(const QString& path);   // a file, not a folder
bool FolderExists(const QString& path); // a folder, not a file

// Makes the file writable, then deletes it. The result may be ignored.
bool DeleteFile(const QString& path);

// Copies, overwriting the destination. The copy is streamed into a temporary
// file beside the destination and takes its place only when complete, so a
// failed copy leaves the destination as it was. False on any error.
bool CopyFile(const QString& source, const QString& destination);

// CopyFile for working files (Temp/, Send/), which are made again when lost:
// the same checked copy that replaces the destination whole, without waiting
// for the disk to hold it.
bool CopyScratchFile(const QString& source, const QString& destination);

// Renames source over destination, which is replaced in one step and keeps
// its permissions (a link: its target is replaced). False, with both files
// as they were, when they lie on different file systems or the system
// refuses (a destination in use on Windows): the caller copies instead.
bool RenameOver(const QString& source, const QString& destination);

// Renames (or moves on the same volume); fails when the new name exists.
// The result may be ignored.
bool RenameFile(const QString& oldPath, const QString& newPath);

// Copies the folder tree, overwriting files. False when a name is blank, the
// source folder is missing, the destination lies inside the source, or a
// file could not be copied.
bool CopyFolder(const QString& source, const QString& destination);

// Deletes the folder tree. The result may be ignored.
bool DeleteFolder(const QString& folder);

// Creates every missing level of the folder path. The result may be ignored.
bool MakeFolders(const QString& folder);

// Names of the sub-folders, sorted without regard to case.
QStringList ListSubFolders(const QString& folder);

// Looks for a file of that name (any case) in the folder and, when recurse is
// set, in its sub-folders (the folder's own files first, then each sub-folder
// in name order). foundPath gets the path with the name as stored on disk.
bool FindFileInTree(const QString& folder, const QString& name, bool recurse, QString& foundPath);

// The canonical path of an existing file named `name` under `folder` (symbolic
// links and ".." resolved), or empty when there is none or it would lie outside
// the folder.
QString ConfinedPath(const QString& folder, const QString& name);

// Whether an existing path, once canonical, lies inside one of the folders
// (each taken canonical too).
bool IsInsideFolders(const QString& path, const QStringList& folders);

// Full paths of the other files of the path's folder that share its base name,
// whatever their extension ("ISO.bak", "ISO" for "ISO.txt"), compared without
// regard to case and sorted by name.
QStringList ListFilesLike(const QString& path);

// The system's temporary folder, with a trailing separator.
QString TempFolder();

// Creates a unique empty file in TempFolder() named after the first three
// characters of the executable's name, a hexadecimal number and ".TMP", and
// returns its path. With an extension (no leading "."), the returned name has
// its file-name part in capitals and ".TMP" replaced by "." + extension: that
// file is not created, the ".TMP" file stays. Empty when no file could be made.
QString NewTempFile(const QString& extension = QString());

// The next free version of folder/base.ext: folder/base_N.ext where N is one
// more than the highest number found after "base" + one character in the names
// of the folder (any case); base_1.ext for a first version.
QString NextVersionName(const QString& path);

// Copies the file to its next free version (NextVersionName), never over a
// file that is there: servers sharing the folder that keep a version of the
// same file at the same moment each get their own. The version's path;
// empty on failure (no version is left half written).
QString CopyToNewVersion(const QString& path);

// Gives every line of the file a CR LF end: bare LF ends become CR LF, existing
// CR LF are kept, a lone CR becomes CR LF. A file whose line ends are right
// already is only read; any other is written once, through "TT_FiltreCRLF.txt"
// in the server's Temp folder, which then replaces it. An empty file stays
// empty. False when the file cannot be read or replaced.
bool NormaliseLineEnds(const QString& path);

// Bit of ChooseFile's flags that lets the operator pick several files.
inline constexpr quint32 ChooseSeveral = 0x200;

// The open-file dialog of the operator prompt: the chosen files, empty when
// cancelled. ChooseFile gives the first one.
QStringList ChooseFiles(const QString& title, const QString& filter, quint32 flags,
                        const QString& startFolder);
QString ChooseFile(const QString& title, const QString& filter, quint32 flags,
                   const QString& startFolder);

// Writes the files one after the other, byte for byte and in list order, to
// the destination; blank paths are skipped and the destination may be one of
// the sources. When a source cannot be read, or no source is named, the
// destination is left untouched and the result is false.
bool ConcatFilesByBatch(const QStringList& paths, const QString& destination);

} // namespace nodalis
