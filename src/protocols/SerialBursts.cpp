#include "protocols/SerialBursts.h"

#include "dnc/EventMessages.h"
#include "platform/AnsiText.h"
#include "platform/Clock.h"
#include "platform/SerialControl.h"

namespace nodalis {

LineLossWatch::LineLossWatch(SerialControl& port) : m_port(port)
{
    m_watch = QObject::connect(&m_port, &SerialControl::OnComm, [this] {
        if (m_port.CommEvent() == SerialControl::EventDeviceLost)
            m_lost = true;
    });
}

LineLossWatch::~LineLossWatch()
{
    QObject::disconnect(m_watch);
}

bool LineLossWatch::gone() const
{
    return m_lost || !m_port.PortOpen();
}

void TellBurstCut(bool& told)
{
    if (!told)
        SetStatus(999, {toAnsi(QStringLiteral("Réception sans pause de plus de 1 Mo : coupée en "
                                              "morceaux de 1 Mo"))});
    told = true;
}

BurstReader::BurstReader(SerialControl& port, std::function<bool()> stopped)
    : m_port(port), m_stopped(std::move(stopped)), m_line(port)
{
    m_port.setInputLen(0);
}

BurstReader::~BurstReader() = default;

QByteArray BurstReader::ReadPort(qint64 waitMs)
{
    QByteArray burst;
    const qint64 start = Clock::nowMs();
    for (;;) {
        if (m_port.InBufferCount() >= 1) {
            // The burst goes on while each pause brings more.
            while (m_port.InBufferCount() >= 1) {
                burst += m_port.Input();
                if (burst.size() >= MaxBurstBytes) {
                    TellBurstCut(m_cutTold);
                    m_end = End::Burst;
                    return burst;
                }
                Pause(GapMs);
                if (m_stopped() || m_line.gone())
                    break;
            }
            if (m_port.InBufferCount() == 0 && !burst.isEmpty()) {
                m_cutTold = false;
                m_end = End::Burst;
                return burst;
            }
        }
        if (m_stopped()) {
            m_end = End::Stopped;
            return burst;
        }
        if (m_line.gone()) {
            m_end = End::LineLost;
            return burst;
        }
        qint64 left = -1;
        if (waitMs >= 0) {
            left = waitMs - (Clock::nowMs() - start);
            if (left <= 0) {
                m_end = End::TimedOut;
                return burst;
            }
        }
        WaitForEvents(left);
    }
}

} // namespace nodalis
