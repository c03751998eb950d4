#pragma once

#include "server/ExplorerController.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QWidget>

class QAbstractItemView;
class QComboBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QStackedWidget;
class QTableView;
class QTimer;
class QToolBar;
class QTreeView;

namespace nodalis {

class ExplorerListModel;

// The network explorer window: the machine's folder and the local programs
// side by side. It shows what its controller holds and forwards the clicks;
// its owner hands it to the controller (setWindow).
class FrmReseau : public QWidget, public ExplorerWindow
{
    Q_OBJECT

public:
    explicit FrmReseau(ExplorerController& controller, QWidget* parent = nullptr);
    ~FrmReseau() override;

    void showExplorer() override;
    void hideExplorer() override;
    void placeExplorer(const QRect& twips) override;
    void remoteChanged() override;
    void localChanged() override;
    void previewChanged(bool remote) override;
    void progressChanged(int percent) override;
    void transferChanged(bool running) override;
    void beginRename(bool remote, const QString& name) override;

    // The names selected in a list, in list order; the grid gives the codes
    // of its selected programs.
    QStringList remoteSelection() const;
    QStringList localSelection() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* buildRemotePane();
    QWidget* buildLocalPane();
    void buildToolBar();
    void buildMenus();
    QMenu* buildMenu(const QString& name, QList<int> numbers);
    QTreeView* buildList(const QString& name, ExplorerListModel* model);
    // Clicks, double clicks (clicked(index, twice)) and the pop-up menu of a list.
    void wireList(QTreeView* list, QMenu* FrmReseau::*menu,
                  void (FrmReseau::*clicked)(const QModelIndex&, bool));
    QStringList selectedNames(QTreeView* list) const;
    // Every name of a list but the way up, all selected.
    QStringList selectEvery(QTreeView* list);
    void runCommand(int number);
    void runToolbar(int button);
    // Lists marked changed are reset once, when TimerScroll fires.
    void showChanges();
    void showRemote();
    void showLocal();
    void remoteClicked(const QModelIndex& index, bool twice);
    void localClicked(const QModelIndex& index, bool twice);
    void programClicked(const QModelIndex& index);
    qint32 programCode(int row) const;

    ExplorerController& m_controller;
    ExplorerListModel* m_remoteModel;
    ExplorerListModel* m_localModel;
    QLabel* m_lblDistantTitre = nullptr;
    QTreeView* m_lvDistant = nullptr;
    QPlainTextEdit* m_rtbDistant = nullptr;
    QLabel* m_lblDistantProg = nullptr;
    QLabel* m_lblLocalTitre = nullptr;
    QStackedWidget* m_localStack = nullptr;
    QTreeView* m_lvLocal = nullptr;
    QWidget* m_storePane = nullptr;
    QTableView* m_DbgLocal = nullptr;
    QComboBox* m_CboBD = nullptr;
    QPlainTextEdit* m_rtbLocal = nullptr;
    QLabel* m_lblLocalProg = nullptr;
    QToolBar* m_snbToolBar = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_lblTransfert = nullptr;
    QTimer* m_TimerScroll = nullptr;
    QTimer* m_remotePreview = nullptr;
    QString m_previewName;
    QElapsedTimer m_sinceDoubleClick;
    QMenu* m_mnuDistant = nullptr;
    QMenu* m_mnuLocal = nullptr;
    QMenu* m_mnuBD = nullptr;
    bool m_remoteDirty = false;
    bool m_localDirty = false;
};

} // namespace nodalis
