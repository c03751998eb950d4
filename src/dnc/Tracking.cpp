#include "dnc/Tracking.h"

#include "dnc/CharLists.h"
#include "dnc/ControlProtocol.h"
#include "dnc/EventMessages.h"
#include "dnc/InfoNotifier.h"
#include "dnc/LineFiles.h"
#include "dnc/UploadStorage.h"
#include "platform/AnsiText.h"
#include "startup/AppPaths.h"
#include "startup/IniFile.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"
#include "store/TextUtils.h"

#include <QFileInfo>

namespace nodalis {

namespace {

const QByteArray kSection = QByteArrayLiteral("GENERAL");

QByteArray withoutBlanks(QByteArray line)
{
    return line.replace(' ', QByteArray()).replace('\t', QByteArray());
}

// One tracking line: every item updates the day's file at once, so that a
// message cut short still leaves the pieces counted so far.
void recordLine(const QByteArray& line, const QDateTime& at)
{
    const QString path = StorageName(TrackingFilePath, 0, at);
    MakeFolders(FolderOf(path));
    const QByteArray time = at.toString(QStringLiteral("hh:mm:ss")).toLatin1();
    int counter = int(LeadingNumber(TrimSpaces(FNReadIni(path, kSection, "NbPiece", "0"))));
    QList<QByteArray> items = line.split('-');
    items.removeLast();
    for (const QByteArray& item : items) {
        const QByteArray state = TextBetween(item + '-', "INFO", "-");
        QByteArray record;
        if (state == "1") {
            ++counter;
            record = "DEBUT:" + time + '|';
            SendInfoMessage(BuildInfoMessage("{a}", {"6"}), 0);
        } else {
            record = TrimSpaces(FNReadIni(path, kSection, QByteArray::number(counter)));
            if (record.contains("FIN:")) {
                ++counter;
                record.clear();
            }
            if (state == "0") {
                record += "FIN:" + time + '|';
                SendInfoMessage(BuildInfoMessage("{a}", {"3"}), 0);
            } else {
                record += QByteArray(item).replace('!', ':') + '|';
            }
        }
        WriteIni(path, kSection, "NbPiece", QByteArray::number(counter));
        WriteIni(path, kSection, QByteArray::number(counter), record);
    }
}

} // namespace

bool RecordTracking(const QString& file, const QDateTime& at)
{
    FileLines lines;
    if (!lines.open(file))
        return false;
    bool found = false;
    QByteArray line;
    while (lines.readLine(line)) {
        const QByteArray text = withoutBlanks(line);
        if (text.isEmpty() || !text.contains("SUIVI"))
            continue;
        found = true;
        recordLine(text, at.isValid() ? at : QDateTime::currentDateTime());
    }
    return found;
}

EventReport StoreDatedCopy()
{
    const QString& reception = Paths().receptionFile;
    FilterReceivedProgram(reception);
    const QString folder = WithTrailingBackslash(SettingPath(Config().PathRemonte));
    const QFileInfo info(reception);
    if (!folder.isEmpty() && info.isFile()) {
        const QString copy = folder +
                             info.lastModified().toString(QStringLiteral("yyyy-MM-dd-hh-mm-ss")) +
                             QStringLiteral(".txt");
        if (CopyFile(reception, copy))
            return {712, {toAnsi(copy)}};
    }
    KeepReceptionCopy();
    return {713};
}

} // namespace nodalis
