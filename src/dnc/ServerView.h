#pragma once

#include <QByteArray>
#include <QString>

namespace nodalis {

// What the server shows of itself. The window implements it; a headless run
// writes the status lines on stdout instead. The engine never knows which.
class ServerView
{
public:
    virtual ~ServerView() = default;

    virtual void setStateIcon(int state) = 0;
    virtual void setStatusText(const QString& text) = 0;
    virtual void setProgress(int percent) = 0;
    virtual void setBlockDisplay(const QByteArray& text) = 0;
    virtual void setWindowVisible(bool visible) = 0;
    // Enables command button i when character i of the mask is "1"
    // (buttons beyond the mask are left as they are).
    virtual void setCommandButtons(const QByteArray& mask) = 0;
    // The system beep; a view without a speaker stays silent.
    virtual void beep() {}
};

class HeadlessView : public ServerView
{
public:
    void setStateIcon(int) override {}
    void setStatusText(const QString& text) override;
    void setProgress(int) override {}
    void setBlockDisplay(const QByteArray&) override {}
    void setWindowVisible(bool) override {}
    void setCommandButtons(const QByteArray&) override {}
};

// The process-wide view; headless until the window installs itself.
ServerView& View();
void SetView(ServerView* view);

} // namespace nodalis
