#pragma once

#include "protocols/RemoteTransport.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace nodalis {

// A Heidenhain TNC control's files through the command tool of the
// TNCremo package. Each operation writes a small command script (a "cd"
// into the current folder, the operation's commands, "exit"), runs the tool
// on it and reads back its result file, if any. No connection is held
// between operations. The tool is the TncCmd setting when given (another
// command: our stand-in, or the real tool under Wine), else tnccmd.exe
// beside the server; it reaches the control by Ethernet (RemoteHost) or by
// the channel's serial port (NumPort, BaudsEnvoi), which it opens itself.
//
// The tool's own errors cannot be seen, except a folder removal's: an
// operation fails when the tool did not run to its end (missing, hung past
// the limit and killed, crashed, stopped) or when what it should have
// written is not there. Names and folders that would change a script's
// meaning (a double quote, a control character) are refused before any
// script is written.
class ClsTNCRemo : public RemoteTransport
{
public:
    enum Mode
    {
        Ethernet = 0,
        Serial = 1
    };

    ClsTNCRemo();
    ~ClsTNCRemo() override;

    // Sets the mode, forgets the current folder and finds the tool.
    void Init(int mode);

    // Script texts, CR LF after each line.
    static QByteArray Script(const QByteArray& folder, const QList<QByteArray>& commands);
    static QByteArray FolderRemovalScript(const QByteArray& folder, const QByteArray& name,
                                          const QByteArray& resultFile);
    // The folder the scripts "cd" into: the current one without its ".\",
    // "." when nothing is left.
    static QString ToolFolder(const QString& current);
    // The folder a listing moves to: "TNC:" first, "." stays, ".." goes up.
    static QString NextFolder(const QString& current, const QString& argument);
    // The tool's words after its path: "-iHOST" or "-pN" "-bBAUD", then
    // "START" and the script.
    static QStringList ToolArguments(int mode, const QByteArray& host, int port,
                                     const QByteArray& baud, const QString& script);
    // One line of the tool's "dir": false for a line that names nothing.
    static bool ParseListingLine(const QString& line, RemoteEntry& entry);
    // Every line but the last (a summary).
    static void ParseListing(const QByteArray& text, RemoteListing& listing);
    // Text that may go between a script's double quotes.
    static bool ScriptSafe(const QString& text);
    // The command run: TncCmd, or tnccmd.exe in the server's folder.
    static QString ToolPath();

    bool CreerRep(const QString& name);
    bool CreerTxtFile(const QString& name, const QString& text);
    bool FNGetList(const QString& folder, RemoteListing& listing);
    bool FNSupprimerDossier(const QString& name);
    bool FNSupprimerFichier(const QString& name);
    bool RecupererFichier(const QString& remoteName, const QString& localPath);
    bool RenommerFichier(const QString& from, const QString& to);
    bool SendFichier(const QString& localPath, const QString& remoteName);

    QString currentFolder() const { return m_folder; }
    // The last script written (kept until the next one).
    QString scriptPath() const { return m_scriptPath; }

    bool connect() override { return true; }
    void disconnect() override {}
    bool list(const QString& folder, RemoteListing& listing) override;
    bool put(const QString& localPath, const QString& name) override;
    bool get(const QString& name, const QString& localPath, const Progress& progress) override;
    bool deleteFile(const QString& name) override;
    bool deleteFolder(const QString& name) override;
    bool rename(const QString& from, const QString& to) override;
    bool createFolder(const QString& name) override;
    bool createTextFile(const QString& name) override;
    QString lastError() const override { return m_lastError; }

private:
    // Writes the script, runs the tool on it to its end, then waits 100 ms.
    bool run(const QByteArray& script);
    bool runInFolder(const QList<QByteArray>& commands);
    // False, with the reason, for a text that may not go into a script.
    bool acceptable(const QStringList& texts);
    // A temporary file's path for the tool (no blank in it), empty on failure.
    QString toolTempFile(const QString& extension);

    int m_mode = Ethernet;
    QString m_toolPath;
    QString m_scriptPath;
    QString m_folder; // on the control; empty before the first listing
    QString m_lastError;
};

} // namespace nodalis
