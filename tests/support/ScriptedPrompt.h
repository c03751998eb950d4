#pragma once

#include "platform/OperatorPrompt.h"

#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>

namespace nodalis {

// An operator prompt for tests: it records every message and question, and
// answers from queues the test fills beforehand. With an empty queue it gives
// the safe answer of a run without anyone there: the default of a yes/no
// question, the default text of an input box, no file for a file chooser.
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

    struct Question
    {
        QString title;
        QString text; // the question, or the input box's label
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

    void queueYesNo(bool answer) { m_yesNo.enqueue(answer); }
    void queueText(const QString& answer) { m_texts.enqueue(answer); }
    void queueFiles(const QStringList& chosen) { m_files.enqueue(chosen); }

    const QList<Message>& messages() const { return m_messages; }
    const QList<Question>& yesNoQuestions() const { return m_yesNoQuestions; }
    const QList<Question>& textQuestions() const { return m_textQuestions; }
    const QList<FileRequest>& fileRequests() const { return m_fileRequests; }

    // Answers queued but not asked for.
    qsizetype unusedAnswers() const { return m_yesNo.size() + m_texts.size() + m_files.size(); }

    void showMessage(const QString& title, const QString& text, Icon icon) override;
    bool askYesNo(const QString& title, const QString& text, bool defaultAnswer) override;
    QString askText(const QString& title, const QString& label,
                    const QString& defaultText) override;
    QStringList chooseFiles(const QString& title, const QString& filter, const QString& startFolder,
                            bool several) override;

private:
    OperatorPrompt* m_previous;
    QQueue<bool> m_yesNo;
    QQueue<QString> m_texts;
    QQueue<QStringList> m_files;
    QList<Message> m_messages;
    QList<Question> m_yesNoQuestions;
    QList<Question> m_textQuestions;
    QList<FileRequest> m_fileRequests;
};

} // namespace nodalis
