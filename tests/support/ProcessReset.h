#pragma once

#include <QString>

namespace nodalis {

// Gives a test a fresh process: default settings, the paths of baseFolder,
// an idle channel, no event shown, no stop asked for, no upload in hand.
// The view and notifier a test installed stay installed.
void ResetProcessState(const QString& baseFolder);

} // namespace nodalis
