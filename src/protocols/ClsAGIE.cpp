#include "protocols/ClsAGIE.h"

#include "dnc/EventMessages.h"
#include "dnc/PortState.h"
#include "dnc/ServerView.h"
#include "platform/AnsiText.h"
#include "protocols/ProgramLines.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace nodalis {

namespace {

const QByteArray kCrLf = QByteArrayLiteral("\r\n");

QByteArray without(QByteArray command, const char* marker)
{
    return command.replace(marker, "");
}

// The file part of a name from the control: folders end at "\" or "/" on
// every system, and a drive goes with them.
QByteArray fileNameOf(const QByteArray& name)
{
    QByteArray file = name.mid(qMax(name.lastIndexOf('\\'), name.lastIndexOf('/')) + 1);
    if (file.size() >= 2 && file[1] == ':')
        file = file.mid(2);
    return file;
}

} // namespace

ClsAGIE::ClsAGIE() = default;
ClsAGIE::~ClsAGIE() = default;

QByteArray ClsAGIE::BareProgramName(const QByteArray& name)
{
    QByteArray file = fileNameOf(name);
    if (const qsizetype dot = file.lastIndexOf('.'); dot >= 0)
        file.truncate(dot);
    return TrimSpaces(file);
}

QString ClsAGIE::UploadPath(const QByteArray& name)
{
    QString folder = Config().PathFileProgOpen;
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')) &&
        !folder.endsWith(QDir::separator()))
        folder += QDir::separator();
    QByteArray file = TrimSpaces(fileNameOf(name));
    if (file.isEmpty() || file == "." || file == "..")
        file = "AGIE_(" +
               QDateTime::currentDateTime()
                   .toString(QStringLiteral("dd-MM-yy_hh'h'mm'min'ss's'"))
                   .toLatin1() +
               ").txt";
    return folder + fromAnsi(file);
}

void ClsAGIE::Init(SerialControl& port)
{
    m_link = std::make_unique<ClsLSV2>();
    connect(m_link.get(), &ClsLSV2::ReceiveCmd, this, &ClsAGIE::mLSV2_ReceiveCmd);
    m_link->Init(port);
    m_lines = {QByteArray()};
    m_nextLine = 0;
}

void ClsAGIE::WaitForMsg()
{
    if (m_link)
        m_link->Wait();
}

void ClsAGIE::Cancel()
{
    if (m_link)
        m_link->setCancel(true);
}

void ClsAGIE::SendProg(const QString& path)
{
    m_lines = ProgramLines(path);
    m_nextLine = 0;
}

void ClsAGIE::mLSV2_ReceiveCmd(QByteArray& command)
{
    Interpret(command);
}

void ClsAGIE::answer(const QByteArray& text)
{
    if (m_answer)
        m_answer(text);
    else if (m_link)
        m_link->Send(text);
}

void ClsAGIE::Interpret(const QByteArray& command)
{
    if (command.contains("TDPP  ")) {
        const QByteArray name = without(command, "TDPP  ");
        Channel().programText = name;
        SetStatus(682, {name});
        answer("PRPP" + BareProgramName(name));
        emit FindThisProg(name);
    } else if (command.contains("RDPP  ")) {
        const QByteArray name = without(command, "RDPP  ");
        Channel().programText = name;
        m_programName = name;
        SetStatus(682, {name});
        m_received.clear();
        m_reception.close();
        answer("PTPP  " + name);
    } else if (command.contains("R BM I311005") || command.contains("T NB")) {
        sendNextBlock();
    } else if (command.contains("R MJDW")) {
        answer("R MDW OK");
    } else if (command.contains("R MDDW FD")) {
        answer("R MDDW FC");
        SetStatus(683);
        emit ReinitEcoute();
    } else if (command.contains("R MDUP FD")) {
        SetStatus(683);
        emit ReinitEcoute();
    } else if (command.contains("R MJUP")) {
        answer("R MUP OK");
    } else if (command.contains("R BM I311004")) {
        answer("T NB");
    } else if (command.contains("R PP")) {
        const QByteArray data = without(command, "R PP");
        View().setBlockDisplay(data);
        keepBlock(data);
        answer("T NB");
    } else if (command.contains("T FD")) {
        storeProgram();
        View().setBlockDisplay({});
        SetStatus(683);
        emit ReinitEcoute();
    }
}

void ClsAGIE::sendNextBlock()
{
    if (m_nextLine >= m_lines.size()) {
        answer("T FD");
        return;
    }
    QByteArray block;
    do {
        block += m_lines[m_nextLine] + kCrLf;
        ++m_nextLine;
    } while (m_nextLine < m_lines.size() &&
             block.size() + m_lines[m_nextLine].size() + 2 < BlockLimit);
    View().setBlockDisplay(block);
    answer("R PP" + block);
}

void ClsAGIE::keepBlock(const QByteArray& data)
{
    m_received += data;
    if (!m_reception.isOpen() && !m_reception.failed())
        m_reception.open();
    m_reception.write(data);
    m_reception.flush();
}

void ClsAGIE::storeProgram()
{
    m_reception.close();
    if (m_received.isEmpty())
        return;
    const QString path = UploadPath(m_programName);
    Channel().programText = toAnsi(QDir::toNativeSeparators(path));
    SetStatus(681, {Channel().programText});
    MakeFolders(QFileInfo(path).absolutePath());
    QString error;
    std::unique_ptr<TextSink> file = OpenFileSink(path, error);
    if (file && file->write(m_received) && file->close()) {
        ReceptionFile::Examined();
        m_received.clear();
        return;
    }
    if (file)
        error = file->error();
    // The text stays in the reception file, kept under a dated name by the
    // next reception.
    SetStatusWithReason(713,
                        toAnsi(QDir::toNativeSeparators(path) + QStringLiteral(" : ") + error));
}

} // namespace nodalis
