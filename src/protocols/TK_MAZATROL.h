#pragma once

#include "protocols/MazatrolConvert.h"
#include "protocols/MazatrolReplies.h"
#include "protocols/SerialBursts.h"

#include <QByteArray>
#include <QMetaObject>
#include <QString>

#include <functional>

namespace nodalis {

class ProgramSender;
class SerialControl;

namespace mazatrol {

// Where the machine's messages come from and the replies go.
class Line
{
public:
    virtual ~Line() = default;
    // The next message of the machine; empty after a silence.
    virtual QByteArray ReadBurst() = 0;
    virtual void Write(const QByteArray& reply) = 0;
    virtual bool lost() const = 0;
};

// The machine's serial line. A message ends with EOT or H84, after TimeOut
// seconds (at least one) of silence, or on a stop; the line is looked at
// every 50 ms.
class SerialBurstLine : public Line
{
public:
    static constexpr int PollMs = 50;

    SerialBurstLine(SerialControl& port, std::function<bool()> stopped);
    ~SerialBurstLine() override;
    SerialBurstLine(const SerialBurstLine&) = delete;
    SerialBurstLine& operator=(const SerialBurstLine&) = delete;

    QByteArray ReadBurst() override;
    void Write(const QByteArray& reply) override;
    bool lost() const override;

private:
    SerialControl& m_port;
    std::function<bool()> m_stopped;
    LineLossWatch m_line;
    bool m_cutTold = false;
};

// The send loop: answers the machine's messages from the program file until
// the program has gone out (true), or the block counter, a stop, a lost line
// or a silent machine (TimeOutEnvoi, 109) ends it (false).
bool SendLoop(Line& line, const QString& program, int codeCN, const std::function<bool()>& stopped);

struct ReceiveOutcome
{
    bool written = false; // every record reached the reception file
    int records = 0;
};
// The receive loop: the records of the machine's data frames go to the
// reception file as they come. It ends on the block counter, a stop, a lost
// line, or TimeOut seconds of silence after data. Records the reception
// file cannot take are kept in a dated file of the temporary folder (713).
ReceiveOutcome ReceiveLoop(Line& line, int codeCN, const std::function<bool()>& stopped);

// Before a send: the send file copied and prepared, identified, an ISO
// program converted. toSend is the file to send; false (with its event)
// when it must not be sent.
bool PreTreatment(const QString& sendFile, ProgramSender& sender, QString& toSend);

// After a reception: the received program identified; a hybrid one becomes
// ISO text with ConvertMazIso. The program a call (program 8888 named
// "ORVA " + name) asks for, empty when it is no call.
QByteArray PostTreatment(const QString& receptionFile, int codeCN);

// The record header of the last reception (its program number and name).
const RecordHeader& ReceivedHeader();

} // namespace mazatrol
} // namespace nodalis
