#include "protocols/clsRS_ORVA.h"

#include "dnc/CharFilters.h"
#include "dnc/EventMessages.h"
#include "dnc/MachineSpecifics.h"
#include "dnc/PortEngine.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "dnc/ProgramSender.h"
#include "dnc/SerialLine.h"
#include "dnc/ServerView.h"
#include "dnc/SyntaxCheck.h"
#include "platform/AnsiText.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"
#include "store/TextUtils.h"

namespace nodalis {

qint32 clsRS_ORVA::ParityCode(const QByteArray& letter)
{
    const QByteArray p = TrimSpaces(letter).toUpper();
    return p == "E" ? 2 : p == "O" ? 1 : 0;
}

clsRS_ORVA::clsRS_ORVA(PortEngine& engine, ProgramSender& sender, Factory factory)
    : m_engine(engine), m_sender(sender), m_factory(std::move(factory))
{
}

void clsRS_ORVA::RS_ORVA_Cancel()
{
    if (!m_component)
        m_component = m_factory();
    m_component->Cancel();
}

void clsRS_ORVA::RS_ORVA_Init(qint16 port, qint32 baud, qint16 flow, qint16 dataBits,
                              qint16 stopBits, const QByteArray& parity)
{
    m_component = m_factory();
    QObject::connect(m_component.get(), &PushComponent::notice, [] { View().beep(); });
    m_component->initcom("COM" + QByteArray::number(port), baud, flow, ParityCode(parity), dataBits,
                         stopBits);
}

void clsRS_ORVA::RS_ORVA_SendProg(const QString& path, bool& success)
{
    const Settings& s = Config();
    const PortSettings& r = s.Port;
    if (s.CheckBeforeSend)
        CheckSyntax(path);
    if (s.FiltreCarSpec)
        FilterSpecialChars(path, " ");
    ApplySendSpecifics(path, r.Specificite);
    ReleaseSerialPort(m_engine.comDNC());
    RS_ORVA_Init(qint16(r.NumPort), qint32(LeadingNumber(r.BaudsEnvoi)), qint16(r.CtrlFlux),
                 qint16(LeadingNumber(r.DataBit)), qint16(LeadingNumber(r.StopBit)), r.Parite);
    SetStatus(102);
    m_sender.JournalEntry(102);
    m_engine.SetPortState(ChannelSending);
    m_pushing = true;
    success = m_component->SendProg(path);
    m_pushing = false;
    m_engine.SetPortState(ChannelSending);
    // A push stopped on purpose is no fault of the line.
    if (!success && !State().stopRequested)
        SetStatusWithReason(107, toAnsi(m_component->error()));
}

} // namespace nodalis
