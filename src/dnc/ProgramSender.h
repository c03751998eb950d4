#pragma once

#include "startup/PortSettings.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <functional>

namespace nodalis {

class FileLines;
class PortEngine;

// Writes the channel's send file to the machine by the current method:
// the readiness test, the serial block sender and its variants, the
// library sender, the shared-folder handshake, progress and completion.
class ProgramSender
{
public:
    // Called when a send fails or a readiness wait gives up.
    using Reset = std::function<void()>;
    // Called with 903 once a send has completed, for the transfer journal.
    using Journal = std::function<void(int code)>;

    explicit ProgramSender(PortEngine& engine);

    void setReset(Reset reset) { m_reset = std::move(reset); }
    void setJournal(Journal journal) { m_journal = std::move(journal); }

    // Sends the send file; true when it went out whole.
    bool SendDispatcher();
    bool IsReadyToSend();
    // {%} and the gauge, only when higher than the last shown; 100 ends a transfer.
    void ShowProgress(int percent);

    // For the transports that send by themselves: the text steps of the
    // serial block sender (syntax check, PrepareSendText when prepare, the
    // machine's specifics); the readiness wait that honours only a negative
    // CheckModeRecep; a failed send (907 and the reset).
    void PreSendSteps(const QString& file, bool prepare) { preSendSteps(file, prepare); }
    bool WaitBeforeSend() { return libraryReceptionWait(); }
    void SendFailed() { failed(907); }
    // Ends the transaction in hand, as a failed send or a given-up wait does.
    void ResetTransaction()
    {
        if (m_reset)
            m_reset();
    }
    // The transfer journal's entry for an event of a send.
    void JournalEntry(int code)
    {
        if (m_journal)
            m_journal(code);
    }

    bool SendSerialBlocks(const PortSettings& record, int method, const QString& file);
    bool SendSerialArcel(const PortSettings& record, int method, const QString& file);
    bool SendLibraryFile(const PortSettings& record, const QString& file);
    bool SendViaSerialServer(const QString& file);

private:
    enum class Outcome
    {
        Sent,
        Failed,
        NotMine
    };

    void plugMethods();
    Outcome sendSerial();
    Outcome sendLibrary();
    Outcome sendServer();
    void failed(int event);
    void preSendSteps(const QString& file, bool prepare);
    enum class Drain
    {
        Done,
        TimedOut, // the line took nothing for the limit (907 logged)
        Failed    // stop, line gone or a write stalled past TimeOutBreak
    };
    // Waits until at most `allowed` bytes wait to leave. With XON/XOFF the
    // machine holds the text as long as it likes, so no limit applies;
    // otherwise the line may take nothing for limitSeconds at most (0: no limit).
    Drain waitOutput(const PortSettings& r, qint64 allowed, int limitSeconds);
    bool waitLineReady(const PortSettings& r);
    bool controlReceptionWait();
    bool libraryReceptionWait();
    bool waitSeconds(int seconds);
    bool readinessTimedOut(qint64 start);
    // The block sender: header (BOT, CLEAR_ARCEL), the program's blocks,
    // trailer (DIALOG3, EOT); the channel is idle again on every way out.
    bool sendBlocks(const PortSettings& r, int method, const QString& file, bool arcel);
    bool sendHeader(const PortSettings& r, int sendTimeOut);
    bool sendBody(const PortSettings& r, int method, const QString& file, bool arcel,
                  int sendTimeOut);
    bool sendTrailer(const PortSettings& r);
    // The program's lines without pacing: the line's queue is kept full.
    bool sendUnpaced(const PortSettings& r, const QString& file, FileLines& lines, qint64 total);
    // DSR flow: waits for the machine's DSR, at most sendTimeOut seconds (907).
    bool waitDataSetReady(int sendTimeOut);
    // Writes one block, character by character with TempoCar for method 2.
    bool writeBlock(const PortSettings& r, int method, const QByteArray& text);
    bool arcelCheck(const QByteArray& block, bool& lastBlock);
    // Writes unpaced blocks in batches and keeps the line's queue full: each
    // batch waits only until the queue is down to QueueBytes.
    class QueueFiller
    {
    public:
        static constexpr qsizetype BatchBytes = 64 * 1024;
        static constexpr qint64 QueueBytes = 192 * 1024;
        QueueFiller(ProgramSender& sender, const PortSettings& r);
        // Adds a run of whole lines (as LineReader::readLines gives them),
        // each ended by eob, and counts them in `sent`.
        bool write(QByteArrayView run, const QByteArray& eob, qint64& sent);
        // Hands what is batched to the line; false on a stop or a lost line.
        bool flush();

    private:
        ProgramSender& m_sender;
        const PortSettings& m_record;
        QByteArray m_batch;
        QByteArray m_last;
    };
    void reset();

    PortEngine& m_engine;
    Reset m_reset;
    Journal m_journal;
    int m_lastProgress = -1;
};

} // namespace nodalis
