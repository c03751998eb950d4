#include "platform/StopSignal.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <windows.h>

namespace nodalis {

namespace {

void (*g_handler)() = nullptr;

BOOL WINAPI consoleHandler(DWORD)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { g_handler(); }, Qt::QueuedConnection);
    return TRUE;
}

} // namespace

void InstallStopSignalHandler(void (*handler)())
{
    g_handler = handler;
    SetConsoleCtrlHandler(consoleHandler, TRUE);
}

} // namespace nodalis
