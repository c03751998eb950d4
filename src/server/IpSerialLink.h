#pragma once

#include "dnc/LineFiles.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace nodalis {

class PortEngine;
class ProgramSender;
class ReceivedLines;
class ReceptionFile;

// The send file handed out one character at a time: up to NbBlocAvance
// lines, each followed by EOB, are read at once (and shown in the block
// display), then given out character by character.
class SendPieces
{
public:
    // False when the file cannot be read.
    bool open(const QString& file, int linesAtOnce, const QByteArray& eob);
    // The next character; false when none is left.
    bool next(char& c);

private:
    FileLines m_lines;
    int m_linesAtOnce = 1;
    QByteArray m_eob;
    QByteArray m_piece;
    qsizetype m_at = 0;
    bool m_more = true;
};

// A machine behind an IP-serial converter (Methode 7): a box in raw TCP
// server mode at RemoteHost:RemotePort forwards the machine's serial line.
// The link connects to it, listens (what the machine sends goes into the
// reception file line by line, and TimeOut seconds of silence end it), sends
// programs one character at a time with BOT and EOT, and connects again by
// itself when the box drops the connection: at once, then every 5 s while
// the box refuses.
class IpSerialLink : public QObject
{
    Q_OBJECT

public:
    static constexpr int RetryMs = 5000;

    IpSerialLink(PortEngine& engine, ProgramSender& sender, QObject* parent = nullptr);
    ~IpSerialLink() override;

    // The {%} of a send: bytes sent of the total, in %, to the nearest integer.
    static int Progress(qint64 sent, qint64 total);

private:
    enum Phase
    {
        Idle = 0,
        Sending = 1,
        Receiving = 2,
        Finished = 20
    };

    // Connects (again); false without a usable RemotePort (said once).
    bool connectToBox();
    void closeLink();
    void listen();
    // A cycle that did not reach its examination ends.
    void endCycle();
    bool send();
    void SendTcpDataIPSerial(QByteArrayView text);
    void sendNext();
    // What may leave now: BOT first, then the program's characters.
    void sendTurn();
    // What the machine sent since the last look goes to the reception.
    void takeArrived();
    void onConnected();
    void onDisconnected();
    void onError(QAbstractSocket::SocketError error);
    // Bytes of the machine for the reception in progress.
    void received(const QByteArray& bytes);
    void onSilence();

    PortEngine& m_engine;
    ProgramSender& m_sender;
    QTcpSocket m_socket;
    QTimer m_retry;
    QTimer m_timRS232;
    bool m_wanted = false; // the link is to be kept up
    bool m_outage = false; // 388 said for this outage
    bool m_badPortSaid = false;
    Phase m_phase = Idle;
    // Send
    SendPieces m_pieces;
    qint64 m_total = 0;
    qint64 m_sent = 0;
    int m_lastShown = -1; // the last {%}
    bool m_lost = false;  // the box dropped the connection during the send
    bool m_begun = false; // 382 said and BOT gone
    // Reception
    ReceptionFile* m_file = nullptr;
    ReceivedLines* m_lines = nullptr;
    QByteArray m_unread; // bytes read out of a connection closed before a reception took them
    QByteArray m_chunk;  // the piece being read
    QByteArray m_shown;  // the reception's first characters, for the display
    bool m_started = false;
    bool m_silence = false;
    bool m_cycleRunning = false;
    bool m_takenOver = false;
    bool m_listenAgain = false; // listening asked for while a cycle or a send ran
};

} // namespace nodalis
