#include "platform/ToolProcess.h"

#include "platform/Clock.h"

#include <QProcess>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace nodalis {

namespace {

// Longest sleep between two looks at the stop condition.
constexpr qint64 kStopCheckMs = 200;

void prepare(QProcess& process, const QStringList& arguments)
{
#ifdef Q_OS_WIN
    // The tool's own command line, as a batch would write it, and no console
    // window popping up on the machinist's screen.
    process.setNativeArguments(arguments.join(QLatin1Char(' ')));
    process.setCreateProcessArgumentsModifier(
        [](QProcess::CreateProcessArguments* args) { args->flags |= CREATE_NO_WINDOW; });
#else
    process.setArguments(arguments);
#endif
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardInputFile(QProcess::nullDevice());
}

} // namespace

ToolOutcome RunTool(const QString& program, const QStringList& arguments, qint64 limitMs,
                    const std::function<bool()>& stopped)
{
    ToolOutcome outcome;
    QProcess process;
    process.setProgram(program);
    prepare(process, arguments);
    process.start();
    if (!process.waitForStarted(5000)) {
        outcome.error = program + QStringLiteral(" : ") + process.errorString();
        return outcome;
    }
    const qint64 deadline = Clock::nowMs() + limitMs;
    while (process.state() != QProcess::NotRunning) {
        const bool stop = stopped && stopped();
        const qint64 left = deadline - Clock::nowMs();
        if (stop || left <= 0) {
            process.kill();
            process.waitForFinished(5000);
            outcome.kind = stop ? ToolOutcome::Stopped : ToolOutcome::TimedOut;
            outcome.error = stop ? QStringLiteral("arrêt demandé pendant l'exécution de ") + program
                                 : program + QStringLiteral(" ne répond plus : arrêté");
            return outcome;
        }
        WaitForEvents(qMin(left, kStopCheckMs));
    }
    if (process.exitStatus() != QProcess::NormalExit) {
        outcome.kind = ToolOutcome::Crashed;
        outcome.error = program + QStringLiteral(" s'est arrêté anormalement");
        return outcome;
    }
    outcome.kind = ToolOutcome::Ended;
    outcome.exitCode = process.exitCode();
    return outcome;
}

} // namespace nodalis
