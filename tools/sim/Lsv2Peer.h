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

// Plays a numerical control speaking LSV2 on the simulator's line: a
// Heidenhain TNC (login, version, parameters, logout) or an AGIE (program
// download and upload). It runs a list of steps, checks every byte the server
// answers against what the protocol allows, and tells in finished() whether
// all went well. The framing is written here on its own, so that a fault in
// the server's framing shows as a failed step instead of agreeing with itself.
//
// Steps, one per list entry (or a script separated by ';'):
//   tnc:  login WORD | version | params | logout | send TEXT
//   agie: request NAME [FILE] | upload FILE as NAME | send TEXT
//   both: wait MS | nak N | silent | noise N | split | eot-enq
// "send" takes C escapes (\r \n \t \xHH); its text starts after one space.
class Lsv2Peer : public QObject
{
    Q_OBJECT

public:
    enum class Kind
    {
        Tnc,
        Agie
    };

    Lsv2Peer(MachineSimulator& sim, Kind kind, QObject* parent = nullptr);

    // Empty when every step is known and well-formed, else what is wrong.
    static QString checkSteps(Kind kind, const QStringList& steps);
    // Splits a script at ';', trimming each step and dropping empty ones.
    static QStringList splitScript(const QString& script);

    // Runs the steps from the event loop, then emits finished(). False, with
    // errorString() set and nothing run, when checkSteps() refuses them.
    bool start(const QStringList& steps);
    bool start(const QString& script) { return start(splitScript(script)); }
    // The first exchange keeps calling the server this long, for a server
    // started after the simulator (0: three calls, as every exchange).
    void setFirstContactTimeout(int ms) { m_firstContactMs = ms; }
    // How soon an answer follows the server's last byte (150 ms by default;
    // the benchmark answers at once, as a quick control would).
    void setReplyGap(int ms) { m_replyGapMs = ms; }

    QString errorString() const { return m_error; }
    bool isRunning() const { return m_running; }
    // What went over the line: "> ENQ", "< DLE 0", "> R_VR", "< S_VR"...
    // ("> " written by the peer, "< " received from the server), and "! " for
    // a deviation.
    const QStringList& log() const { return m_log; }

    // The line format, usable on its own.
    static char checksum(const QByteArray& text);
    static QByteArray telegram(const QByteArray& text);
    // Control characters named, telegrams shown as their text.
    static QString describe(const QByteArray& bytes);

signals:
    // One line per step done, e.g. "login INSPECT: T_OK".
    void stepDone(const QString& line);
    // ok: every step passed; message: the first deviation, naming its step.
    void finished(bool ok, const QString& message);

private:
    enum class Op
    {
        Command, // a TNC command, or "send" of either kind
        Request,
        Upload,
        Wait,
        Nak,
        Silent,
        Noise,
        Split,
        EotEnq
    };
    enum class Reply
    {
        None,
        Required,
        Optional
    };
    enum class Phase
    {
        Done,
        Idle,
        Pausing,
        Gap,
        OpenReply,
        Ack,
        NoAnswer,
        ServerEnq,
        Telegram,
        Eot,
        Silent
    };
    struct Step
    {
        Op op = Op::Wait;
        QString source;
        QByteArray text; // Command: what goes out
        Reply reply = Reply::None;
        std::optional<QByteArray> answer; // Command: what must come back
        QString name;                     // Request, Upload
        QString file;
        int number = 0;
    };
    using Then = std::function<void(const std::optional<QByteArray>&)>;

    static QString parseStep(Kind kind, const QString& source, Step& step);

    void runNext();
    void stepPassed(const QString& line);
    void runRequest(const Step& step);
    void askBlock(const QByteArray& command);
    void endDownload();
    void runUpload(const Step& step);
    void sendBlock(qsizetype index);

    void exchange(const QByteArray& text, Reply reply, Then then);
    void sendEnq();
    void awaitOpenReply();
    void openTimedOut();
    void sendTelegram();
    void awaitAck();
    void sendEot();
    void afterEot();
    void awaitTelegram();
    void telegramArrived(const QByteArray& raw);
    void badTelegram(const QByteArray& raw, const QString& why);
    void awaitEot();

    void onData(const QByteArray& bytes);
    bool replyIs(const QByteArray& expected, const QString& what);
    void enter(Phase phase, int ms, std::function<void()> onTimeout);
    void onTimeout();
    void writeLater(const QByteArray& bytes, std::function<void()> next, const QString& context,
                    int gapMs = 150);
    void write(const QByteArray& bytes);
    void fail(const QString& what);
    void deviation(const QString& what);
    QString where() const;

    MachineSimulator& m_sim;
    Kind m_kind;
    QList<Step> m_steps;
    qsizetype m_index = 0;
    bool m_running = false;
    QString m_error;
    QStringList m_log;
    QStringList m_deviations;

    Phase m_phase = Phase::Done;
    QString m_context; // what the peer waits for, for messages on stray bytes
    QTimer m_timer;
    std::function<void()> m_onTimeout;
    QElapsedTimer m_clock;
    qint64 m_lastIn = -100000;
    qint64 m_lastOut = -100000;
    QByteArray m_in;

    // The exchange under way.
    QByteArray m_text;
    Reply m_reply = Reply::None;
    Then m_then;
    int m_enqTries = 0;
    int m_acksRefused = 0;
    int m_badTelegrams = 0;
    QByteArray m_answer;
    QByteArray m_refused; // the telegram refused on purpose, to repeat as is
    bool m_repeatDue = false;

    // Faults asked for by the steps.
    int m_naksLeft = 0;
    bool m_silentDue = false;
    bool m_splitDue = false;
    bool m_eotEnqDue = false;
    bool m_enqOut = false; // an ENQ went out with the last EOT
    QElapsedTimer m_silentClock;

    bool m_contacted = false;
    int m_firstContactMs = 0;
    int m_replyGapMs = 150;
    QElapsedTimer m_contactClock;

    // The download or upload under way.
    QString m_stepName;
    QByteArray m_expected;
    QString m_expectedFrom;
    QByteArray m_program;
    int m_blockCount = 0;
    QList<QByteArray> m_blocks;
};

} // namespace nodalis::sim
