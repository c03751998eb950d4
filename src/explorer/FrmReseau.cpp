#include "explorer/FrmReseau.h"

#include "explorer/ExplorerListModel.h"
#include "explorer/PreviewText.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QSplitter>
#include <QSqlQueryModel>
#include <QSqlRecord>
#include <QStackedWidget>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace nodalis {

namespace {

struct Command
{
    int number;
    const char* caption;
};

// The pop-up commands: the number is what the controller runs.
constexpr Command kCommands[] = {
    {1, "Recevoir"},
    {3, "Nouveau Dossier"},
    {4, "Supprimer"},
    {5, "Renommer"},
    {6, "Nouveau Dossier"},
    {7, "Supprimer"},
    {8, "Envoyer"},
    {9, "Renommer"},
    {10, "Recevoir tous les programmes"},
    {11, "Envoyer tous les programmes"},
    {12, "Supprimer tous les programmes"},
    {13, "Aperçu"},
    {14, "Envoyer et remplacer tous les programmes"},
    {15, "Envoyer tous"},
};

struct Button
{
    const char* caption;
    const char* tip;
    QStyle::StandardPixmap icon;
};

constexpr Button kButtons[5] = {
    {"Actualiser", "Actualiser les deux côtés et signaler le programme actif",
     QStyle::SP_BrowserReload},
    {"Recevoir", "Recevoir les fichiers choisis de la machine", QStyle::SP_ArrowRight},
    {"Envoyer", "Envoyer les fichiers choisis à la machine", QStyle::SP_ArrowLeft},
    {"Déconnecter", "Se déconnecter de la machine", QStyle::SP_DialogCloseButton},
    {"Actualiser", "Actualiser les deux côtés", QStyle::SP_BrowserReload},
};

QPlainTextEdit* previewBox(const QString& name, QWidget* parent)
{
    auto* box = new QPlainTextEdit(parent);
    box->setObjectName(name);
    box->setReadOnly(true);
    box->setLineWrapMode(QPlainTextEdit::NoWrap);
    box->setUndoRedoEnabled(false);
    box->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    return box;
}

// A pane: its title over its list, the preview and its caption under the
// list, in a splitter the operator can move.
void layOutPane(QWidget* pane, QLabel* title, QWidget* list, QLabel* caption,
                QPlainTextEdit* preview)
{
    auto* split = new QSplitter(Qt::Vertical, pane);
    split->addWidget(list);
    auto* previewPart = new QWidget(split);
    auto* previewLayout = new QVBoxLayout(previewPart);
    previewLayout->setContentsMargins(0, 0, 0, 0);
    previewLayout->setSpacing(2);
    previewLayout->addWidget(caption);
    previewLayout->addWidget(preview, 1);
    split->addWidget(previewPart);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);

    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(title);
    layout->addWidget(split, 1);
}

QLabel* titleLabel(const QString& name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setFrameShape(QFrame::StyledPanel);
    label->setFrameShadow(QFrame::Sunken);
    label->setMargin(2);
    label->setMinimumWidth(1);
    return label;
}

} // namespace

FrmReseau::FrmReseau(ExplorerController& controller, QWidget* parent)
    : QWidget(parent), m_controller(controller)
{
    setObjectName(QStringLiteral("FrmReseau"));
    setWindowTitle(QStringLiteral("Explorateur réseau"));
    const QIcon folder = style()->standardIcon(QStyle::SP_DirIcon);
    const QIcon file = style()->standardIcon(QStyle::SP_FileIcon);
    m_remoteModel = new ExplorerListModel(
        folder, file,
        [this](const QString& from, const QString& to) {
            return m_controller.RenameRemote(from, to);
        },
        this);
    m_localModel = new ExplorerListModel(
        folder, file,
        [this](const QString& from, const QString& to) {
            return m_controller.RenameLocal(from, to);
        },
        this);

    // A burst of notices (each file of a transfer lists a side again) ends in
    // one reset of each list, once events run.
    m_TimerScroll = new QTimer(this);
    m_TimerScroll->setObjectName(QStringLiteral("TimerScroll"));
    m_TimerScroll->setSingleShot(true);
    m_TimerScroll->setInterval(0);
    connect(m_TimerScroll, &QTimer::timeout, this, &FrmReseau::showChanges);

    // A remote preview fetches the file: a click waits to be sure it is not
    // the first half of a double click, which receives it instead.
    m_remotePreview = new QTimer(this);
    m_remotePreview->setSingleShot(true);
    m_remotePreview->setInterval(QApplication::doubleClickInterval());
    connect(m_remotePreview, &QTimer::timeout, this,
            [this] { m_controller.PreviewRemote(m_previewName); });

    buildToolBar();
    auto* panes = new QSplitter(Qt::Horizontal, this);
    panes->setObjectName(QStringLiteral("splPanes"));
    panes->setChildrenCollapsible(false);
    panes->addWidget(buildRemotePane());
    panes->addWidget(buildLocalPane());

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("pctTransfert"));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_lblTransfert = new QLabel(this);
    m_lblTransfert->setObjectName(QStringLiteral("lblTransfert"));
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_lblTransfert);
    bottom->addWidget(m_progress, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    layout->addWidget(m_snbToolBar);
    layout->addWidget(panes, 1);
    layout->addLayout(bottom);
    buildMenus();
    resize(800, 560);

    // What the controller already holds.
    showRemote();
    showLocal();
    previewChanged(true);
    previewChanged(false);
    progressChanged(m_controller.progress());
    transferChanged(m_controller.transferRunning());
}

FrmReseau::~FrmReseau() = default;

QTreeView* FrmReseau::buildList(const QString& name, ExplorerListModel* model)
{
    auto* list = new QTreeView(this);
    list->setObjectName(name);
    list->setModel(model);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    // The name takes the room left; size and detail keep theirs, in sight.
    list->header()->setStretchLastSection(false);
    list->header()->setSectionResizeMode(ExplorerListModel::Name, QHeaderView::Stretch);
    list->header()->resizeSection(ExplorerListModel::Size, 80);
    return list;
}

void FrmReseau::wireList(QTreeView* list, QMenu* FrmReseau::*menu,
                         void (FrmReseau::*clicked)(const QModelIndex&, bool))
{
    connect(list, &QAbstractItemView::clicked, this,
            [this, clicked](const QModelIndex& index) { (this->*clicked)(index, false); });
    connect(list, &QAbstractItemView::doubleClicked, this,
            [this, clicked](const QModelIndex& index) { (this->*clicked)(index, true); });
    // The menu is looked up at the click: it is made after the lists.
    connect(list, &QWidget::customContextMenuRequested, this, [this, list, menu](const QPoint& at) {
        (this->*menu)->popup(list->viewport()->mapToGlobal(at));
    });
}

QWidget* FrmReseau::buildRemotePane()
{
    auto* pane = new QWidget(this);
    pane->setObjectName(QStringLiteral("FrmDistant"));
    m_lblDistantTitre = titleLabel(QStringLiteral("lblDistantTitre"), pane);
    m_lvDistant = buildList(QStringLiteral("lvDistant"), m_remoteModel);
    m_lblDistantProg = titleLabel(QStringLiteral("lblDistantProg"), pane);
    m_rtbDistant = previewBox(QStringLiteral("rtbDistant"), pane);

    wireList(m_lvDistant, &FrmReseau::m_mnuDistant, &FrmReseau::remoteClicked);

    layOutPane(pane, m_lblDistantTitre, m_lvDistant, m_lblDistantProg, m_rtbDistant);
    return pane;
}

QWidget* FrmReseau::buildLocalPane()
{
    auto* pane = new QWidget(this);
    pane->setObjectName(QStringLiteral("FrmLocal"));
    m_lblLocalTitre = titleLabel(QStringLiteral("lblLocalTitre"), pane);
    m_lvLocal = buildList(QStringLiteral("lvLocal"), m_localModel);
    m_lblLocalProg = titleLabel(QStringLiteral("lblLocalProg"), pane);
    m_rtbLocal = previewBox(QStringLiteral("rtbLocal"), pane);

    wireList(m_lvLocal, &FrmReseau::m_mnuLocal, &FrmReseau::localClicked);

    // The store's programs: the grid fetches its rows as it scrolls.
    m_storePane = new QWidget(pane);
    m_CboBD = new QComboBox(m_storePane);
    m_CboBD->setObjectName(QStringLiteral("CboBD"));
    m_CboBD->setEditable(true);
    m_CboBD->setInsertPolicy(QComboBox::InsertAtTop);
    m_CboBD->lineEdit()->setPlaceholderText(QStringLiteral("Rechercher un programme"));
    connect(m_CboBD, &QComboBox::editTextChanged, this,
            [this](const QString& text) { m_controller.setStoreFilter(text); });
    m_DbgLocal = new QTableView(m_storePane);
    m_DbgLocal->setObjectName(QStringLiteral("DbgLocal"));
    m_DbgLocal->setModel(m_controller.storeModel());
    m_DbgLocal->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_DbgLocal->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_DbgLocal->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_DbgLocal->setContextMenuPolicy(Qt::CustomContextMenu);
    m_DbgLocal->verticalHeader()->setDefaultSectionSize(
        m_DbgLocal->verticalHeader()->minimumSectionSize());
    m_DbgLocal->horizontalHeader()->setStretchLastSection(true);
    connect(m_DbgLocal, &QAbstractItemView::clicked, this, &FrmReseau::programClicked);
    connect(m_DbgLocal, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { m_mnuBD->popup(m_DbgLocal->viewport()->mapToGlobal(at)); });
    auto* storeLayout = new QVBoxLayout(m_storePane);
    storeLayout->setContentsMargins(0, 0, 0, 0);
    storeLayout->setSpacing(2);
    storeLayout->addWidget(m_CboBD);
    storeLayout->addWidget(m_DbgLocal, 1);

    m_localStack = new QStackedWidget(pane);
    m_localStack->addWidget(m_lvLocal);
    m_localStack->addWidget(m_storePane);

    layOutPane(pane, m_lblLocalTitre, m_localStack, m_lblLocalProg, m_rtbLocal);
    return pane;
}

void FrmReseau::buildToolBar()
{
    m_snbToolBar = new QToolBar(this);
    m_snbToolBar->setObjectName(QStringLiteral("snbToolBar"));
    m_snbToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    for (int i = 0; i < 5; ++i) {
        const Button& b = kButtons[i];
        QAction* action =
            m_snbToolBar->addAction(style()->standardIcon(b.icon), QString::fromUtf8(b.caption));
        action->setObjectName(QStringLiteral("Button%1").arg(i + 1));
        action->setToolTip(QString::fromUtf8(b.tip));
        action->setData(i + 1);
        connect(action, &QAction::triggered, this, [this, i] { runToolbar(i + 1); });
    }
}

QMenu* FrmReseau::buildMenu(const QString& name, QList<int> numbers)
{
    auto* menu = new QMenu(this);
    menu->setObjectName(name);
    for (const Command& c : kCommands) {
        if (!numbers.contains(c.number))
            continue;
        QAction* action = menu->addAction(QString::fromUtf8(c.caption));
        action->setObjectName(QStringLiteral("cmd%1").arg(c.number));
        action->setData(c.number);
        connect(action, &QAction::triggered, this, [this, n = c.number] { runCommand(n); });
    }
    return menu;
}

void FrmReseau::buildMenus()
{
    m_mnuDistant = buildMenu(QStringLiteral("mnuDistant"), {1, 3, 4, 5, 10, 12, 13});
    m_mnuLocal = buildMenu(QStringLiteral("mnuLocal"), {6, 7, 8, 9, 15});
    m_mnuBD = buildMenu(QStringLiteral("mnuBD"), {11, 14});
}

QStringList FrmReseau::selectedNames(QTreeView* list) const
{
    QModelIndexList rows = list->selectionModel()->selectedRows(ExplorerListModel::Name);
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    const auto* model = static_cast<const ExplorerListModel*>(list->model());
    QStringList names;
    names.reserve(rows.size());
    for (const QModelIndex& index : rows)
        names.append(model->row(index.row()).name);
    return names;
}

QStringList FrmReseau::selectEvery(QTreeView* list)
{
    const auto* model = static_cast<const ExplorerListModel*>(list->model());
    QItemSelection every;
    QStringList names;
    for (int r = 0; r < model->rowCount(); ++r) {
        const QString& name = model->row(r).name;
        if (name == u".." || name == u".")
            continue;
        names.append(name);
        every.select(model->index(r, 0), model->index(r, ExplorerListModel::ColumnCount - 1));
    }
    list->selectionModel()->select(every, QItemSelectionModel::ClearAndSelect);
    return names;
}

QStringList FrmReseau::remoteSelection() const
{
    return selectedNames(m_lvDistant);
}

QStringList FrmReseau::localSelection() const
{
    if (!m_controller.showsStore())
        return selectedNames(m_lvLocal);
    QModelIndexList rows = m_DbgLocal->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList codes;
    for (const QModelIndex& index : rows)
        codes.append(QString::number(programCode(index.row())));
    return codes;
}

void FrmReseau::runCommand(int number)
{
    QStringList selection;
    switch (number) {
    case 10:
    case 12:
        selection = selectEvery(m_lvDistant);
        break;
    case 15:
        selection = selectEvery(m_lvLocal);
        break;
    case 6:
    case 7:
    case 8:
    case 9:
    case 11:
    case 14:
        selection = localSelection();
        break;
    default:
        selection = remoteSelection();
        break;
    }
    m_controller.RunCommand(number, selection);
}

void FrmReseau::runToolbar(int button)
{
    // The controller's Send takes names in the local folder: the programs
    // chosen in the grid go by their codes.
    if (button == 3 && m_controller.showsStore()) {
        QList<qint32> codes;
        for (const QString& code : localSelection())
            codes.append(code.toInt());
        m_controller.SendPrograms(codes, false);
        return;
    }
    m_controller.RunToolbar(button, remoteSelection(), localSelection());
}

qint32 FrmReseau::programCode(int row) const
{
    QSqlQueryModel* store = m_controller.storeModel();
    const int column = std::max(0, store->record().indexOf(QStringLiteral("CodeProg")));
    return store->index(row, column).data().toInt();
}

void FrmReseau::remoteClicked(const QModelIndex& index, bool twice)
{
    if (!index.isValid())
        return;
    const ExplorerRow row = m_remoteModel->row(index.row());
    if (twice) {
        m_remotePreview->stop();
        m_sinceDoubleClick.start();
        if (row.folder)
            m_controller.OpenRemote(row.name);
        else
            m_controller.Receive({row.name});
        return;
    }
    // The release that ends a double click is a click too.
    if (m_sinceDoubleClick.isValid() &&
        m_sinceDoubleClick.elapsed() < QApplication::doubleClickInterval())
        return;
    if (!row.folder) {
        m_previewName = row.name;
        m_remotePreview->start();
    }
}

void FrmReseau::localClicked(const QModelIndex& index, bool twice)
{
    if (!index.isValid())
        return;
    // A copy: the controller lists the folder again from inside the call.
    const ExplorerRow row = m_localModel->row(index.row());
    if (row.folder) {
        if (twice)
            m_controller.OpenLocal(row.name);
    } else if (!twice) {
        m_controller.PreviewLocal(row.name);
    }
}

void FrmReseau::programClicked(const QModelIndex& index)
{
    if (index.isValid())
        m_controller.PreviewProgram(programCode(index.row()));
}

void FrmReseau::showExplorer()
{
    show();
    raise();
    activateWindow();
}

void FrmReseau::hideExplorer()
{
    hide();
}

void FrmReseau::placeExplorer(const QRect& twips)
{
    QScreen* on = screen();
    QRect place = TwipsToPixels(twips, on->logicalDotsPerInch());
    const QRect room = on->availableGeometry();
    place.setSize(place.size().boundedTo(room.size()).expandedTo(QSize(1, 1)));
    place.moveLeft(std::clamp(place.left(), room.left(), room.right() - place.width() + 1));
    place.moveTop(std::clamp(place.top(), room.top(), room.bottom() - place.height() + 1));
    setGeometry(place);
}

void FrmReseau::remoteChanged()
{
    m_remoteDirty = true;
    m_TimerScroll->start();
}

void FrmReseau::localChanged()
{
    m_localDirty = true;
    m_TimerScroll->start();
}

void FrmReseau::showChanges()
{
    m_TimerScroll->stop();
    if (m_remoteDirty)
        showRemote();
    if (m_localDirty)
        showLocal();
}

void FrmReseau::showRemote()
{
    m_remoteDirty = false;
    // The controller's folder is relative to the login folder, the root here.
    m_lblDistantTitre->setText(u'/' + m_controller.remoteFolder());
    m_lblDistantTitre->setToolTip(m_lblDistantTitre->text());
    m_remoteModel->setRows(ExplorerListModel::rowsOf(m_controller.remoteListing()));
}

void FrmReseau::showLocal()
{
    m_localDirty = false;
    const bool store = m_controller.showsStore();
    m_lblLocalTitre->setText(store ? QStringLiteral("Programmes de la base")
                                   : m_controller.localFolder());
    m_lblLocalTitre->setToolTip(m_lblLocalTitre->text());
    m_localStack->setCurrentWidget(store ? m_storePane : static_cast<QWidget*>(m_lvLocal));
    m_localModel->setRows(store ? QList<ExplorerRow>()
                                : ExplorerListModel::rowsOf(m_controller.localEntries()));
}

void FrmReseau::previewChanged(bool remote)
{
    const ExplorerPreview& preview = m_controller.preview(remote);
    QString caption = preview.name;
    if (preview.truncated)
        caption += QStringLiteral(" (début du fichier)");
    (remote ? m_lblDistantProg : m_lblLocalProg)->setText(caption);
    (remote ? m_rtbDistant : m_rtbLocal)->setPlainText(PreviewText(preview.text));
}

void FrmReseau::progressChanged(int percent)
{
    m_progress->setValue(std::clamp(percent, 0, 100));
}

void FrmReseau::transferChanged(bool running)
{
    // Nothing is disabled: a click during a transfer reaches the controller,
    // which refuses it in its own words.
    m_lblTransfert->setText(running ? QStringLiteral("Transfert en cours") : QString());
}

void FrmReseau::beginRename(bool remote, const QString& name)
{
    showChanges();
    QTreeView* list = remote ? m_lvDistant : m_lvLocal;
    ExplorerListModel* model = remote ? m_remoteModel : m_localModel;
    const int row = model->rowOf(name);
    if (row < 0)
        return;
    const QModelIndex index = model->index(row, ExplorerListModel::Name);
    list->setCurrentIndex(index);
    list->scrollTo(index);
    list->edit(index);
}

void FrmReseau::closeEvent(QCloseEvent* event)
{
    // The close box only hides: a transfer going on goes on.
    event->ignore();
    hide();
}

} // namespace nodalis
