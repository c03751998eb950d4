#pragma once

#include "dnc/ServerView.h"
#include "server/StartupWindow.h"

#include <QWidget>

#include <array>
#include <functional>

class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QSystemTrayIcon;
class QToolButton;

namespace nodalis {

class ServerHost;

// The server's window: state picture, status text, progress gauge, the start
// of the data received, four command buttons and a tray icon. It shows what
// the engine reports and hands every click to the host; it decides nothing.
class frmNodaliseur : public QWidget, public ServerView, public StartupWindow
{
    Q_OBJECT

public:
    // 5595 x 4215 twips at 15 twips a pixel.
    static constexpr int Width = 373;
    static constexpr int Height = 281;

    explicit frmNodaliseur(ServerHost& host, QWidget* parent = nullptr);
    ~frmNodaliseur() override;

    // What the engine reports.
    void setStateIcon(int state) override;
    void setStatusText(const QString& text) override;
    void setProgress(int percent) override;
    void setBlockDisplay(const QByteArray& text) override;
    void setWindowVisible(bool visible) override;
    void setCommandButtons(const QByteArray& mask) override;
    void beep() override;

    // What start-up asks of the window.
    void setCaption(const QString& title) override;
    void LoadIcones() override;
    void showWindow() override;
    void AddTrayIcon() override;

    // Stops the server and ends the program.
    void ArretNodalis();
    // Stops the transfer in progress.
    void ArreterTrans();
    // Character i of the mask (from 1) set to "1" enables button i-1 and its
    // caption, any other character disables them; buttons beyond the mask's
    // length are untouched.
    void UpdateCmdButton(const QByteArray& mask);
    void AutoKillMe() {}

    void imgCmd_Click(int index);
    void mnuTray_Click(int index);
    // Opens the day's event log, when there is one.
    void OpenJournal();

    QSystemTrayIcon* trayIcon() const { return m_tray; }
    QMenu* trayMenu() const { return m_trayMenu; }
    int stateShown() const { return m_state; }

    // How the program ends when the window unloads, and how a file is opened
    // in the text editor; replaced by tests.
    void setProgramEnd(std::function<void()> end) { m_endProgram = std::move(end); }
    void setFileOpener(std::function<void(const QString&)> open) { m_openFile = std::move(open); }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void sendChosenPrograms();
    void restartListening();
    // Hides the window and ends the program.
    void unload();
    void finishUnload();
    void removeTrayIcon();

    ServerHost& m_host;
    QLabel* m_imgEtat;
    QLabel* m_TxtEtat;
    QLineEdit* m_txtBloc;
    QProgressBar* m_pctJauge;
    QLabel* m_lblPercent;
    QLabel* m_lblJnal;
    QLabel* m_lblInfo;
    std::array<QToolButton*, 4> m_imgCmd{};
    QSystemTrayIcon* m_tray = nullptr;
    QMenu* m_trayMenu = nullptr;
    int m_state = 0;
    bool m_unloading = false;
    bool m_unloaded = false;
    std::function<void()> m_endProgram;
    std::function<void(const QString&)> m_openFile;
};

} // namespace nodalis
