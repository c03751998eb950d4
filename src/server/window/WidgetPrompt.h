#pragma once

#include "platform/OperatorPrompt.h"

namespace nodalis {

// The operator prompts of a run with a window: message boxes, questions and
// the open-file dialog.
class WidgetPrompt : public OperatorPrompt
{
public:
    void showMessage(const QString& title, const QString& text, Icon icon) override;
    bool askYesNo(const QString& title, const QString& text, bool defaultAnswer) override;
    QString askText(const QString& title, const QString& label,
                    const QString& defaultText) override;
    QStringList chooseFiles(const QString& title, const QString& filter, const QString& startFolder,
                            bool several) override;
};

} // namespace nodalis
