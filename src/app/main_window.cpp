// nodalis-window: the server with its window and tray icon.

#include "app/ServerMain.h"
#include "app/Startup.h"
#include "dnc/ServerView.h"
#include "explorer/FrmReseau.h"
#include "platform/Desktop.h"
#include "platform/OperatorPrompt.h"
#include "server/ServerHost.h"
#include "server/window/WidgetPrompt.h"
#include "server/window/frmNodaliseur.h"

#include <QApplication>

namespace {

using namespace nodalis;

class WidgetSide final : public WindowSide
{
public:
    std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv) override
    {
        auto app = std::make_unique<QApplication>(argc, argv);
        // Closing a dialog while the window is hidden must not end the server.
        QApplication::setQuitOnLastWindowClosed(false);
        return app;
    }
    void attach(ServerHost& host, Startup& startup) override
    {
        // Where nothing is drawn (--window offscreen) nobody could answer a
        // dialog: the questions keep their headless answers.
        if (DisplayAvailable()) {
            m_prompt = std::make_unique<WidgetPrompt>();
            SetPrompt(m_prompt.get());
        }
        m_window = std::make_unique<frmNodaliseur>(host);
        SetView(m_window.get());
        startup.setWindow(m_window.get());
        m_explorer = std::make_unique<FrmReseau>(host.explorer());
        host.explorer().setWindow(m_explorer.get());
        m_host = &host;
    }
    void detach() override
    {
        m_host->explorer().setWindow(nullptr);
        m_explorer.reset();
        SetView(nullptr);
        SetPrompt(nullptr);
        m_window.reset();
        m_prompt.reset();
    }

private:
    std::unique_ptr<WidgetPrompt> m_prompt;
    std::unique_ptr<frmNodaliseur> m_window;
    std::unique_ptr<FrmReseau> m_explorer;
    ServerHost* m_host = nullptr;
};

} // namespace

int main(int argc, char** argv)
{
    WidgetSide side;
    return nodalis::ServerMain(argc, argv, &side);
}
