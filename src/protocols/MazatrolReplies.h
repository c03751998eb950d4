#pragma once

#include <QByteArray>
#include <QList>

namespace nodalis::mazatrol {

class RecordReader;

// Control bytes of the Mazak handshake.
inline constexpr char EOT = 4;
inline constexpr char NUL = 0;
inline constexpr char STX = 2;
inline constexpr char ETX = 3;
inline constexpr char F0 = char(0xF0);
inline constexpr char H84 = char(0x84);
inline constexpr char A9 = char(0xA9);
inline constexpr char B8 = char(0xB8);
inline constexpr char B2 = char(0xB2);
inline constexpr char H82 = char(0x82);

// What a message of the machine does besides the reply.
enum class Action
{
    Reply,           // the reply only
    CountDown,       // the block counter down; at 0 the transfer stops
    CountDownOrStx,  // the same, and a STX as fourth character stops it too
    CountDownRewind, // the same, but after a "30000" block the program starts again
    EndOfProgram,    // at the end of the program: the other reply, and the send is over
    NextFrame,       // the next data frame of the program is the reply
    Name,            // a short message names the program
    FramesOr,        // the other reply while no data frame has come
};

// One row of a model's reply table: the whole bursts it answers (none: any
// other non-empty burst), the reply and its action. First match wins.
struct Rule
{
    QList<int> models;
    QList<QByteArray> bursts;
    QByteArray reply;
    Action action = Action::Reply;
    QByteArray other;
};

const QList<Rule>& SendRules();
const QList<Rule>& ReceiveRules();
const Rule* FindRule(const QList<Rule>& rules, int model, const QByteArray& burst);

// How a model's data frames are made from the program's records.
enum class FrameStyle
{
    Short,     // F0 "00" E9, the record's first 128 characters; records "1" and "3" but "32"
    WholeLine, // F0 "00" H82, the whole record; the same records
    Selected,  // F0 "00" H82, the whole record; records "1", "31" and "32"
};

// What differs between the models besides their tables.
struct Model
{
    QList<int> codes;
    FrameStyle frame;
    qint16 sendBlocks;    // the block counter at the start of a send
    qint16 receiveBlocks; // ... of a reception
    QByteArray dataReply; // the reply to a received data frame
};
// The model of a CodeCN; nullptr for one without a handler (711, unknown).
const Model* FindModel(int codeCN);

// The state of one transfer.
struct Transfer
{
    int model = 0;
    qint16 blocks = 2;
    bool stop = false;
    bool finished = false;
    bool marker = false; // the first "xVb" line has been passed
    int frames = 0;      // data frames received
    QByteArray lastBlock;

    static Transfer ForSending(int model);
    static Transfer ForReceiving(int model);
};

// The reply to a message of the machine while sending the program (may be
// empty: no reply).
QByteArray SendReply(Transfer& t, const QByteArray& burst, RecordReader& program);
// The next data frame of the program; empty at its end (the finished flag
// set at the closing "xVb").
QByteArray NextDataFrame(Transfer& t, RecordReader& program);

struct Received
{
    QByteArray reply;
    QByteArray record; // the record of a data frame, empty when none
    bool named = false;
    QByteArray name; // the message that named the program
};
// The reply to a message of the machine while receiving.
Received ReceiveReply(Transfer& t, QByteArray burst);

} // namespace nodalis::mazatrol
