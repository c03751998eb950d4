#include "platform/OperatorPrompt.h"

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

} // namespace

void HeadlessPrompt::showMessage(const QString& title, const QString& text, Icon)
{
    printLine(title.isEmpty() ? text : title + QStringLiteral(": ") + text);
}

bool HeadlessPrompt::askYesNo(const QString&, const QString&, bool defaultAnswer)
{
    return defaultAnswer;
}

QString HeadlessPrompt::askText(const QString&, const QString&, const QString& defaultText)
{
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
