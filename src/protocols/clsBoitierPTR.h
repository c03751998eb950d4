#pragma once

#include "protocols/SerialBursts.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>

#include <memory>

namespace nodalis {

class SerialControl;

// A PTR box in front of the machine on the serial line: the operator keys
// a program number, the box asks for it ("%", the number, "E"), and the
// server sends the program line by line, each line in a frame (STX, line,
// ETB, BCC; ETX after the last) that the box acknowledges. One instance
// serves one request.
class clsBoitierPTR : public QObject
{
    Q_OBJECT

public:
    static constexpr char STX = 2;
    static constexpr char ETX = 3;
    static constexpr char ACK = 6;
    static constexpr char ETB = 23;

    // Exclusive-or of STX, the line's bytes and ETB.
    static char CalcBCC(QByteArrayView line);
    static QByteArray MakeFrame(QByteArrayView line, bool last);
    // The program a burst asks for: the text between its first "%" and the
    // first "E" after it. False when the burst holds no such request (no
    // "%", or no "E" behind it).
    static bool RequestedProgram(const QByteArray& burst, QByteArray& name);

    // Listens until one request has been handled, Cancel, a stop or the loss
    // of the line. FindThisProg is raised from inside.
    void Init(SerialControl& port);
    // Sends the file to the box, line by line, each acknowledged before the
    // next; a refused or unanswered line ends the transfer. The closing ETX
    // follows unless the transfer was cancelled.
    void SendProg(const QString& path);
    void Cancel() { m_cancel = true; }
    bool lineLost() const { return m_reader && m_reader->lineLost(); }

signals:
    void FindThisProg(const QByteArray& name);

private:
    bool ended() const;
    void WritePort(const QByteArray& bytes);

    SerialControl* m_port = nullptr;
    std::unique_ptr<BurstReader> m_reader;
    bool m_cancel = false;
};

} // namespace nodalis
