#include "dnc/ServerView.h"

#include <QDateTime>

#include <cstdio>

namespace nodalis {

void HeadlessView::setStatusText(const QString& text)
{
    const QString time = QTime::currentTime().toString(QStringLiteral("hh:mm:ss"));
    std::printf("%s %s\n", qPrintable(time), text.toLocal8Bit().constData());
    std::fflush(stdout);
}

} // namespace nodalis
