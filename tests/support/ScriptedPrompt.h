#pragma once

#include "platform/OperatorPrompt.h"

#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>

namespace nodalis {

// An operator prompt for tests: it records every message and file request,
// and answers file choosers, and yes/no questions and input boxes ("yes",
// "no", "text NAME"), from queues the test fills beforehand. Otherwise it
// gives the safe answer of a run without anyone there: the default of a
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
    void queueAnswer(const QString& answer) { m_answers.enqueue(answer); }
    // The questions and input boxes shown, in order.
    const QStringList& questions() const { return m_questions; }

    const QList<Message>& messages() const { return m_messages; }
    const QList<FileRequest>& fileRequests() const { return m_fileRequests; }

    void showMessage(const QString& title, const QString& text, Icon icon) override;
    bool askYesNo(const QString&, const QString& text, bool defaultAnswer) override
    {
        const QString answer = next(text);
        return answer == u"yes" || (answer != u"no" && defaultAnswer);
    }
    QString askText(const QString&, const QString& label, const QString& defaultText) override
    {
        const QString answer = next(label);
        return answer.startsWith(u"text ") ? answer.mid(5) : defaultText;
    }
    QStringList chooseFiles(const QString& title, const QString& filter, const QString& startFolder,
                            bool several) override;

private:
    QString next(const QString& question)
    {
        m_questions.append(question);
        return m_answers.isEmpty() ? QString() : m_answers.dequeue();
    }

    OperatorPrompt* m_previous;
    QQueue<QString> m_answers;
    QStringList m_questions;
    QQueue<QStringList> m_files;
    QList<Message> m_messages;
    QList<FileRequest> m_fileRequests;
};

} // namespace nodalis
