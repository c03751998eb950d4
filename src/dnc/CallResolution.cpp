#include "dnc/CallResolution.h"

#include "dnc/CharFilters.h"
#include "dnc/CharLists.h"
#include "dnc/ControlProtocol.h"
#include "dnc/EventMessages.h"
#include "dnc/InfoNotifier.h"
#include "dnc/LineFiles.h"
#include "dnc/MachineSpecifics.h"
#include "dnc/MethodTable.h"
#include "dnc/PortEngine.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "dnc/ProgramSender.h"
#include "dnc/SendPreparation.h"
#include "dnc/Tracking.h"
#include "dnc/UploadStorage.h"
#include "platform/AnsiText.h"
#include "startup/AppPaths.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"
#include "store/ProgramJournal.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

namespace nodalis {

namespace {

qint64 fileSize(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() ? info.size() : 0;
}

bool usesNetworkCopies(int methode)
{
    return methode == 6 || methode == 14;
}

QByteArray withoutBlanks(const QByteArray& text)
{
    QByteArray out;
    out.reserve(text.size());
    for (char c : text) {
        if (c != ' ' && c != '\t')
            out += c;
    }
    return out;
}

} // namespace

CallResolution::CallResolution(PortEngine& engine, ProgramSender& sender)
    : m_engine(engine), m_sender(sender)
{
    m_sender.setReset([this] { ResetTransaction(); });
    m_sender.setJournal([](int code) {
        WriteJournalEntry(code, Channel().currentProgramCode, CurrentUploadCode(), false);
    });
    m_engine.setExaminer(this);
}

void CallResolution::ResetTransaction()
{
    SetStatus(952);
    m_engine.ClearReceptionFlags();
    m_engine.SetPortState(ChannelIdle);
    PortState& c = Channel();
    c.programText.clear();
    c.percentage = 0;
    m_calls = {CalledProgram()};
    SendInfoMessage(BuildInfoMessage("{%}", {"0"}), 0);
    SendInfoMessage(BuildInfoMessage("{b}", {""}), 0);
}

QByteArray CallResolution::callSubject() const
{
    QList<QByteArray> names;
    for (const CalledProgram& c : m_calls)
        names.append(c.Name);
    return " (" + names.join(" + ") + ")";
}

void CallResolution::filterReceived(const QString& file, const QByteArray& replacement)
{
    if (Config().FiltreCarSpec)
        FilterSpecialChars(file, replacement);
    if (Config().TrimBlocRecep)
        TrimBlocks(file);
}

void CallResolution::ExamineReceivedData()
{
    const Settings& s = Config();
    const qint64 minimumUpload = usesNetworkCopies(s.Port.Methode) ? 0 : 20;
    Channel().currentProgramCode = 0;
    m_storeFailed = false;
    if (State().stopRequested) {
        ResetTransaction();
        return;
    }
    const QString frame = TempFilePath(QStringLiteral("TT_ExamineTrame.txt"));
    MakeFolders(Paths().tempFolder);
    DeleteFile(frame);
    if (!CopyScratchFile(Paths().receptionFile, frame)) {
        // Nothing arrived (or nothing readable): a transaction without data.
        noiseCheck(Paths().receptionFile);
        ResetTransaction();
        return;
    }
    filterReceived(frame, {});
    QByteArray callText;
    bool multiLine = false;
    FrameKind kind = ExamineFrame(frame, callText, multiLine);
    if (kind == FrameKind::Call && !s.UseRPC)
        kind = FrameKind::Program;
    if (kind == FrameKind::Call)
        SplitCallList(callText);

    switch (kind) {
    case FrameKind::Nothing:
        noiseCheck(frame);
        ResetTransaction();
        break;
    case FrameKind::Tracking:
        ResetTransaction();
        break;
    case FrameKind::Program:
        storeUpload(minimumUpload);
        break;
    case FrameKind::Call:
        serveCall(frame, multiLine);
        break;
    }
}

void CallResolution::storeUpload(qint64 minimumSize)
{
    const Settings& s = Config();
    const QString& received = Paths().receptionFile;
    if (!Channel().receivedVerbatim) {
        filterReceived(received, " ");
        NormaliseLineEnds(received);
        ApplyReceiveSpecifics(received, s.Port.Specificite);
    }
    if (fileSize(received) < minimumSize) {
        noiseCheck(received);
        ResetTransaction();
        return;
    }
    SetStatus(700);
    EventReport outcome;
    if (s.RemonteDossier)
        outcome = StoreDatedCopy();
    else if (s.DataAccess == 1)
        outcome = StoreUploadToDatabase();
    else if (s.ProgIndice)
        outcome = StoreUploadWithIndex();
    else
        outcome = StoreUploadToFile();
    m_storeFailed = outcome.code == 713;
    WriteJournalEntry(700, Channel().currentProgramCode, CurrentUploadCode(), false);
    if (s.Port.CheckReceivBeforeAppel)
        IncrementReceiptCount();
    SetStatus(outcome);
    SendInfoMessage(BuildInfoMessage("{v}", {QByteArray::number(Channel().currentProgramCode)}), 0);
    if (s.Port.Methode != 4)
        ResetTransaction();
}

void CallResolution::refuse(int code, const QByteArray& name)
{
    SendErrorProgram(code, fromAnsi(TrimSpaces(Config().PathMacroError)), name);
    ResetTransaction();
}

void CallResolution::serveCall(const QString& frame, bool multiLine)
{
    const Settings& s = Config();
    filterReceived(Paths().receptionFile, " ");
    SetStatus(503, {callSubject()});

    if (s.Port.CheckReceivBeforeAppel && !IsReceiptCountReached()) {
        SetStatus(517);
        return refuse(556);
    }

    QStringList paths;
    for (const CalledProgram& call : std::as_const(m_calls)) {
        QString path;
        int error = 0;
        const bool found = s.DataAccess == 1 ? FindCalledProgramInDb(call.Name, path, error)
                                             : FindCalledProgramFile(call.Name, path, error);
        if (!found)
            return refuse(error, call.Name);
        paths.append(path);
    }

    if (s.Port.Methode == 14)
        return sendEachProgram(paths);
    QString result;
    if (multiLine) {
        result = TempFilePath(QStringLiteral("ProgToSend.txt"));
        if (!AssembleMultiLine(paths, frame, result))
            return refuse(555);
    } else {
        const bool concat =
            m_calls.size() > 1 || std::any_of(m_calls.cbegin(), m_calls.cend(),
                                              [](const CalledProgram& c) { return c.HasRange; });
        if (concat) {
            result = TempFilePath(QStringLiteral("TT_Concat_Files.txt"));
            if (!ConcatCalledPrograms(paths, result))
                return refuse(555);
        } else {
            result = paths.first();
        }
        if (result != paths.first() || s.Port.ConcatProgAppel) {
            NormaliseLineEnds(result);
        }
        if (s.Port.ConcatProgAppel)
            MergeCallText(result, frame);
    }
    int error = 0;
    if (!CopyToSendFile(result, error))
        return refuse(error, toAnsi(result));
    // The machine's own program file is never rewritten: line ends are
    // normalised in the send file.
    if (!multiLine)
        NormaliseLineEnds(Paths().sendFile);
    m_calls.first().Name = toAnsi(result);
    SendInfoMessage("{n}" + toAnsi(result), 0);
    if (!m_sender.IsReadyToSend()) {
        ResetTransaction();
        return;
    }
    m_engine.SetPortState(ChannelSending);
    m_sender.SendDispatcher();
    m_engine.ReturnToListening();
}

void CallResolution::sendEachProgram(const QStringList& paths)
{
    // The network transfer names the remote file after DefautFileName: each
    // program gets the default name's base, "_", its own name and the
    // default name's extension, and the default name comes back afterwards.
    Settings& s = Config();
    const QByteArray saved = s.DefautFileName;
    const auto restore = qScopeGuard([&] { s.DefautFileName = saved; });
    QByteArray base;
    QByteArray extension;
    if (!saved.isEmpty()) {
        const qsizetype dot = saved.lastIndexOf('.');
        base = dot < 0 ? saved : saved.left(dot);
        extension = dot < 0 ? QByteArray() : saved.mid(dot);
    } else if (!s.FileExt.isEmpty()) {
        extension = s.FileExt.startsWith('.') ? s.FileExt : '.' + s.FileExt;
    }
    const QList<CalledProgram> calls = m_calls;
    for (int i = 0; i < paths.size() && i < calls.size(); ++i) {
        s.DefautFileName =
            (base.isEmpty() ? QByteArray() : base + '_') + TrimSpaces(calls[i].Name) + extension;
        int error = 0;
        if (!CopyToSendFile(paths[i], error))
            return refuse(error, toAnsi(paths[i]));
        SendInfoMessage("{n}" + calls.first().Name, 0);
        m_engine.SetPortState(ChannelSending);
        m_sender.SendDispatcher();
        if (State().stopRequested)
            break; // the operator stopped the transfer: not the next program either
    }
    m_engine.ReturnToListening();
}

void CallResolution::setTableCall(const QByteArray& callText)
{
    m_fromTable = true;
    m_tableCall = callText;
}

FrameKind CallResolution::ExamineFrame(const QString& file, QByteArray& callText, bool& multiLine)
{
    const Settings& s = Config();
    callText.clear();
    multiLine = false;
    if (m_fromTable) {
        m_fromTable = false;
        callText = m_tableCall;
        return callText.isEmpty() ? FrameKind::Program : FrameKind::Call;
    }
    const qint64 minimum = usesNetworkCopies(s.Port.Methode) ? 0 : 5;
    const QFileInfo info(file);
    if (!info.isFile())
        return FrameKind::Nothing;
    if (info.size() < minimum)
        return FrameKind::Nothing;
    // A frame above the maximum is a program, whatever its comments say: a
    // "(SUIVI DU CONTOUR)" in an upload is no tracking message.
    if (!s.Port.ConcatProgAppel && info.size() > 400)
        return FrameKind::Program;
    FrameKind kind = FrameKind::Program;
    if (!TrimSpaces(s.CallSyntax).isEmpty()) {
        QByteArray prefix, suffix;
        callSyntax(prefix, suffix);
        FileLines lines;
        QByteArray line;
        if (lines.open(file, LineEnds::Any)) {
            while (lines.readLine(line)) {
                const QByteArray bare = withoutBlanks(line);
                const qsizetype at = bare.toUpper().indexOf(prefix.toUpper());
                if (at < 0)
                    continue;
                const qsizetype from = at + prefix.size();
                QByteArray name;
                if (!suffix.isEmpty()) {
                    const qsizetype end = bare.indexOf(suffix, at);
                    if (end < from)
                        continue;
                    name = bare.mid(from, end - from).trimmed();
                } else {
                    name = bare.mid(from).trimmed();
                }
                if (callText.isEmpty() && kind != FrameKind::Call) {
                    callText = name;
                } else {
                    callText += s.Port.SepCarMultiAppel + name;
                    multiLine = true;
                }
                kind = FrameKind::Call;
            }
        }
    }
    // A tracking message wins over anything else in the frame.
    if (RecordTracking(file))
        kind = FrameKind::Tracking;
    return kind;
}

void CallResolution::callSyntax(QByteArray& prefix, QByteArray& suffix)
{
    const QByteArray syntax = withoutBlanks(Config().CallSyntax);
    const qsizetype marker = syntax.indexOf("$$$$");
    if (marker < 0) {
        prefix = syntax;
        suffix.clear();
    } else {
        prefix = syntax.left(marker).trimmed();
        suffix = syntax.mid(marker + 4).trimmed();
    }
}

bool CallResolution::SplitCallList(const QByteArray& callText)
{
    const PortSettings& r = Config().Port;
    m_calls = {CalledProgram{callText, {}, {}, false}};
    if (!r.SepCarMultiAppel.isEmpty() && r.IsMultiAppel) {
        m_calls.clear();
        for (const QByteArray& piece : callText.split(r.SepCarMultiAppel.at(0)))
            m_calls.append(CalledProgram{TrimSpaces(piece), {}, {}, false});
        if (r.SepCarMultiAppel.size() > 1) {
            // A separator of several characters splits on the whole text.
            m_calls.clear();
            qsizetype pos = 0;
            for (qsizetype at = callText.indexOf(r.SepCarMultiAppel); at >= 0;
                 at = callText.indexOf(r.SepCarMultiAppel, pos)) {
                m_calls.append(
                    CalledProgram{TrimSpaces(callText.mid(pos, at - pos)), {}, {}, false});
                pos = at + r.SepCarMultiAppel.size();
            }
            m_calls.append(CalledProgram{TrimSpaces(callText.mid(pos)), {}, {}, false});
        }
    }
    if (!r.CarSepAppel.isEmpty()) {
        for (CalledProgram& c : m_calls) {
            if (!c.Name.contains(r.CarSepAppel))
                continue;
            QList<QByteArray> parts;
            qsizetype pos = 0;
            for (qsizetype at = c.Name.indexOf(r.CarSepAppel); at >= 0;
                 at = c.Name.indexOf(r.CarSepAppel, pos)) {
                parts.append(c.Name.mid(pos, at - pos));
                pos = at + r.CarSepAppel.size();
            }
            parts.append(c.Name.mid(pos));
            c.Name = parts.value(0);
            c.StartText = parts.value(1);
            c.EndText = parts.value(2);
            c.HasRange = parts.size() > 1;
        }
    }
    return m_calls.size() > 1;
}

void CallResolution::noiseCheck(const QString& file)
{
    QFile f(file);
    const QByteArray text = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    const Settings& s = Config();
    for (int i = 1; i < s.Activities.size(); ++i) {
        const QByteArray mark = DecodeCharList(s.Activities[i].CarActivity, {});
        if (!mark.isEmpty() && text.contains(mark)) {
            Channel().matchedActivity = i;
            SetStatus(s.Activities[i].CodeActivity, {}, true);
            return;
        }
    }
    Channel().matchedActivity = 0;
    SetStatus(704, {}, true);
    SetStatus(705, {CharCodeList(text.left(4096))}, true);
}

bool CallResolution::SendErrorProgram(int code, const QString& templatePath, const QByteArray& name)
{
    const int methode = Config().Port.Methode;
    const bool serial = methode <= 3 || methode == 20;
    if (serial && !m_sender.IsReadyToSend())
        return false;
    QFile source(templatePath);
    if (templatePath.isEmpty() || !source.open(QIODevice::ReadOnly))
        return false;
    QByteArray text = source.readAll();
    if (text.trimmed().isEmpty())
        return false;
    // The message names what the machine asked for: it must not end the
    // template's comment and put the rest of the name in a block.
    text.replace("$MSGERROR$", ProgramSafeText(UpperAnsi(name.isNull() ? EventText(code)
                                                                       : EventText(code, {name}))));
    // Written as it stands: the template's own last line end is enough.
    QFile send(Paths().sendFile);
    MakeFolders(QFileInfo(Paths().sendFile).absolutePath());
    if (!send.open(QIODevice::WriteOnly | QIODevice::Truncate) || send.write(text) != text.size())
        return false;
    send.close();
    const PortMethod* method = m_engine.methods().find(methode);
    return method && method->send && method->send();
}

} // namespace nodalis
