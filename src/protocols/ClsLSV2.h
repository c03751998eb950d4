#pragma once

#include "protocols/SerialBursts.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>

#include <memory>

namespace nodalis {

class SerialControl;

// The LSV2 data link over the channel's serial line, as Heidenhain and AGIE
// controls speak it. A command text travels as a telegram (DLE STX text DLE
// ETX BCC) inside a transmission: ENQ, DLE "0", telegram, DLE "1", EOT.
// The link frames and acknowledges; its owner gives the commands their
// meaning through ReceiveCmd and answers with Send. It never opens, closes
// or configures the port.
class ClsLSV2 : public QObject
{
    Q_OBJECT

public:
    static constexpr char STX = 2;
    static constexpr char ETX = 3;
    static constexpr char EOT = 4;
    static constexpr char ENQ = 5;
    static constexpr char DLE = 16;
    static constexpr char NAK = 21;
    // NAKs in a row after which a send is given up.
    static constexpr int MaxNaks = 6;

    // Exclusive-or of the bytes, every DLE but a leading one left out.
    static char CalcBCC(QByteArrayView data);
    // DLE STX text DLE ETX BCC; the text goes out as it stands.
    static QByteArray MakeTelegram(QByteArrayView text);
    // The text between the first STX and the DLE ETX after it, without
    // NULs and without spaces at either end.
    static QByteArray ExtractCmd(QByteArrayView telegram);

    void Init(SerialControl& port);

    // One transmission of the text. False when it did not end with EOT
    // written: the control took the line (ENQ), TimeOutEnvoi passed without
    // a handshake answer (109), six NAKs in a row (107), a stop or a lost line.
    bool Send(const QByteArray& text);
    // Answers the control's transmissions until Cancel, a stop or the loss
    // of the line; raises ReceiveCmd once per transmission.
    void Wait();

    bool Cancel() const { return m_cancel; }
    void setCancel(bool cancel) { m_cancel = cancel; }
    bool lineLost() const { return m_reader && m_reader->lineLost(); }

signals:
    // The command of the transmission just ended (the last one received on
    // the link when this transmission brought none).
    void ReceiveCmd(QByteArray& command);

private:
    QByteArray ReadPort(qint64 waitMs = -1);
    void WritePort(const QByteArray& text);
    void ReceiveTelegrams(QByteArray burst);
    bool ended() const;

    SerialControl* m_port = nullptr;
    std::unique_ptr<BurstReader> m_reader;
    bool m_cancel = false;
    QByteArray m_lastCommand;
};

} // namespace nodalis
