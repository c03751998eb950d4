#pragma once

#include "dnc/ReceptionFile.h"
#include "protocols/ClsLSV2.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace nodalis {

class SerialControl;

// Whole part programs exchanged with an AGIE control over the LSV2 link.
// The control drives: it asks for a program by name and takes it block by
// block, or announces one and sends it block by block. One instance serves
// one exchange; ReinitEcoute says it is over.
class ClsAGIE : public QObject
{
    Q_OBJECT

public:
    // A block of several lines stays under this many characters.
    static constexpr int BlockLimit = 100;

    ClsAGIE();
    ~ClsAGIE() override;

    void Init(SerialControl& port);
    // Serves the control until Cancel, a stop or the loss of the line.
    void WaitForMsg();
    void Cancel();
    bool lineLost() const { return m_link && m_link->lineLost(); }

    // Makes the file the program the control's block requests take. It
    // writes nothing to the line. An unreadable file gives an empty program.
    void SendProg(const QString& path);

    // One command of the control, answered through the link (or the
    // answer sink, when one is set).
    void Interpret(const QByteArray& command);
    void setAnswerSink(std::function<void(const QByteArray&)> sink) { m_answer = std::move(sink); }

    // The file name a control's program name stands for: no folders ("\" or
    // "/"), no extension, no spaces around.
    static QByteArray BareProgramName(const QByteArray& name);
    // Where an upload named so is stored: its bare file name (with its
    // extension) in PathFileProgOpen; a name that leaves no file name there
    // gives a dated one.
    static QString UploadPath(const QByteArray& name);

signals:
    void FindThisProg(const QByteArray& name);
    void ReinitEcoute();

private:
    void mLSV2_ReceiveCmd(QByteArray& command);
    void answer(const QByteArray& text);
    void sendNextBlock();
    void keepBlock(const QByteArray& data);
    void storeProgram();

    std::unique_ptr<ClsLSV2> m_link;
    std::function<void(const QByteArray&)> m_answer;
    QList<QByteArray> m_lines{QByteArray()};
    qsizetype m_nextLine = 0;
    QByteArray m_programName; // the name the control announced for its upload
    QByteArray m_received;
    // The upload also reaches the reception file as it arrives, so that a
    // program that cannot be stored is kept there.
    ReceptionFile m_reception;
};

} // namespace nodalis
