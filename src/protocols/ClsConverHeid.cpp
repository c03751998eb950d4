#include "protocols/ClsConverHeid.h"

namespace nodalis {

QByteArray ClsConverHeid::AnswerTo(const QByteArray& command)
{
    if (command == "A_LGINSPECT" || command == "A_LGFILE" || command == "A_LO")
        return QByteArrayLiteral("T_OK");
    if (command == "R_VR")
        return QByteArrayLiteral("S_VR");
    if (command == "R_PR")
        return QByteArrayLiteral("S_PR");
    return {};
}

void ClsConverHeid::Init(int mode, SerialControl& port)
{
    m_mode = mode;
    if (mode != SerialLine)
        return;
    m_link = std::make_unique<ClsLSV2>();
    connect(m_link.get(), &ClsLSV2::ReceiveCmd, this, &ClsConverHeid::mClsLsv2_ReceiveCmd);
    m_link->Init(port);
}

void ClsConverHeid::SendMsg(const QByteArray& text)
{
    if (m_mode == SerialLine && m_link)
        m_link->Send(text);
}

void ClsConverHeid::WaitForMsg()
{
    if (m_mode == SerialLine && m_link)
        m_link->Wait();
}

void ClsConverHeid::Cancel()
{
    if (m_link)
        m_link->setCancel(true);
}

void ClsConverHeid::mClsLsv2_ReceiveCmd(QByteArray& command)
{
    if (const QByteArray answer = AnswerTo(command); !answer.isEmpty())
        SendMsg(answer);
}

} // namespace nodalis
