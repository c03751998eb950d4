#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace nodalis {

class TextSink;

// The replies of an FTP server's control connection, as they arrive: each
// complete reply counts once, by its code; a piece without CR LF counts by
// its first three characters; the inner lines of a multi-line reply
// ("230-...", up to "230 ...") are skipped, even cut across arrivals.
class FtpReplies
{
public:
    // The codes to act on, in order.
    QList<QByteArray> take(const QByteArray& arrival);
    void clear();

private:
    QByteArray m_multiCode; // the code of a multi-line reply being read
    QByteArray m_multiPiece;
};

// The small FTP client of the server: one fixed job per connection to
// RemoteHost:RemotePort (list the receive folder, send one file, fetch one
// file), each server reply answered with the next command of a fixed
// script, data in active mode (PORT) on a connection the server opens back.
//
// Everything the sockets say is only noted in their signals; the job acts
// on it from the event loop (a zero-delay timer), so that a status, which
// lets events run, never runs inside a socket's own signal.
class FtpSocketClient : public QObject
{
    Q_OBJECT

public:
    enum Job
    {
        NoJob = 0,
        List = 1,  // the listing goes to every client as {l} lines
        Send = 2,  // temporary folder + Channel().targetName, stored under that name
        Fetch = 3, // Channel().targetName, written into the reception file
    };

    // What a reply asks for, besides the command to send.
    enum Effect
    {
        Nothing,
        NewLogin,    // a new login starts: nothing sent, nothing closed yet
        SendFile,    // the file goes out on the data connection
        CloseFile,   // the send stops here
        Transferred, // the server confirmed the transfer
        Closed,      // the server said goodbye
    };

    // What the script says to a reply: a command (without CR LF, empty:
    // none), a status to show first (0: none), and an effect.
    struct Step
    {
        QByteArray command;
        int status = 0;
        Effect effect = Nothing;
    };

    // The words a job's commands carry.
    struct Script
    {
        QByteArray user;
        QByteArray password;
        QByteArray sendFolder;
        QByteArray receiveFolder;
        QByteArray remoteName;
        QByteArray portArgument;
    };

    static constexpr qsizetype BlockSize = 8192;
    static constexpr qint64 SilenceMs = 30000;

    explicit FtpSocketClient(QObject* parent = nullptr);
    ~FtpSocketClient() override;

    // Starts job mode (1 list, 2 send, 3 fetch) and returns at once; the job
    // runs from the event loop and ends with finished(). False when mode is
    // none of those, a job is already running, or the job could not start
    // (its status said why).
    bool ExeCMD(int mode);
    bool running() const { return m_job != NoJob; }

    // The script: job x reply code (its first three characters) -> step.
    static Step StepFor(int job, QByteArrayView code, const Script& script);
    // The six numbers of PORT: the IPv4 address (127.0.0.1 for any other)
    // with commas for dots, then the port's high and low bytes.
    static QByteArray PortArgument(const QHostAddress& address, quint16 port);
    // The blocks a file of this length is sent in.
    static QList<qsizetype> BlockSizes(qint64 length);
    // The Winsock number shown for a socket error.
    static int WinsockError(QAbstractSocket::SocketError error);

signals:
    // The job is over and both connections are closed. complete: the
    // server confirmed the transfer (226) and nothing failed on our side.
    void finished(bool complete);

private:
    void schedule();
    // Acts on everything the sockets said since the last turn.
    void step();
    void turn();
    void takeReplies(const QByteArray& arrival);
    void apply(const Step& step);
    void SendTcpCmd(const QByteArray& command);
    void acceptData();
    void takeData();
    void sendBlocks();
    // Complete listing lines go out as {l}; at the end, the rest too.
    void lines(bool end);
    // Ends the job: the sockets close, the file closes, finished() is emitted.
    void finish();
    void failControl(int number, const QByteArray& description);
    Script script() const;

    QTcpSocket tcpComTCP;
    QTcpServer tcpComData;
    QPointer<QTcpSocket> m_data; // the data connection the server opened
    QTimer m_turn;
    QTimer m_silence;
    QTimer m_stopWatch;

    Job m_job = NoJob;
    bool m_inStep = false;
    bool m_again = false;
    bool m_stopAtStart = false;
    // Control connection
    bool m_connectedSaid = false;
    bool m_controlDone = false;
    QAbstractSocket::SocketError m_controlError = QAbstractSocket::UnknownSocketError;
    bool m_hasControlError = false;
    FtpReplies m_replies;
    bool m_transferred = false; // 226 came
    bool m_failed = false;
    // Data connection
    bool m_dataClosedSaid = false;
    bool m_hasDataError = false;
    QByteArray m_carry; // listing: the line not yet complete
    // Send
    QFile m_file;
    QList<qsizetype> m_blocks;
    qsizetype m_nextBlock = 0;
    bool m_sendWanted = false;
    bool m_dataSent = false;
    bool m_closed = false;
    // Fetch
    std::unique_ptr<TextSink> m_sink;
};

} // namespace nodalis
