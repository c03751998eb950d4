#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>

namespace nodalis::sim {

class MachineSimulator;

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
class PtrPeer : public QObject
{
    Q_OBJECT

public:
    explicit PtrPeer(MachineSimulator& sim, QObject* parent = nullptr);

    // Empty when every step is known and well-formed, else what is wrong.
    static QString checkSteps(const QStringList& steps);
    // Splits a script at ';', trimming each step and dropping empty ones.
    static QStringList splitScript(const QString& script);

    // Runs the steps from the event loop, then emits finished(). False, with
    // errorString() set and nothing run, when checkSteps() refuses them.
    bool start(const QStringList& steps);
    bool start(const QString& script) { return start(splitScript(script)); }
    // The first request keeps being sent this long, for a server started
    // after the simulator (0: three tries, as every request).
    void setFirstContactTimeout(int ms) { m_firstContactMs = ms; }
    // How soon the box answers a frame after its last byte (150 ms by default).
    void setReplyGap(int ms) { m_replyGapMs = ms; }

    QString errorString() const { return m_error; }
    bool isRunning() const { return m_running; }
    // What went over the line: "> \"%1234E\\r\\n\"", "< ACK",
    // "< STX \"N10 G0\" ETB BCC 5f", "> ACK"... ("> " written by the box,
    // "< " received from the server), and "! " for a deviation.
    const QStringList& log() const { return m_log; }

    // The line format, usable on its own.
    static char checksum(const QByteArray& line); // XOR of STX, the line and ETB
    static QByteArray frame(const QByteArray& line, bool last);
    static QByteArray request(const QByteArray& number);
    // A program's lines as the server sends them: split at CR LF, bare LF or
    // lone CR; a final line end leaves a last, empty line.
    static QList<QByteArray> programLines(const QByteArray& content);
    // Control characters named, the byte after ETB shown as the BCC.
    static QString describe(const QByteArray& bytes);

signals:
    // One line per step done, e.g. "request 1234: 57 lines as in 1234, closing ETX".
    void stepDone(const QString& line);
    // ok: every step passed; message: the deviations, each naming its step.
    void finished(bool ok, const QString& message);

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
        Done,
        Idle,
        Pausing,
        Gap,
        RequestAck,
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

    void runNext();
    void stepPassed(const QString& line);
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

    void onData(const QByteArray& bytes);
    void enter(Phase phase, int ms, std::function<void()> onTimeout);
    void onTimeout();
    void writeLater(const QByteArray& bytes, std::function<void()> next, const QString& context,
                    int afterInMs);
    void write(const QByteArray& bytes);
    void fail(const QString& what);
    void deviation(const QString& what);
    QString where() const;

    MachineSimulator& m_sim;
    QList<Step> m_steps;
    qsizetype m_index = 0;
    bool m_running = false;
    QString m_error;
    QStringList m_log;
    QStringList m_deviations;

    Phase m_phase = Phase::Done;
    QString m_context; // what the box waits for, for messages on stray bytes
    QTimer m_timer;
    std::function<void()> m_onTimeout;
    QElapsedTimer m_clock;
    qint64 m_lastIn = -100000;
    qint64 m_lastOut = -100000;
    QByteArray m_in;

    bool m_contacted = false;
    int m_firstContactMs = 0;
    int m_replyGapMs = 150;
    QElapsedTimer m_contactClock;

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
    qint64 m_frameStart = 0;
    int m_refusedAt = 0; // the frame answered with anything but ACK
    QString m_refusal;
    qint64 m_closeFrom = 0;
    int m_closeMinMs = 0;
    QString m_closeAfter;
    QByteArray m_rawAnswer;
};

} // namespace nodalis::sim
