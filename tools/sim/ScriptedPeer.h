#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

namespace nodalis::sim {

class MachineSimulator;

// Bytes with C escapes for what is not plain ASCII (\r \n \t \\ \xHH), for
// messages and logs.
QString Printable(const QByteArray& bytes);
// Bytes as the peers' logs show them: runs of plain characters through
// `quote`, each control byte by the name `nameOf` gives it (empty: a plain
// character). nameOf may take the bytes that follow it as part of its text,
// moving i past them.
QString DescribeBytes(const QByteArray& bytes,
                      const std::function<QString(const QByteArray&, qsizetype&)>& nameOf,
                      const std::function<QString(const QByteArray&)>& quote);

// The bytes a text with C escapes stands for (\r \n \t \xHH); a backslash
// before anything else keeps only what follows it.
QByteArray DecodeEscapes(const QString& text);

// What the simulated peers have in common: a list of steps run one after the
// other from the event loop, a phase with its time-out, writes spaced out on
// the line so that each is a burst of its own, a log of what went over the
// line, and the deviations found. Each peer adds its protocol: its steps, its
// framing and what it checks.
class ScriptedPeer : public QObject
{
    Q_OBJECT

public:
    // Splits a script at ';', trimming each step and dropping empty ones.
    static QStringList splitScript(const QString& script);

    // Runs the steps from the event loop, then emits finished(). False, with
    // errorString() set and nothing run, when the peer's checkSteps() refuses
    // them.
    bool start(const QStringList& steps);
    bool start(const QString& script) { return start(splitScript(script)); }
    // The first call to the server keeps being repeated this long, for a
    // server started after the simulator (0: as often as any other call).
    void setFirstContactTimeout(int ms) { m_firstContactMs = ms; }
    // How soon an answer follows the server's last byte (150 ms by default;
    // the benchmark answers at once, as a quick machine would).
    void setReplyGap(int ms) { m_replyGapMs = ms; }

    QString errorString() const { return m_error; }
    bool isRunning() const { return m_running; }
    // What went over the line, as the peer's describe() shows it ("> "
    // written by the peer, "< " received from the server), and "! " for a
    // deviation.
    const QStringList& log() const { return m_log; }

signals:
    // One line per step done.
    void stepDone(const QString& line);
    // ok: every step passed; message: the deviations, each naming its step.
    void finished(bool ok, const QString& message);

protected:
    using Describe = QString (*)(const QByteArray& bytes);

    // The phases every peer has; a peer numbers its own from OwnPhase on.
    enum CommonPhase : int
    {
        DonePhase,
        IdlePhase,
        PausingPhase,
        GapPhase,
        OwnPhase
    };

    static constexpr int kGapMs = 150; // between two writes of ours

    // describe: how the log shows the bytes on the line.
    ScriptedPeer(MachineSimulator& sim, Describe describe, QObject* parent);

    // Parses each step with parse(source, step), which returns an error text.
    // The first error, naming its step, or empty.
    template <typename Step, typename Parse>
    static QString parseSteps(const QStringList& sources, QList<Step>& steps, Parse parse)
    {
        steps.clear();
        for (qsizetype i = 0; i < sources.size(); ++i) {
            Step step;
            if (const QString error = parse(sources[i].trimmed(), step); !error.isEmpty())
                return QStringLiteral("step %1 (%2): %3")
                    .arg(i + 1)
                    .arg(sources[i].trimmed(), error);
            steps.append(step);
        }
        return {};
    }
    // The text of a step after its first word: all after the word and one
    // space, inner spaces kept.
    static QString textAfter(const QString& source, const QString& verb);

    // Checks the steps and takes them in, the peer's own state reset for a
    // new run. An error text, or empty.
    virtual QString prepare(const QStringList& steps) = 0;
    // Runs the step; it ends in stepPassed() or fail().
    virtual void runStep(qsizetype index) = 0;
    // Bytes came in, added to m_in.
    virtual void dataArrived() = 0;
    // The run failed: drop what waits for the server.
    virtual void stopped() {}

    void stepPassed(const QString& line);
    QString stepSource() const { return m_sources.value(m_index); }
    // A wait step: the line stays quiet this long.
    void pause(int ms);

    // A noise step: the bytes go out (replyMs as for writeLater()), then the
    // line must stay quiet for a second; the step passes with the outcome.
    void writeNoise(const QByteArray& noise, const QString& outcome, int replyMs = -1);

    int phase() const { return m_phase; }
    void setPhase(int phase) { m_phase = phase; }
    void enter(int phase, int ms, std::function<void()> onTimeout);
    // Gives the phase more time, as what is awaited is still coming.
    void rearm(int ms) { m_timer.start(ms); }

    // Writes after a quiet gap on the line, so that each write is a burst of
    // its own for the server; bytes arriving meanwhile are a deviation. Two
    // writes of ours in a row stay apart by gapMs; an answer to what the
    // server just said comes replyMs after its last byte (by default the
    // reply gap, up to gapMs).
    void writeLater(const QByteArray& bytes, std::function<void()> next, const QString& context,
                    int gapMs = kGapMs, int replyMs = -1);
    void write(const QByteArray& bytes);
    int replyGap() const { return m_replyGapMs; }

    // A call to the server went out; the first one starts the first-contact
    // clock.
    void calling();
    // The server answered a call.
    void contacted() { m_contacted = true; }
    // True while the first-contact allowance has not run out.
    bool serverAwaited() const;
    // How long the calls went unanswered, in seconds.
    int callingSeconds(int calls, int waitMs) const;

    // Reads a file a step names; false, the run failed, when it cannot.
    bool readFile(const QString& path, QByteArray& content);

    void fail(const QString& what);
    void deviation(const QString& what);

    QStringList m_log;
    QString m_context; // what the peer waits for, for messages on stray bytes
    QByteArray m_in;
    qint64 m_inSince = 0; // when the first byte of m_in came
    qint64 m_lastIn = -100000;
    qint64 m_lastOut = -100000;

private:
    void runNext();
    void onData(const QByteArray& bytes);
    void onTimeout();
    QString where() const;

    MachineSimulator& m_sim;
    Describe m_describe;
    QStringList m_sources;
    qsizetype m_index = 0;
    bool m_running = false;
    QString m_error;
    QStringList m_deviations;

    int m_phase = DonePhase;
    QTimer m_timer;
    std::function<void()> m_onTimeout;
    QElapsedTimer m_clock;

    bool m_contacted = false;
    int m_firstContactMs = 0;
    int m_replyGapMs = 150;
    QElapsedTimer m_contactClock;
};

} // namespace nodalis::sim
