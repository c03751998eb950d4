// nodalis-window: the server with its window and tray icon.

#include "app/ServerMain.h"
#include "app/Startup.h"
#include "dnc/ServerView.h"
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
        m_prompt = std::make_unique<WidgetPrompt>();
        SetPrompt(m_prompt.get());
        m_window = std::make_unique<frmNodaliseur>(host);
        SetView(m_window.get());
        startup.setWindow(m_window.get());
    }
    void detach() override
    {
        SetView(nullptr);
        SetPrompt(nullptr);
        m_window.reset();
        m_prompt.reset();
    }

private:
    std::unique_ptr<WidgetPrompt> m_prompt;
    std::unique_ptr<frmNodaliseur> m_window;
};

} // namespace

int main(int argc, char** argv)
{
    WidgetSide side;
    return nodalis::ServerMain(argc, argv, &side);
}
