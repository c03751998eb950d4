#include "dnc/UploadStorage.h"

#include "dnc/ChannelFiles.h"
#include "dnc/CharFilters.h"
#include "dnc/CharLists.h"
#include "dnc/ControlProtocol.h"
#include "dnc/EventMessages.h"
#include "dnc/InfoNotifier.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "dnc/ReceptionFilters.h"
#include "platform/AnsiText.h"
#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "platform/OperatorPrompt.h"
#include "platform/SystemPaths.h"
#include "startup/AppPaths.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"
#include "store/ProgramDatabase.h"
#include "store/ProgramRecords.h"
#include "store/TextUtils.h"
#include "store/UploadRecords.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace nodalis {

namespace {

constexpr int kStoreFailed = 713;

QString timeStampedName(const QDateTime& at)
{
    return QStringLiteral("FromCN_(") + at.toString(QStringLiteral("dd-MM-yy_hh'h'mm'min'ss's'")) +
           QStringLiteral(").txt");
}

void notifyUpload(qint32 code)
{
    SendInfoMessage(BuildInfoMessage("{r}", {QByteArray::number(code)}), 0);
}

void logStoreProblem(const ProgramDatabase& db)
{
    LogLine(ansi(u"Base de données des programmes : ") + toAnsi(db.errorText()));
}

int storeFailed()
{
    KeepReceptionCopy();
    return kStoreFailed;
}

// Stand-alone servers show what they stored in the text editor.
void showStoredUpload(const QString& path)
{
    if (IsHeadless()) {
        LogLine(ansi(u"Programme reçu enregistré : ") + toAnsi(QDir::toNativeSeparators(path)));
        return;
    }
    OpenInEditor(path);
}

// Channel 1 is the file itself; the files of further channels are copied
// when the machine sent them.
bool copyChannelFiles(const QString& from, const QString& to)
{
    for (int i = 1; i <= ChannelCount(); ++i) {
        const QString source = ChannelLabel(from, i);
        if (i > 1 && !FileExists(source))
            continue;
        if (!CopyFile(source, ChannelLabel(to, i)))
            return false;
    }
    return true;
}

void copyCompanionFolder(const QString& reception, const QString& target)
{
    const QString companion = reception + QStringLiteral(".dir");
    if (Config().ModeGestionBD != 1 || !FolderExists(companion))
        return;
    const QString targetFolder = target + QStringLiteral(".dir");
    if (FolderExists(targetFolder))
        DeleteFolder(targetFolder);
    CopyFolder(companion, targetFolder);
}

// The suite's program code in the header names the program outright. The
// channel's current code is not used: it may still be that of the last send.
qint32 knownProgramCode(const HeaderValues& header)
{
    return Config().UseCodeProgOrva && header.CodeProg >= 1 ? qint32(header.CodeProg) : 0;
}

// A file about to be written under a name read from the program lands in the
// folder itself: not through a link out of it, nor over a link that would
// carry the write (or the copy of the version it replaces) elsewhere.
bool landsIn(const QString& folder, const QString& path)
{
    const QFileInfo target(path);
    if (target.exists() || target.isSymLink())
        return IsInsideFolders(path, {folder});
    const QString parent = QFileInfo(target.absolutePath()).canonicalFilePath();
    return !parent.isEmpty() &&
           parent.compare(QFileInfo(folder).canonicalFilePath(), FileNameCase()) == 0;
}

int readCount(const QString& path)
{
    QByteArray text;
    if (!ReadOrWriteFile(ReadDirection, path, text))
        return 0;
    return int(LeadingNumber(text)); // the number of the first line
}

void writeCount(const QString& path, int count)
{
    QByteArray text = QByteArray::number(count);
    ReadOrWriteFile(ReadDirection + 1, path, text);
}

} // namespace

QString StorageName(int kind, qint32 code, const QDateTime& at)
{
    const QString day = at.toString(QStringLiteral("dd-MM-yy"));
    switch (kind) {
    case ReceptionCopyPath:
        return WithTrailingBackslash(FolderOf(Paths().receptionFile)) + timeStampedName(at);
    case EventLogFilePath:
        return EventLogPath(at.date());
    case TrackingFilePath:
        return Paths().trackingFolder + QStringLiteral("Suivi (") + day + QStringLiteral(").txt");
    default:
        return ProgramFilePath(kind, code);
    }
}

HeaderValues ReadUploadIdentification(const QString& file)
{
    HeaderValues header = ReadHeader(file);
    const int numberField = Config().NumProgFieldIndex();
    if (numberField >= 1) {
        QByteArray number = ReadProgramNumber(file, {}, false, 0, false);
        if (number.isEmpty())
            number = ReadProgramNumber(file, {}, false, 0, true);
        if (header.Fields.size() <= numberField)
            header.Fields.resize(numberField + 1);
        header.Fields[numberField] = number;
    }
    // What the controller's protocol said of the program comes first.
    const auto set = [&header](int field, const QByteArray& value) {
        if (field < 1 || value.isEmpty())
            return;
        if (header.Fields.size() <= field)
            header.Fields.resize(field + 1);
        header.Fields[field] = value;
    };
    set(numberField, Channel().receivedNumber);
    set(Config().InfoProgFieldIndex(), Channel().receivedName);
    return header;
}

void FilterReceivedProgram(const QString& file)
{
    if (Channel().receivedVerbatim)
        return;
    const PortSettings& r = Config().Port;
    if (!TrimSpaces(r.RCarFiltered).isEmpty() &&
        ReplaceChars(file, DecodeCharList(r.RCarFiltered, {}),
                     DecodeCharList(r.RCarFilteredBy, {})))
        SetStatus(951);
    FilterReceivedLines(file);
}

QString KeepReceptionCopy()
{
    const QString& reception = Paths().receptionFile;
    QString copy = StorageName(ReceptionCopyPath);
    if (FileExists(copy))
        copy = NextVersionName(copy);
    return FileExists(reception) && CopyFile(reception, copy) ? copy : QString();
}

EventReport StoreUploadToFile()
{
    const Settings& s = Config();
    const QString& reception = Paths().receptionFile;
    const HeaderValues header = ReadUploadIdentification(reception);
    CurrentUploadCode() = 0;
    if (s.DncAppMode == 0) {
        ProgramDatabase db;
        if (AwaitProgramDatabase(ProgramDatabasePath(), db))
            CurrentUploadCode() = InsertUploadRecord(header, db, Channel().currentProgramCode);
        if (CurrentUploadCode() < 1)
            logStoreProblem(db);
    }
    FilterReceivedProgram(reception);

    // Without its record the upload keeps a time-stamped name: a code of 0
    // would make every such upload replace the previous one.
    const qint32 upload = CurrentUploadCode();
    const QString target =
        upload >= 1 ? ProgramFilePath(UploadTextPath, upload) : StorageName(ReceptionCopyPath);
    MakeFolders(FolderOf(target));
    if (!CopyFile(reception, target)) {
        if (upload >= 1) {
            ProgramDatabase db;
            if (OpenProgramDatabase(ProgramDatabasePath(), db))
                DeleteUploadRecord(upload, db);
            CurrentUploadCode() = 0;
        }
        return storeFailed();
    }
    Pause(1000);

    if (s.ReceivProgCrushed) {
        const bool replaced = ReplaceProgramFileByUpload(upload, target);
        SetStatus(replaced ? 707 : 710);
        notifyUpload(replaced ? 0 : upload);
    } else {
        notifyUpload(upload);
    }
    if (s.DncAppMode == 1)
        showStoredUpload(target);
    return 703;
}

EventReport StoreUploadToDatabase(const HeaderValues* identification)
{
    const Settings& s = Config();
    const QString& reception = Paths().receptionFile;
    CurrentUploadCode() = 0;
    ProgramDatabase db;
    if (!AwaitProgramDatabase(ProgramDatabasePath(), db)) {
        logStoreProblem(db);
        return storeFailed();
    }
    const HeaderValues header =
        identification ? *identification : ReadUploadIdentification(reception);
    Channel().currentProgramCode = IdentifyUpload(db, header, knownProgramCode(header));
    const qint32 upload = CurrentUploadCode() =
        InsertUploadRecord(header, db, Channel().currentProgramCode);
    if (upload < 1) {
        logStoreProblem(db);
        return storeFailed();
    }
    const qint32 program = Channel().currentProgramCode;
    const int result = program != 0 ? 701 : 702;
    FilterReceivedProgram(reception);

    const QString target = ProgramFilePath(UploadTextPath, upload);
    MakeFolders(FolderOf(target));
    if (!copyChannelFiles(reception, target)) {
        // No record without its text: the program-management application
        // would offer an upload it cannot open.
        DeleteUploadRecord(upload, db);
        CurrentUploadCode() = 0;
        return storeFailed();
    }
    Pause(1000);
    copyCompanionFolder(reception, target);

    if (s.ReceivProgCompareFiltered && s.ModeGestionBD == 0) {
        if (CompareProgramTexts(ProgramFilePath(ProgramTextPath, program), target)) {
            MarkUploadRecorded(upload, db);
            SetStatus(708);
            notifyUpload(0);
            return result;
        }
        SetStatus(709);
    }
    if (s.ReceivProgCrushed && s.ModeGestionBD == 0) {
        const bool replaced = ReplaceProgramByUpload(program, upload, db);
        SetStatus(replaced ? 706 : 710);
        notifyUpload(replaced ? 0 : upload);
    } else {
        notifyUpload(upload);
    }
    return result;
}

EventReport StoreUploadWithIndex()
{
    const QString& reception = Paths().receptionFile;
    const QString folder = WithTrailingBackslash(Config().PathFileProgSave);
    const QByteArray number = ReadProgramNumber(reception, {}, true, 4, false);
    if (number.isEmpty() || folder.isEmpty())
        return storeFailed();
    const QString base = folder + fromAnsi(number);
    int highest = 0;
    for (const QString& path : ListFilesLike(base)) {
        bool numeric = false;
        const int index = ExtensionOf(FileNameOf(path)).toInt(&numeric);
        if (numeric)
            highest = qMax(highest, index);
    }
    const QString name =
        base + QLatin1Char('.') + QString::number(highest + 1).rightJustified(3, QLatin1Char('0'));
    if (!landsIn(folder, name) || !CopyFile(reception, name))
        return storeFailed();
    return {712, {toAnsi(name)}};
}

bool ReplaceProgramFileByUpload(qint32 uploadCode, const QString& uploadFile)
{
    const Settings& s = Config();
    Pause(1000);
    const QString upload =
        uploadFile.isEmpty() ? ProgramFilePath(UploadTextPath, uploadCode) : uploadFile;
    const QString folder = WithTrailingBackslash(s.PathFileProgSave);
    if (folder.isEmpty() || upload.isEmpty() || !FileExists(upload))
        return false;
    QByteArray name = SpecificiteName(s.Port.Specificite) == "DUVOV_RIDODOZI"
                          ? ReadProgramCode(upload)
                          : ReadProgramNumber(upload, {}, false, 0, false);
    // A name of dots would leave the program folder.
    if (QByteArray(name).replace('.', "").trimmed().isEmpty())
        name.clear();
    QString target;
    if (name.isEmpty())
        target = folder + timeStampedName(QDateTime::currentDateTime());
    else if (s.CodeGroupCN == 2)
        target =
            folder + fromAnsi(TrimSpaces(UpperAnsi(name).replace("MM", ""))) + QStringLiteral(".H");
    else
        target = folder + fromAnsi(name);
    MakeFolders(folder);
    if (!landsIn(folder, target) || !ReplaceFileKeepingVersion(target, upload))
        return false;
    Pause(1000);
    if (uploadCode >= 1) {
        ProgramDatabase db;
        if (OpenProgramDatabase(ProgramDatabasePath(), db))
            MarkUploadRecorded(uploadCode, db);
    }
    return true;
}

void IncrementReceiptCount()
{
    const QString& path = Paths().preCallCheckFile;
    const int count = FileExists(path) ? readCount(path) : 0;
    Pause(200);
    writeCount(path, count + 1);
}

bool IsReceiptCountReached()
{
    const QString& path = Paths().preCallCheckFile;
    if (!FileExists(path) || readCount(path) < Config().Port.NbReceivBeforeAppel)
        return false;
    Pause(200);
    writeCount(path, 0);
    return true;
}

} // namespace nodalis
