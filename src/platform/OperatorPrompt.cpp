#include "platform/OperatorPrompt.h"

#include <QFile>
#include <QQueue>

#include <cstdio>

namespace nodalis {

namespace {

HeadlessPrompt g_headlessPrompt;
OperatorPrompt* g_prompt = nullptr;
bool g_headless = true;

void printLine(const QString& line)
{
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

// The answers of NODALIS_PROMPT_SCRIPT, one a line ("yes", "no",
// "text NAME"), read on the first question and used in order.
QQueue<QString>& scriptedAnswers()
{
    static QQueue<QString> answers = [] {
        QQueue<QString> lines;
        const QString path = qEnvironmentVariable("NODALIS_PROMPT_SCRIPT");
        QFile file(path);
        if (path.isEmpty())
            return lines;
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            printLine(QStringLiteral("NODALIS_PROMPT_SCRIPT: cannot read ") + path);
            return lines;
        }
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            if (!line.isEmpty())
                lines.enqueue(line);
        }
        return lines;
    }();
    return answers;
}

// The next scripted answer, logged with its question; empty once none is left.
QString nextAnswer(const QString& question)
{
    QQueue<QString>& answers = scriptedAnswers();
    const QString answer = answers.isEmpty() ? QString() : answers.dequeue();
    printLine(question + QStringLiteral(" -> ") +
              (answer.isEmpty() ? QStringLiteral("(default)") : answer));
    return answer;
}

} // namespace

void HeadlessPrompt::showMessage(const QString& title, const QString& text, Icon)
{
    printLine(title.isEmpty() ? text : title + QStringLiteral(": ") + text);
}

bool HeadlessPrompt::askYesNo(const QString&, const QString& text, bool defaultAnswer)
{
    const QString answer = nextAnswer(text).toLower();
    if (answer == QLatin1String("yes"))
        return true;
    if (answer == QLatin1String("no"))
        return false;
    return defaultAnswer;
}

QString HeadlessPrompt::askText(const QString&, const QString& label, const QString& defaultText)
{
    const QString answer = nextAnswer(label);
    if (answer.startsWith(QLatin1String("text ")))
        return answer.mid(5).trimmed();
    return defaultText;
}

QStringList HeadlessPrompt::chooseFiles(const QString&, const QString&, const QString&, bool)
{
    return {};
}

OperatorPrompt& Prompt()
{
    return g_prompt ? *g_prompt : g_headlessPrompt;
}

void SetPrompt(OperatorPrompt* prompt)
{
    g_prompt = prompt;
}

bool IsHeadless()
{
    return g_headless;
}

void SetHeadless(bool headless)
{
    g_headless = headless;
}

} // namespace nodalis
