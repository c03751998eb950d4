#include "protocols/ClsLSV2.h"

#include "dnc/EventMessages.h"
#include "dnc/ProcessState.h"
#include "dnc/SerialLine.h"
#include "dnc/ServerView.h"
#include "platform/Clock.h"
#include "platform/SerialControl.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"

namespace nodalis {

namespace {

constexpr char kReady[] = {ClsLSV2::DLE, '0'};
constexpr char kAccepted[] = {ClsLSV2::DLE, '1'};
constexpr char kTelegramEnd[] = {ClsLSV2::DLE, ClsLSV2::ETX};
constexpr char kTelegramStart[] = {ClsLSV2::DLE, ClsLSV2::STX};

// Pause after every write to the line.
constexpr int kWritePauseMs = 10;

bool is(const QByteArray& burst, QByteArrayView expected)
{
    return QByteArrayView(burst) == expected;
}

bool isOne(const QByteArray& burst, char c)
{
    return burst.size() == 1 && burst[0] == c;
}

} // namespace

char ClsLSV2::CalcBCC(QByteArrayView data)
{
    char bcc = 0;
    for (qsizetype i = 0; i < data.size(); ++i)
        if (i == 0 || data[i] != DLE)
            bcc ^= data[i];
    return bcc;
}

QByteArray ClsLSV2::MakeTelegram(QByteArrayView text)
{
    QByteArray telegram;
    telegram.reserve(text.size() + 5);
    telegram.append(kTelegramStart, 2).append(text).append(kTelegramEnd, 2);
    telegram.append(CalcBCC(QByteArrayView(telegram).sliced(2)));
    return telegram;
}

QByteArray ClsLSV2::ExtractCmd(QByteArrayView telegram)
{
    const qsizetype stx = telegram.indexOf(STX);
    if (stx < 0)
        return {};
    const QByteArrayView rest = telegram.sliced(stx + 1);
    const qsizetype end = rest.indexOf(QByteArrayView(kTelegramEnd, 2));
    QByteArray text = (end < 0 ? rest : rest.first(end)).toByteArray();
    text.removeIf([](char c) { return c == '\0'; });
    return TrimSpaces(text);
}

void ClsLSV2::Init(SerialControl& port)
{
    m_port = &port;
    m_cancel = false;
    m_reader = std::make_unique<BurstReader>(port, [this] { return ended(); });
}

bool ClsLSV2::ended() const
{
    return m_cancel || State().stopRequested;
}

QByteArray ClsLSV2::ReadPort(qint64 waitMs)
{
    return m_reader->ReadPort(waitMs);
}

void ClsLSV2::WritePort(const QByteArray& text)
{
    WriteText(*m_port, text);
    Pause(kWritePauseMs);
}

bool ClsLSV2::Send(const QByteArray& text)
{
    const qint64 limitMs = qint64(Config().Port.TimeOutEnvoi) * 1000;
    WritePort(QByteArray(1, ENQ));
    qint64 since = Clock::nowMs();
    int naks = 0;
    for (;;) {
        const qint64 left = limitMs > 0 ? qMax<qint64>(limitMs - (Clock::nowMs() - since), 0) : -1;
        const QByteArray reply = ReadPort(left);
        switch (m_reader->lastEnd()) {
        case BurstReader::End::TimedOut:
            SetStatus(109);
            return false;
        case BurstReader::End::Stopped:
        case BurstReader::End::LineLost:
            return false;
        case BurstReader::End::Burst:
            break;
        }
        QByteArray next;
        if (is(reply, QByteArrayView(kReady, 2))) {
            next = MakeTelegram(text);
        } else if (is(reply, QByteArrayView(kAccepted, 2))) {
            next = QByteArray(1, EOT);
        } else if (isOne(reply, NAK)) {
            if (++naks >= MaxNaks) {
                SetStatus(107);
                return false;
            }
            next = MakeTelegram(text);
        } else if (isOne(reply, ENQ)) {
            return false; // the control wants the line
        } else {
            continue; // anything else is not an answer
        }
        if (!isOne(reply, NAK))
            naks = 0;
        WritePort(next);
        since = Clock::nowMs();
        if (isOne(next, EOT))
            return true;
    }
}

void ClsLSV2::Wait()
{
    while (!ended() && !lineLost()) {
        const QByteArray burst = ReadPort();
        if (isOne(burst, ENQ))
            ReceiveTelegrams(burst);
        DoEvents();
    }
}

void ClsLSV2::ReceiveTelegrams(QByteArray burst)
{
    for (;;) {
        QByteArray previous;
        while (burst.isEmpty() || burst[0] != EOT) {
            if (ended() || lineLost())
                return;
            QByteArray answer;
            if (isOne(burst, ENQ)) {
                answer = QByteArray(kReady, 2);
            } else if (isOne(burst, NAK)) {
                answer = previous;
            } else if (burst.contains(QByteArrayView(kTelegramEnd, 2)) &&
                       burst.contains(QByteArrayView(kTelegramStart, 2))) {
                m_lastCommand = ExtractCmd(burst);
                if (burst.contains("N276"))
                    View().beep();
                answer = QByteArray(kAccepted, 2);
            }
            // A telegram cut across bursts, or anything unknown, gets no
            // answer: the control repeats it after its own time-out.
            if (!answer.isEmpty())
                WritePort(answer);
            previous = answer;
            burst = ReadPort();
        }
        QByteArray command = m_lastCommand;
        emit ReceiveCmd(command);
        // A new transmission opened right behind the EOT.
        if (!burst.contains(ENQ) || ended())
            return;
        burst = QByteArray(1, ENQ);
    }
}

} // namespace nodalis
