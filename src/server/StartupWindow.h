#pragma once

#include <QString>

namespace nodalis {

// What start-up does with the server window. A run without a window has none;
// the core never sees the widgets behind it.
class StartupWindow
{
public:
    virtual ~StartupWindow() = default;

    virtual void setCaption(const QString& title) = 0;
    // Loads the window's pictures (background and command buttons).
    virtual void LoadIcones() = 0;
    virtual void showWindow() = 0;
    // Adds the notification-area icon, its tooltip and its quit entry.
    virtual void AddTrayIcon() = 0;
};

} // namespace nodalis
