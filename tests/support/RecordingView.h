#pragma once

#include "dnc/ServerView.h"

#include <QList>
#include <QString>

namespace nodalis {

// A view for tests: records what the server shows. Constructing one makes
// it the process-wide view; destroying it puts the headless one back.
class RecordingView : public ServerView
{
public:
    RecordingView() { SetView(this); }
    ~RecordingView() override { SetView(nullptr); }
    RecordingView(const RecordingView&) = delete;
    RecordingView& operator=(const RecordingView&) = delete;

    void setStateIcon(int state) override { icons.append(state); }
    void setStatusText(const QString& text) override { statusTexts.append(text); }
    void setProgress(int percent) override { progress.append(percent); }
    void setBlockDisplay(const QByteArray&) override {}
    void setWindowVisible(bool visible) override { visibility.append(visible); }
    void setCommandButtons(const QByteArray&) override {}
    void beep() override { ++beeps; }

    QList<int> icons;
    QList<QString> statusTexts;
    QList<int> progress;
    QList<bool> visibility;
    int beeps = 0;
};

} // namespace nodalis
