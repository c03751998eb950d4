#pragma once

#include <QString>
#include <QStringList>

namespace nodalis {

// Everything the server asks of, or tells, the operator goes through this
// interface: the window answers with dialogs, a headless run answers with
// the safe default (and writes messages on stderr), tests answer from a script.
class OperatorPrompt
{
public:
    enum class Icon
    {
        Information,
        Warning,
        Critical,
        Question
    };

    virtual ~OperatorPrompt() = default;

    virtual void showMessage(const QString& title, const QString& text, Icon icon) = 0;
    virtual bool askYesNo(const QString& title, const QString& text, bool defaultAnswer) = 0;
    virtual QString askText(const QString& title, const QString& label,
                            const QString& defaultText) = 0;
    // Files chosen in an open-file dialog, in the dialog's order; empty when cancelled.
    virtual QStringList chooseFiles(const QString& title, const QString& filter,
                                    const QString& startFolder, bool several) = 0;
};

// The prompt that answers without anyone there: from the script named by
// NODALIS_PROMPT_SCRIPT (one answer a line: "yes", "no" or "text NAME", used
// in order), then with the safe default. Each question and its answer go
// to stderr.
class HeadlessPrompt : public OperatorPrompt
{
public:
    void showMessage(const QString& title, const QString& text, Icon icon) override;
    bool askYesNo(const QString& title, const QString& text, bool defaultAnswer) override;
    QString askText(const QString& title, const QString& label,
                    const QString& defaultText) override;
    QStringList chooseFiles(const QString& title, const QString& filter, const QString& startFolder,
                            bool several) override;
};

// The process-wide prompt; a headless one until the window installs its own.
OperatorPrompt& Prompt();
void SetPrompt(OperatorPrompt* prompt);

// Whether the process runs without a window; decides where a few
// diagnostics go (stderr when headless).
bool IsHeadless();
void SetHeadless(bool headless);

} // namespace nodalis
