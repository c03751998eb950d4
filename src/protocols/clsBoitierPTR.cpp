#include "protocols/clsBoitierPTR.h"

#include "dnc/EventMessages.h"
#include "dnc/ProcessState.h"
#include "dnc/SerialLine.h"
#include "dnc/ServerView.h"
#include "platform/AnsiText.h"
#include "platform/Clock.h"
#include "protocols/ProgramLines.h"
#include "startup/Settings.h"

namespace nodalis {

namespace {

// Pauses of the transfer: after the opening ACK, before the closing ETX,
// after it.
constexpr int kOpeningMs = 1000;
constexpr int kBeforeCloseMs = 100;
constexpr int kAfterCloseMs = 500;

} // namespace

char clsBoitierPTR::CalcBCC(QByteArrayView line)
{
    char bcc = STX;
    for (char c : line)
        bcc ^= c;
    return char(bcc ^ ETB);
}

QByteArray clsBoitierPTR::MakeFrame(QByteArrayView line, bool last)
{
    QByteArray frame;
    frame.reserve(line.size() + 4);
    frame.append(STX).append(line).append(ETB).append(CalcBCC(line));
    if (last)
        frame.append(ETX);
    return frame;
}

bool clsBoitierPTR::RequestedProgram(const QByteArray& burst, QByteArray& name)
{
    const qsizetype percent = burst.indexOf('%');
    const qsizetype e = burst.indexOf('E');
    if (percent < 0 || e < percent)
        return false;
    name = burst.sliced(percent + 1, e - percent - 1);
    return true;
}

bool clsBoitierPTR::ended() const
{
    return m_cancel || State().stopRequested;
}

void clsBoitierPTR::WritePort(const QByteArray& bytes)
{
    WriteText(*m_port, bytes);
}

void clsBoitierPTR::Init(SerialControl& port)
{
    m_port = &port;
    m_cancel = false;
    m_reader = std::make_unique<BurstReader>(port, [this] { return ended(); });
    while (!ended() && !lineLost()) {
        const QByteArray burst = m_reader->ReadPort();
        if (!burst.contains('%'))
            continue;
        QByteArray name;
        if (!RequestedProgram(burst, name)) {
            SetStatus(999, {toAnsi(QStringLiteral("Boîtier PTR : demande sans fin de nom (E), "
                                                  "ignorée"))});
            continue;
        }
        emit FindThisProg(name);
        return;
    }
}

void clsBoitierPTR::SendProg(const QString& path)
{
    if (!m_reader)
        return; // only from inside Init, where the box's answers are read
    const QList<QByteArray> lines = ProgramLines(path);
    const qint64 waitMs = qint64(Config().Port.TimeOutEnvoi) * 1000;
    WritePort(QByteArray(1, ACK));
    Pause(kOpeningMs);
    for (qsizetype i = 0; i < lines.size() && !ended(); ++i) {
        View().setBlockDisplay(lines[i]);
        DoEvents();
        WritePort(MakeFrame(lines[i], i == lines.size() - 1));
        const QByteArray answer = m_reader->ReadPort(waitMs > 0 ? waitMs : -1);
        if (m_reader->lastEnd() == BurstReader::End::TimedOut)
            SetStatus(109);
        if (answer != QByteArray(1, ACK))
            break;
    }
    if (ended())
        return;
    Pause(kBeforeCloseMs);
    WritePort(QByteArray(1, ETX));
    SetStatus(691);
    View().setBlockDisplay({});
    Pause(kAfterCloseMs);
}

} // namespace nodalis
