#include "support/ScriptedPrompt.h"

namespace nodalis {

ScriptedPrompt::ScriptedPrompt() : m_previous(&Prompt())
{
    SetPrompt(this);
}

ScriptedPrompt::~ScriptedPrompt()
{
    if (&Prompt() == this)
        SetPrompt(m_previous);
}

void ScriptedPrompt::showMessage(const QString& title, const QString& text, Icon icon)
{
    m_messages.append({title, text, icon});
}

QStringList ScriptedPrompt::chooseFiles(const QString& title, const QString& filter,
                                        const QString& startFolder, bool several)
{
    m_fileRequests.append({title, filter, startFolder, several});
    return m_files.isEmpty() ? QStringList() : m_files.dequeue();
}

} // namespace nodalis
