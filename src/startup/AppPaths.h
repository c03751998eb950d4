#pragma once

#include <QByteArray>
#include <QString>

namespace nodalis {

// Line-end and flow-control characters shared by the whole server.
inline const QByteArray Cr = QByteArrayLiteral("\r");
inline const QByteArray Lf = QByteArrayLiteral("\n");
inline const QByteArray CrLf = QByteArrayLiteral("\r\n");
inline const QByteArray NewLine = CrLf;
inline constexpr char Xon = 17;
inline constexpr char Xoff = 19;

// The working paths of one server, all anchored on its base folder. Folder
// values end with the native separator.
struct AppPaths
{
    QString applicationFolder; // folder of the executable
    QString baseFolder;        // folder that holds Nodalis.ini (no trailing separator)
    QString configPath;        // base folder + Nodalis.ini
    QString tempFolder;        // Temp/
    QString depFolder;         // DepFiles/ (send packages, window pictures)
    QString sendFile;          // Send/ToCN.txt
    QString receptionFile;     // Receiv/FromCN.txt
    QString preCallCheckFile;  // Temp/ChkReceivBeforeAppel.txt
    QString logFolder;         // LogFiles/
    QString journalFolder;     // the suite's fixed journal folder
    QString trackingFolder;    // Suivi/
    QString siblingFolder;     // install folder of the program-management application
    QString siblingTempFolder; // its Temp/

    // Fills every path below the base folder.
    void setBaseFolder(const QString& folder);
};

// The process-wide paths.
AppPaths& Paths();

// The base folder used when none is named on the command line: the
// executable's folder, or the fixed development folder when the executable
// sits under a RUZAVAR folder.
QString DefaultBaseFolder(const QString& applicationFolder);

// Whether a path lies under a folder named RUZAVAR (any case).
bool IsUnderRuzavar(const QString& path);

// The suite's fixed folders (C:\Orva\... on Windows, ~/Orva/... elsewhere).
QString OrvaFixedFolder(const QString& relative);

} // namespace nodalis
