#pragma once

#include "protocols/NetworkTransfer.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QRect>
#include <QSqlQueryModel>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace nodalis {

class ProgramDatabase;

// The window of the network explorer as its controller sees it. The window
// only shows what the controller holds and hands it the operator's clicks;
// the controller tells it what changed.
class ExplorerWindow
{
public:
    virtual ~ExplorerWindow() = default;
    virtual void showExplorer() = 0; // shown and raised
    virtual void hideExplorer() = 0;
    // A place in twips (see PosSizeTwips): the window converts it at its
    // screen's logical DPI and keeps it on that screen.
    virtual void placeExplorer(const QRect& twips) = 0;
    virtual void remoteChanged() = 0; // the remote folder or its listing
    virtual void localChanged() = 0;  // the local folder, its listing or the store rows
    virtual void previewChanged(bool remote) = 0;
    virtual void progressChanged(int percent) = 0;
    virtual void transferChanged(bool running) = 0;
    // Commands 5 and 9: the in-place edit of that entry's name starts; the
    // edited name comes back through RenameRemote or RenameLocal.
    virtual void beginRename(bool remote, const QString& name) = 0;
};

// An entry of the local side's folder.
struct LocalEntry
{
    QString name;
    bool folder = false;
    qint64 size = 0;
    QDateTime modified;
};

// What a preview shows: at most PreviewLimit bytes of the file, as they are.
struct ExplorerPreview
{
    QString name;
    QByteArray text;
    bool truncated = false; // the file holds more than was read
};

// POS_SIZE's arguments (left, top, width, height) as the window's place in
// twips: left and top at least 1000 (a value less than 0.000001 below 1000
// counts as 1000), the height 600 more, each the nearest integer. Nothing
// when an argument is missing or is no number.
std::optional<QRect> PosSizeTwips(const QList<QByteArray>& arguments);
// A place in twips as pixels at a logical DPI (1440 twips to the inch: 15
// twips to a pixel at 96 dpi), each the nearest integer.
QRect TwipsToPixels(const QRect& twips, double dpi);

// The network explorer: the logic of the two-pane window of a networked
// machine, run with or without the window. Local programs on one side (a
// folder, or the store's programs when DataAccess is 1), the machine's
// current folder on the other, a preview of each; receive, send, delete,
// rename, new folders, each logged (250 to 269) with its {%} progress. It is
// the listening side of the network methods: with TransfertBasic on,
// activating it runs the network listening instead of showing it.
//
// One transfer at a time: while one runs, another transfer, a rename or a
// delete is refused with 265. Hiding the window never stops a transfer; the
// stop flag (S) does.
class ExplorerController : public QObject, public NetworkExplorer
{
    Q_OBJECT

public:
    static constexpr qint64 PreviewLimit = 1 << 20;
    // Machines reached through TNCremo have a file fetched for its preview
    // only below this size.
    static constexpr qint64 TncPreviewLimit = 100001;

    explicit ExplorerController(NetworkTransfer& network, QObject* parent = nullptr);
    ~ExplorerController() override;

    // nullptr: no window (a headless server); every operation still runs.
    void setWindow(ExplorerWindow* window);

    // NetworkExplorer: the listening start and the control link.
    void setMode(int mode, int methode) override;
    void activate() override;
    void showWindow() override; // G: shown, then both sides refreshed
    void hideWindow() override; // F, and the stop for the network methods
    void place(int left, int top, int width, int height) override; // twips
    void refresh() override;                                       // both sides listed again

    // The state the window shows.
    int mode() const { return m_mode; } // 1 operator, 2 listening
    int methode() const { return m_methode; }
    bool transferRunning() const { return m_transfer; }
    bool overwriteAll() const { return m_overwriteAll; }
    const RemoteListing& remoteListing() const { return m_listing; }
    const QString& remoteFolder() const { return m_remoteFolder; }
    bool showsStore() const; // DataAccess 1: the store's grid, not a folder
    const QString& localFolder() const { return m_localFolder; }
    const QList<LocalEntry>& localEntries() const { return m_local; }
    // The store's programs for the grid, newest first, fetched as the view
    // scrolls; filtered by call name (CboBD), empty: all of them.
    QSqlQueryModel* storeModel() { return &m_store; }
    void setStoreFilter(const QString& callName);
    const ExplorerPreview& preview(bool remote) const
    {
        return remote ? m_remotePreview : m_localPreview;
    }
    int progress() const { return m_progress; }

    // The operator's acts. Names are those of the entries of a side.
    void Receive(const QStringList& remoteNames); // 1, toolbar 2, double click on a file
    void Send(const QStringList& localNames);     // 8, toolbar 3 (names in the local folder)
    void SendPrograms(const QList<qint32>& codes, bool overwriteAll); // 11 and 14, from the grid
    void Delete(const QStringList& remoteNames);                      // 4
    void DeleteLocal(const QStringList& names);                       // 7
    void PreviewRemote(const QString& name); // 13, a left click on a remote file
    void PreviewLocal(const QString& name);  // a click on a local file
    void PreviewProgram(qint32 code);        // a click on a row of the grid
    void OpenRemote(const QString& folder);  // double click on a remote folder, ".." up
    void OpenLocal(const QString& folder);   // double click on a local folder, ".." up
    void NewRemoteFolder();                  // 3: asks its name
    void NewLocalFolder();                   // 6: asks its name
    // The in-place edits of 5 and 9; refused (false, with its event) for an
    // empty name, one holding a separator, one that exists, or during a transfer.
    bool RenameRemote(const QString& from, const QString& to);
    bool RenameLocal(const QString& from, const QString& to);
    // Pop-up command 1 to 15 with the selection of its list (entry names;
    // the grid's commands take every listed program).
    void RunCommand(int number, const QStringList& selection);
    // Toolbar button 1 to 5 with the selections of both lists.
    void RunToolbar(int button, const QStringList& remoteSelection,
                    const QStringList& localSelection);
    // COMFTPFILE: the files of the pending list through the window's
    // transfer, with its progress (to send when it has any, else to
    // receive), then both sides refreshed.
    void RunFileTransfer(const FilesToTransfer& toSend, const FilesToTransfer& toReceive);

private:
    // A file on its way to the machine: its path, the name it gets there
    // (empty: RemoteFileName) and the store's program it is (0: none).
    struct Outgoing
    {
        QString path;
        QString remoteName;
        qint32 code = 0;
    };
    enum class Outcome
    {
        Done,     // received or sent
        Declined, // the operator said No
        Failed,
    };

    void setTransfer(bool running);
    void setProgress(int done, int total);
    bool refuseDuringTransfer();
    bool listRemote(const QString& folder);
    void listLocal();
    void loadStore();
    QList<qint32> storeCodes();
    QString localPath(const QString& name) const;
    void sendFiles(const QList<Outgoing>& files);
    Outcome sendOne(const Outgoing& file);
    Outcome receiveOne(const QString& name, bool& localChanged);
    bool keepLocally(const QString& name);

    NetworkTransfer& m_network;
    ExplorerWindow* m_window = nullptr;
    int m_mode = 1;
    int m_methode = 0;
    bool m_transfer = false;
    bool m_ownsChannelState = false; // the transfer set the channel to 5
    bool m_overwriteAll = false;
    int m_progress = 0;
    RemoteListing m_listing; // the last good listing
    QString m_remoteFolder;
    QString m_localFolder;
    QList<LocalEntry> m_local;
    // The grid's query reads the store as the view scrolls: its connection
    // stays open as long as the model holds it (declared first, gone last).
    std::unique_ptr<ProgramDatabase> m_storeDb;
    QSqlQueryModel m_store;
    QString m_storeFilter;
    ExplorerPreview m_remotePreview;
    ExplorerPreview m_localPreview;
};

} // namespace nodalis
