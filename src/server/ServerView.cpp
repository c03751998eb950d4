#include "server/ServerView.h"

#include <QDateTime>

#include <cstdio>

namespace nodalis {

namespace {
HeadlessView g_headless;
ServerView* g_view = nullptr;
} // namespace

void HeadlessView::setStatusText(const QString& text)
{
    const QString time = QTime::currentTime().toString(QStringLiteral("hh:mm:ss"));
    std::printf("%s %s\n", qPrintable(time), text.toLocal8Bit().constData());
    std::fflush(stdout);
}

ServerView& View()
{
    return g_view ? *g_view : g_headless;
}

void SetView(ServerView* view)
{
    g_view = view;
}

} // namespace nodalis
