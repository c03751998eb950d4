#pragma once

#include "platform/OperatorPrompt.h"

#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>

namespace nodalis {

// An operator prompt for tests: it records every message and file request,
// and answers file choosers from a queue the test fills beforehand. Otherwise
// it gives the safe answer of a run without anyone there: the default of a
// yes/no question, the default text of an input box, no file.
//
// Constructing one makes it the process-wide prompt; destroying it puts the
// previous one back.
class ScriptedPrompt : public OperatorPrompt
{
public:
    struct Message
    {
        QString title;
        QString text;
        Icon icon;
    };

    struct FileRequest
    {
        QString title;
        QString filter;
        QString startFolder;
        bool several;
    };

    ScriptedPrompt();
    ~ScriptedPrompt() override;
    ScriptedPrompt(const ScriptedPrompt&) = delete;
    ScriptedPrompt& operator=(const ScriptedPrompt&) = delete;

    void queueFiles(const QStringList& chosen) { m_files.enqueue(chosen); }

    const QList<Message>& messages() const { return m_messages; }
    const QList<FileRequest>& fileRequests() const { return m_fileRequests; }

    void showMessage(const QString& title, const QString& text, Icon icon) override;
    bool askYesNo(const QString&, const QString&, bool defaultAnswer) override
    {
        return defaultAnswer;
    }
    QString askText(const QString&, const QString&, const QString& defaultText) override
    {
        return defaultText;
    }
    QStringList chooseFiles(const QString& title, const QString& filter, const QString& startFolder,
                            bool several) override;

private:
    OperatorPrompt* m_previous;
    QQueue<QStringList> m_files;
    QList<Message> m_messages;
    QList<FileRequest> m_fileRequests;
};

} // namespace nodalis
