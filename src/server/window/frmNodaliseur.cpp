#include "server/window/frmNodaliseur.h"

#include "dnc/EventMessages.h"
#include "dnc/ProcessState.h"
#include "platform/AnsiText.h"
#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "platform/OperatorPrompt.h"
#include "server/ServerHost.h"
#include "server/window/StatePictures.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <QVBoxLayout>

namespace nodalis {

namespace {

const char* const kCaptions[4] = {"Infos", "Envoyer", "Écouter", "Arrêter"};
const char* const kTips[4] = {"", "Envoyer des programmes à la machine",
                              "(Re)lancer l'écoute de la machine",
                              "Arrêter la transmission en cours"};

// The channel states have their picture at these sizes in the window.
constexpr int kStateSize = 48;
constexpr int kButtonIcon = 32;

QString sameFileKey(const QString& path)
{
    return QDir::cleanPath(path.trimmed()).toUpper();
}

} // namespace

frmNodaliseur::frmNodaliseur(ServerHost& host, QWidget* parent)
    : QWidget(parent), m_host(host), m_endProgram([] { QCoreApplication::exit(0); }),
      m_openFile(OpenInEditor)
{
    setObjectName(QStringLiteral("frmNodaliseur"));
    buildControls();
    // Form_Load: send, listen and information on; stop only during a transfer.
    UpdateCmdButton("1110");
    setFixedSize(Width, Height);
    setStateIcon(0);
    setProgress(0);
}

frmNodaliseur::~frmNodaliseur()
{
    removeTrayIcon();
    if (&View() == this)
        SetView(nullptr);
}

void frmNodaliseur::buildControls()
{
    m_imgEtat = new QLabel(this);
    m_imgEtat->setObjectName(QStringLiteral("imgEtat"));
    m_imgEtat->setFixedSize(kStateSize, kStateSize);
    m_imgEtat->setCursor(Qt::PointingHandCursor);
    m_imgEtat->setToolTip(QStringLiteral("Ouvrir le journal du jour"));
    m_imgEtat->installEventFilter(this);

    auto* lblEtat = new QLabel(QStringLiteral("État :"), this);
    lblEtat->setObjectName(QStringLiteral("lblEtat"));
    m_TxtEtat = new QLabel(this);
    m_TxtEtat->setObjectName(QStringLiteral("TxtEtat"));
    m_TxtEtat->setWordWrap(true);
    m_TxtEtat->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_TxtEtat->setFrameShape(QFrame::StyledPanel);
    m_TxtEtat->setFrameShadow(QFrame::Sunken);
    m_TxtEtat->setAutoFillBackground(true);
    m_TxtEtat->setBackgroundRole(QPalette::Base);
    m_TxtEtat->setMinimumHeight(kStateSize);
    m_TxtEtat->setMargin(3);

    m_txtBloc = new QLineEdit(this);
    m_txtBloc->setObjectName(QStringLiteral("txtBloc"));
    m_txtBloc->setReadOnly(true);
    m_txtBloc->setFocusPolicy(Qt::NoFocus);
    m_txtBloc->setMaxLength(20);

    m_pctJauge = new QProgressBar(this);
    m_pctJauge->setObjectName(QStringLiteral("pctJauge"));
    m_pctJauge->setRange(0, 100);
    m_pctJauge->setTextVisible(false);
    m_pctJauge->setFixedHeight(14);
    m_lblPercent = new QLabel(this);
    m_lblPercent->setObjectName(QStringLiteral("lblPercent"));
    m_lblPercent->setMinimumWidth(40);
    m_lblPercent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto* statusColumn = new QVBoxLayout;
    statusColumn->setSpacing(2);
    statusColumn->addWidget(lblEtat);
    statusColumn->addWidget(m_TxtEtat, 1);
    auto* top = new QHBoxLayout;
    top->addWidget(m_imgEtat, 0, Qt::AlignTop);
    top->addLayout(statusColumn, 1);

    auto* blocRow = new QHBoxLayout;
    auto* lblBloc = new QLabel(QStringLiteral("Données reçues :"), this);
    blocRow->addWidget(lblBloc);
    blocRow->addWidget(m_txtBloc, 1);

    auto* gaugeRow = new QHBoxLayout;
    gaugeRow->addWidget(m_pctJauge, 1);
    gaugeRow->addWidget(m_lblPercent);

    auto* buttons = new QHBoxLayout;
    for (int i = 0; i < 4; ++i) {
        auto* b = new QToolButton(this);
        b->setObjectName(QStringLiteral("imgCmd%1").arg(i));
        // Flat until hovered, raised under the mouse, sunken while pressed.
        b->setAutoRaise(true);
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setText(QString::fromUtf8(kCaptions[i]));
        b->setToolTip(QString::fromUtf8(kTips[i]));
        b->setIconSize(QSize(kButtonIcon, kButtonIcon));
        b->setIcon(PictureIcon(ButtonPicture(i)));
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        connect(b, &QToolButton::clicked, this, [this, i] { imgCmd_Click(i); });
        m_imgCmd[std::size_t(i)] = b;
        buttons->addWidget(b);
    }

    m_lblJnal = new QLabel(QStringLiteral("<a href=\"#\">Journal des événements</a>"), this);
    m_lblJnal->setObjectName(QStringLiteral("lblJnal"));
    m_lblJnal->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    connect(m_lblJnal, &QLabel::linkActivated, this, [this] { OpenJournal(); });
    m_lblInfo = new QLabel(this);
    m_lblInfo->setObjectName(QStringLiteral("lblInfo"));
    m_lblInfo->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_lblInfo->setEnabled(false);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_lblJnal);
    bottom->addStretch(1);
    bottom->addWidget(m_lblInfo);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 6);
    layout->setSpacing(5);
    layout->addLayout(top, 1);
    layout->addLayout(blocRow);
    layout->addLayout(gaugeRow);
    layout->addLayout(buttons);
    layout->addLayout(bottom);
}

void frmNodaliseur::setStateIcon(int state)
{
    m_state = state;
    const Picture picture = StatePicture(state);
    m_imgEtat->setPixmap(DrawPicture(picture, kStateSize));
    const QIcon icon = PictureIcon(picture);
    setWindowIcon(icon);
    if (m_tray)
        m_tray->setIcon(icon);
}

void frmNodaliseur::setStatusText(const QString& text)
{
    m_TxtEtat->setText(text);
}

void frmNodaliseur::setProgress(int percent)
{
    const int p = qBound(0, percent, 100);
    m_pctJauge->setValue(p);
    m_lblPercent->setText(p > 0 ? QStringLiteral("%1 %").arg(p) : QString());
}

void frmNodaliseur::setBlockDisplay(const QByteArray& text)
{
    // Line ends would break the one-line display; they show as spaces.
    QString shown = fromAnsi(text.left(20));
    shown.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    m_txtBloc->setText(shown);
}

void frmNodaliseur::setWindowVisible(bool visible)
{
    if (!visible) {
        hide();
        return;
    }
    showNormal();
    raise();
    activateWindow();
}

void frmNodaliseur::setCommandButtons(const QByteArray& mask)
{
    UpdateCmdButton(mask);
}

void frmNodaliseur::beep()
{
    QApplication::beep();
}

void frmNodaliseur::UpdateCmdButton(const QByteArray& mask)
{
    // The caption is part of the button here: enabling one enables both.
    const qsizetype n = qMin<qsizetype>(mask.size(), qsizetype(m_imgCmd.size()));
    for (qsizetype i = 0; i < n; ++i)
        m_imgCmd[std::size_t(i)]->setEnabled(mask.at(i) == '1');
}

void frmNodaliseur::setCaption(const QString& title)
{
    setWindowTitle(title);
    m_lblInfo->setText(fromAnsi(Config().RefMO));
}

void frmNodaliseur::LoadIcones()
{
    const QString splash = Paths().depFolder + QStringLiteral("Splash.jpg");
    const QPixmap background = FileExists(splash) ? QPixmap(splash) : QPixmap();
    if (!background.isNull()) {
        QPalette pal = palette();
        pal.setBrush(QPalette::Window, background.scaled(size(), Qt::KeepAspectRatioByExpanding,
                                                         Qt::SmoothTransformation));
        setPalette(pal);
        setAutoFillBackground(true);
    }
    for (int i = 0; i < 4; ++i)
        m_imgCmd[std::size_t(i)]->setIcon(PictureIcon(ButtonPicture(i)));
}

void frmNodaliseur::showWindow()
{
    setWindowVisible(true);
}

void frmNodaliseur::AddTrayIcon()
{
    const QString ref = fromAnsi(Config().RefMO);
    if (!m_tray) {
        m_trayMenu = new QMenu(this);
        QAction* quit = m_trayMenu->addAction(QString());
        quit->setObjectName(QStringLiteral("mnuTray0"));
        connect(quit, &QAction::triggered, this, [this] { mnuTray_Click(0); });
        m_tray = new QSystemTrayIcon(this);
        m_tray->setContextMenu(m_trayMenu);
        // The tray's menu opens by itself on the right button; the left one
        // brings the window back, which a hidden window needs most.
        connect(m_tray, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger ||
                        reason == QSystemTrayIcon::DoubleClick)
                        setWindowVisible(true);
                });
    }
    m_trayMenu->actions().at(0)->setText(QStringLiteral("Quitter ") + ref);
    m_tray->setToolTip(ref);
    m_tray->setIcon(PictureIcon(StatePicture(m_state)));
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray->show();
    } else if (Config().DncAppMode == 2) {
        // Nowhere to put the icon: the window takes its place in the task bar.
        showMinimized();
    }
}

void frmNodaliseur::removeTrayIcon()
{
    if (m_tray)
        m_tray->hide();
}

void frmNodaliseur::ArretNodalis()
{
    m_host.ArretNodalis();
    unload();
}

void frmNodaliseur::ArreterTrans()
{
    m_host.ArreterTrans();
}

void frmNodaliseur::imgCmd_Click(int index)
{
    switch (index) {
    case 1:
        sendChosenPrograms();
        break;
    case 2:
        restartListening();
        break;
    case 3:
        ArreterTrans();
        UpdateCmdButton("1110");
        break;
    default:
        break;
    }
}

void frmNodaliseur::sendChosenPrograms()
{
    const QStringList chosen =
        Prompt().chooseFiles(QStringLiteral("Sélectionner un programme à envoyer..."),
                             QStringLiteral("Programmes (*.*)"), Config().PathFileProgOpen, true);
    if (chosen.isEmpty())
        return;
    QString file = chosen.first();
    if (chosen.size() > 1) {
        file = Paths().tempFolder + QStringLiteral("TT_Temp.txt");
        if (!ConcatFilesByBatch(chosen, file))
            return;
    }
    const QString& send = Paths().sendFile;
    // Sending the send file onto itself would delete it first.
    if (!FileExists(file) || sameFileKey(file) == sameFileKey(send))
        return;
    DeleteFile(send);
    if (!CopyFile(file, send))
        return;
    m_host.SendAndReturn();
    Pause(2000);
    setBlockDisplay({});
    setStatusText(QString());
}

void frmNodaliseur::restartListening()
{
    if (Config().IsModeEcoute) {
        ArreterTrans();
        Pause(750);
    }
    m_host.engine().StartListening();
    Pause(2000);
}

void frmNodaliseur::mnuTray_Click(int index)
{
    if (index != 0)
        return;
    ArreterTrans();
    m_host.engine().ReturnToListening();
    unload();
}

void frmNodaliseur::OpenJournal()
{
    const QString journal = EventLogPath();
    if (FileExists(journal))
        m_openFile(journal);
}

void frmNodaliseur::unload()
{
    if (m_unloading)
        return;
    m_unloading = true;
    close();
    finishUnload();
}

void frmNodaliseur::finishUnload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    State().quitAtStart = true;
    if (Config().IconTray)
        removeTrayIcon();
    m_endProgram();
}

void frmNodaliseur::closeEvent(QCloseEvent* event)
{
    if (m_unloading) {
        event->accept();
        return;
    }
    // Closed by the user.
    const qint32 mode = Config().DncAppMode;
    if (mode == 2) {
        event->ignore();
        // The server keeps serving; without a tray icon to come back
        // through, the window stays in the task bar.
        if (m_tray && m_tray->isVisible())
            hide();
        else
            showMinimized();
        return;
    }
    if (mode == 1) {
        ArreterTrans();
        AutoKillMe();
    }
    m_unloading = true;
    event->accept();
    finishUnload();
}

bool frmNodaliseur::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_imgEtat && event->type() == QEvent::MouseButtonRelease)
        OpenJournal();
    return QWidget::eventFilter(watched, event);
}

} // namespace nodalis
