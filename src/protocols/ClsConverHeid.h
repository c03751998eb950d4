#pragma once

#include "protocols/ClsLSV2.h"

#include <QByteArray>
#include <QObject>

#include <memory>

namespace nodalis {

class SerialControl;

// The server side of a Heidenhain control's LSV2 conversation on the
// serial line: it answers the login, logout, version and parameter
// requests, and nothing else.
class ClsConverHeid : public QObject
{
    Q_OBJECT

public:
    enum Mode
    {
        SerialLine = 1,
        Socket = 2, // not served
    };

    // The answer to a command; empty: none is sent.
    static QByteArray AnswerTo(const QByteArray& command);

    // Serial-line mode opens the link on the port; other modes serve nothing.
    void Init(int mode, SerialControl& port);
    void SendMsg(const QByteArray& text);
    // Serves until Cancel, a stop or the loss of the line.
    void WaitForMsg();
    void Cancel();
    bool lineLost() const { return m_link && m_link->lineLost(); }

private:
    void mClsLsv2_ReceiveCmd(QByteArray& command);

    int m_mode = 0;
    std::unique_ptr<ClsLSV2> m_link;
};

} // namespace nodalis
