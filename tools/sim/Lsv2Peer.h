#pragma once

#include "sim/ScriptedPeer.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>

namespace nodalis::sim {

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
//
// The log reads "> ENQ", "< DLE 0", "> R_VR", "< S_VR"...; a step done
// reads e.g. "login INSPECT: T_OK".
class Lsv2Peer : public ScriptedPeer
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

    // The line format, usable on its own.
    static char checksum(const QByteArray& text);
    static QByteArray telegram(const QByteArray& text);
    // Control characters named, telegrams shown as their text.
    static QString describe(const QByteArray& bytes);

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
        Done = DonePhase,
        Idle = IdlePhase,
        Pausing = PausingPhase,
        Gap = GapPhase,
        OpenReply = OwnPhase,
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

    QString prepare(const QStringList& steps) override;
    void runStep(qsizetype index) override;
    void dataArrived() override;
    void stopped() override { m_then = nullptr; }
    Phase phase() const { return Phase(ScriptedPeer::phase()); }
    void setPhase(Phase phase) { ScriptedPeer::setPhase(int(phase)); }
    void enter(Phase phase, int ms, std::function<void()> onTimeout)
    {
        ScriptedPeer::enter(int(phase), ms, std::move(onTimeout));
    }

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

    bool replyIs(const QByteArray& expected, const QString& what);

    Kind m_kind;
    QList<Step> m_steps;

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

    // The download or upload under way.
    QString m_stepName;
    QByteArray m_expected;
    QString m_expectedFrom;
    QByteArray m_program;
    int m_blockCount = 0;
    QList<QByteArray> m_blocks;
};

} // namespace nodalis::sim
