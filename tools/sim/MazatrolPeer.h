#pragma once

#include "sim/ScriptedPeer.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <utility>

namespace nodalis::sim {

// Plays a Mazak control (CodeCN 701 to 713, 711 excepted) on the simulator's
// line with its conversational handshake: the machine drives, the server
// answers each message. It runs a list of steps, checks every answer against
// the model's replies as written here, on their own, and tells in finished()
// whether all went well.
//
// The order of the machine's messages is nowhere written down; it is pieced
// together from what the server answers in each direction, and is ours:
//   upload:   "p3" (ready to send), the program's name, one frame
//             "p1" STX record ETX checksum per record, the end record last,
//             then "pA" once per block the server counts (2; 3 for 706, 709
//             and 710), the last one ending the reception.
//   download: "pA", then "pD" (more to come, or the end of the program), then
//             "p4" for each record, until "p4" gets no answer: the server has
//             passed the program's closing marker and is done.
//   call:     an upload of a program 8888 named "ORVA " + the name wanted,
//             then a download.
// Every message ends with EOT (701, 703, 704, 705, 707, 708, 713) or with
// EOT EOT (702, 706, 709, 710, 712).
//
// Steps, one per list entry (or a script separated by ';'):
//   upload FILE | call NAME [FILE] | download [FILE]
//   silent | no-etx | nul-burst | noise N | slow MS | wait MS
// A download is compared with FILE, else with setExpected()'s file, else
// (call) with the file NAME here; uncompared when there is none.
//
// The log reads "> \"p3\" EOT", "< F0 \"00\" H84", "< F0 \"00\" E9 [3121...]
// ETX 4A H84"...; a step done reads e.g. "upload up.maz: 7 records".
class MazatrolPeer : public ScriptedPeer
{
    Q_OBJECT

public:
    MazatrolPeer(MachineSimulator& sim, int model, QObject* parent = nullptr);

    // A model this peer can play.
    static bool knownModel(int model);
    // Empty when the model is known and every step well-formed, else what is
    // wrong.
    static QString checkSteps(int model, const QStringList& steps);
    // The program a download is compared with when its step names none.
    void setExpected(const QString& path) { m_expectPath = path; }

    // The line format, usable on its own.
    // The sum of the block's character codes, its last two hexadecimal
    // digits in upper case ("0" before a single digit).
    static QByteArray checksum(QByteArrayView block);
    // The records of a Mazatrol program file: its lines (ended by CR or
    // CR LF; a bare LF belongs to the record) up to the closing "xVb", blank
    // lines and markers left out.
    static QList<QByteArray> records(const QByteArray& content);
    // The records of a file as the model's download carries them.
    static QList<QByteArray> downloadedRecords(int model, const QByteArray& content);
    // A program header record laid out for the model: number and name where
    // it reads them.
    static QByteArray programHeader(int model, qint32 number, const QByteArray& name);
    // The records of a program 8888 named "ORVA " + name, the header laid out
    // for the model.
    static QList<QByteArray> callProgram(int model, const QByteArray& name);
    // Control characters named, text quoted, long records shortened.
    static QString describe(const QByteArray& bytes);

private:
    enum class Op
    {
        Upload,
        Call,
        Download,
        Silent,
        NoEtx,
        NulBurst,
        Noise,
        Slow,
        Wait
    };
    enum class Phase
    {
        Done = DonePhase,
        Idle = IdlePhase,
        Pausing = PausingPhase,
        Gap = GapPhase,
        Reply = OwnPhase
    };
    struct Step
    {
        Op op = Op::Wait;
        QString source;
        QString file;
        QByteArray name;
        int count = 0;
    };
    // What may answer a message: one of the replies, a data frame, nothing.
    struct Expect
    {
        QList<QByteArray> replies;
        QByteArray frameLead; // a data frame starting so, when not empty
        bool nothing = false; // silence is an answer
        bool anything = false;
        int tries = 1;  // the message goes again while nothing comes back...
        int waitMs = 0; // ... this long after it (0: as long as an answer may take)
    };
    using Next = std::function<void(const QByteArray& reply)>;

    static QString parseStep(const QString& source, Step& step);

    QString prepare(const QStringList& steps) override;
    void runStep(qsizetype index) override;
    void dataArrived() override;
    void stopped() override;
    Phase phase() const { return Phase(ScriptedPeer::phase()); }
    void enter(Phase phase, int ms, std::function<void()> onTimeout)
    {
        ScriptedPeer::enter(int(phase), ms, std::move(onTimeout));
    }

    QByteArray message(const char* text) const;
    void exchange(const QByteArray& bytes, const Expect& expect, Next next);
    void sendMessage();
    void replyTimedOut();
    void answered(QByteArray reply);

    // faults: the faults asked for apply to this upload (not to a call's).
    void upload(const QList<QByteArray>& records, const QByteArray& name, bool faults,
                std::function<void()> done);
    void uploadFrame(qsizetype index);
    void uploadEnd(int pa);
    void download(std::function<void()> done);
    void nextRecord();
    void downloadDone();
    bool loadExpected(const QString& path);

    int m_model;
    QList<Step> m_steps;
    QString m_expectPath;
    int m_slowMs = -1;
    bool m_first = true; // the run's first message waits for the server

    // Asked for by a fault step, for the next transfer.
    bool m_silentDue = false;
    bool m_noEtxDue = false;

    // The message under way.
    QByteArray m_message;
    Expect m_expect;
    Next m_next;
    int m_tries = 0;

    // The transfer under way.
    QString m_stepName;
    QList<QByteArray> m_records;
    QByteArray m_name;
    bool m_silent = false;
    bool m_noEtx = false;
    std::function<void()> m_done;
    QList<QByteArray> m_received;
    bool m_compare = false;
    QList<QByteArray> m_wanted;
    QString m_wantedFrom;
    QString m_outcome;
};

} // namespace nodalis::sim
