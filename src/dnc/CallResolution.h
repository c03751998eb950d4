#pragma once

#include "dnc/ReceivedDataExaminer.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace nodalis {

class PortEngine;
class ProgramSender;

// One program named by a call.
struct CalledProgram
{
    QByteArray Name;      // as the machine gave it; the prepared file once ready
    QByteArray StartText; // copy from the line holding it
    QByteArray EndText;   // up to the line holding it
    bool HasRange = false;
};

// What a reception is.
enum class FrameKind
{
    Nothing = 0,
    Call = 1,
    Program = 3,
    Tracking = 4
};

// What the channel does with a reception: a call is looked up, assembled
// and sent (or answered with the error program), an upload stored, a
// tracking message recorded, noise logged.
class CallResolution : public ReceivedDataExaminer
{
public:
    CallResolution(PortEngine& engine, ProgramSender& sender);

    void ExamineReceivedData() override;
    // The last examination was an upload that could not be stored: what it
    // came from must be kept.
    bool StoreFailed() const { return m_storeFailed; }

    // The next examination is of a request made through the machine's
    // program table: a call when the text is not empty, else an upload.
    void setTableCall(const QByteArray& callText);

    FrameKind ExamineFrame(const QString& file, QByteArray& callText, bool& multiLine);
    // Fills the call list; true when it names several programs.
    bool SplitCallList(const QByteArray& callText);
    const QList<CalledProgram>& Calls() const { return m_calls; }

    bool FindCalledProgramInDb(const QByteArray& name, QString& path, int& error);
    bool FindCalledProgramFile(const QByteArray& name, QString& path, int& error);
    bool CopyToSendFile(const QString& path, int& error);
    bool ConcatCalledPrograms(const QStringList& paths, const QString& output);
    bool AssembleMultiLine(const QStringList& paths, const QString& frame, const QString& output);
    void MergeCallText(QString& path, const QString& frame);
    bool SendErrorProgram(int code, const QString& templatePath,
                          const QByteArray& name = QByteArray());
    void ResetTransaction();

private:
    void serveCall(const QString& frame, bool multiLine);
    void storeUpload(qint64 minimumSize);
    void noiseCheck(const QString& file);
    void filterReceived(const QString& file, const QByteArray& replacement);
    // Answers a call with the error program of code, naming the program refused.
    void refuse(int code, const QByteArray& name = QByteArray());
    QByteArray callSubject() const;
    static void callSyntax(QByteArray& prefix, QByteArray& suffix);
    // Hands over the program's lines from the one holding StartText to the
    // one holding EndText (each when set).
    static bool cutProgram(const QString& path, const CalledProgram& call,
                           const std::function<void(const QByteArray&)>& perLine);
    // Method 14: each called program goes out as a file of its own.
    void sendEachProgram(const QStringList& paths);

    PortEngine& m_engine;
    ProgramSender& m_sender;
    QList<CalledProgram> m_calls{CalledProgram()};
    bool m_fromTable = false;
    QByteArray m_tableCall;
    bool m_storeFailed = false;
};

} // namespace nodalis
