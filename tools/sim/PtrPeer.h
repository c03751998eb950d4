#pragma once

#include "sim/ScriptedPeer.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>

namespace nodalis::sim {

// Plays a PTR box on the simulator's line: the operator keys a program
// number, the box asks the server for that program, then checks and
// acknowledges it line by line, each line in a frame of its own. It runs a
// list of steps, checks every byte the server sends, and tells in finished()
// whether all went well. The framing is written here on its own, so that a
// fault in the server's framing shows as a failed step instead of agreeing
// with itself.
//
// Steps, one per list entry (or a script separated by ';'):
//   request NUMBER [FILE] | request NUMBER missing
//   nak-at N | garbage-at N | silent-at N   (frame N of the next request)
//   noise N | raw TEXT | wait MS
// "raw" takes C escapes (\r \n \t \xHH); its text starts after one space.
//
// The log reads "> \"%1234E\\r\\n\"", "< ACK", "< STX \"N10 G0\" ETB BCC 5f",
// "> ACK"...; a step done reads e.g. "request 1234: 57 lines as in 1234,
// closing ETX".
class PtrPeer : public ScriptedPeer
{
    Q_OBJECT

public:
    explicit PtrPeer(MachineSimulator& sim, QObject* parent = nullptr);

    // Empty when every step is known and well-formed, else what is wrong.
    static QString checkSteps(const QStringList& steps);

    // The line format, usable on its own.
    static char checksum(const QByteArray& line); // XOR of STX, the line and ETB
    static QByteArray frame(const QByteArray& line, bool last);
    static QByteArray request(const QByteArray& number);
    // A program's lines as the server sends them: split at CR LF, bare LF or
    // lone CR; a final line end leaves a last, empty line.
    static QList<QByteArray> programLines(const QByteArray& content);
    // Control characters named, the byte after ETB shown as the BCC.
    static QString describe(const QByteArray& bytes);

private:
    enum class Op
    {
        Request,
        Missing,
        Fault,
        Noise,
        Raw,
        Wait
    };
    enum class Fault
    {
        None,
        Nak,
        Garbage,
        Silent
    };
    enum class Phase
    {
        Done = DonePhase,
        Idle = IdlePhase,
        Pausing = PausingPhase,
        Gap = GapPhase,
        RequestAck = OwnPhase,
        Frame,
        Closing,
        AfterClose,
        Raw
    };
    struct Step
    {
        Op op = Op::Wait;
        QString source;
        QByteArray number; // Request, Missing
        QString file;      // Request
        QByteArray text;   // Raw
        Fault fault = Fault::None;
        int count = 0; // Fault: the frame; Noise: bytes; Wait: milliseconds
    };

    static QString parseStep(const QString& source, Step& step);
    static QString answerName(Fault fault);

    QString prepare(const QStringList& steps) override;
    void runStep(qsizetype index) override;
    void dataArrived() override;
    Phase phase() const { return Phase(ScriptedPeer::phase()); }
    void enter(Phase phase, int ms, std::function<void()> onTimeout)
    {
        ScriptedPeer::enter(int(phase), ms, std::move(onTimeout));
    }

    void runRequest(const Step& step);
    void sendRequest();
    void requestTimedOut();
    void awaitFrame();
    void frameData();
    void frameArrived();
    void refuse(int number, const QByteArray& answer, const QString& how);
    void awaitClose(qint64 from, int waitMs, int minMs, const QString& after);
    void closingData();
    void endRequest();

    QList<Step> m_steps;

    // Asked for by a fault step, for the next request.
    Fault m_pendingFault = Fault::None;
    int m_pendingFaultAt = 0;

    // The request under way.
    QString m_stepName;
    QByteArray m_number;
    int m_tries = 0;
    Fault m_fault = Fault::None;
    int m_faultAt = 0;
    std::optional<QList<QByteArray>> m_expected;
    QString m_expectedFrom;
    QList<QByteArray> m_lines;
    int m_frames = 0;
    qint64 m_ackAt = 0;
    int m_refusedAt = 0; // the frame answered with anything but ACK
    QString m_refusal;
    qint64 m_closeFrom = 0;
    int m_closeMinMs = 0;
    QString m_closeAfter;
    QByteArray m_rawAnswer;
};

} // namespace nodalis::sim
