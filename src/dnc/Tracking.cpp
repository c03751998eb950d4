#include "dnc/Tracking.h"

#include "dnc/CharLists.h"
#include "dnc/ControlProtocol.h"
#include "dnc/EventMessages.h"
#include "dnc/InfoNotifier.h"
#include "dnc/LineFiles.h"
#include "dnc/UploadStorage.h"
#include "platform/AnsiText.h"
#include "platform/FileSync.h"
#include "startup/AppPaths.h"
#include "startup/IniDocument.h"
#include "startup/IniFile.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"
#include "store/TextUtils.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <optional>

namespace nodalis {

namespace {

const QByteArray kSection = QByteArrayLiteral("GENERAL");

QByteArray withoutBlanks(QByteArray line)
{
    return line.replace(' ', QByteArray()).replace('\t', QByteArray());
}

// The line end a document's new lines get: that of its first line, CR LF
// when it has none.
QByteArray lineEndOf(const QByteArray& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\n')
            return QByteArrayLiteral("\n");
        if (text[i] == '\r')
            return i + 1 < text.size() && text[i + 1] == '\n' ? QByteArrayLiteral("\r\n")
                                                              : QByteArrayLiteral("\r");
    }
    return QByteArrayLiteral("\r\n");
}

// A day's tracking file while a frame is recorded: read once, changed in
// memory item after item, written once at the end. A frame of thousands of
// items must not rewrite the file thousands of times. Reads and writes
// behave as single INI reads and writes of the file would, so the file
// ends as it would after one write per value.
class TrackingDay
{
public:
    explicit TrackingDay(const QString& path) : m_path(path)
    {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            m_document = IniDocument(file.readAll());
        else
            m_unreadable = file.exists(); // counts from 0, and is not replaced
    }

    const QString& path() const { return m_path; }

    // The value a read of the file gives: cut to the longest INI value.
    QByteArray value(const QByteArray& key, const QByteArray& fallback = {}) const
    {
        QByteArray v = fallback;
        if (const auto changed = m_values.constFind(key); changed != m_values.constEnd())
            v = *changed;
        else if (auto read = m_document.value(kSection, key))
            v = std::move(*read);
        v.truncate(IniValueMax);
        return v;
    }

    // As an INI write: a value that would break its line is refused.
    void set(const QByteArray& key, const QByteArray& value)
    {
        if (m_unreadable || value.contains('\r') || value.contains('\n') || value.contains('\0'))
            return;
        if (!m_values.contains(key))
            m_order.append(key);
        m_values.insert(key, value);
    }

    bool write() const
    {
        if (m_order.isEmpty())
            return true;
        // Keys the file has are changed where they stand; new keys go, in
        // the order they were first set, after the last line of the section,
        // all in one insertion (each would go right after the one before).
        QByteArray text = m_document.content();
        QList<QByteArray> added;
        for (const QByteArray& key : m_order) {
            if (m_document.keyLine(kSection, key) > 0)
                text = IniDocument(text).withValue(kSection, key, m_values.value(key));
            else
                added.append(key);
        }
        if (!added.isEmpty()) {
            const IniDocument current(text);
            const QByteArray eol = lineEndOf(current.text());
            QByteArray lines = m_values.value(added.first());
            for (qsizetype i = 1; i < added.size(); ++i)
                lines += eol + added[i] + '=' + m_values.value(added[i]);
            text = current.withValue(kSection, added.first(), lines);
        }
        MakeFolders(FolderOf(m_path));
        QSaveFile file(m_path);
        file.setDirectWriteFallback(true);
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() &&
               CommitWhole(file);
    }

private:
    QString m_path;
    IniDocument m_document;
    bool m_unreadable = false;
    QHash<QByteArray, QByteArray> m_values; // values set, by key
    QList<QByteArray> m_order;              // keys in the order first set
};

// One tracking line: each "-"-separated item but the last updates the
// day's counter and the current piece's record.
void recordLine(TrackingDay& day, const QByteArray& line, const QDateTime& at)
{
    const QByteArray time = at.toString(QStringLiteral("hh:mm:ss")).toLatin1();
    int counter = int(LeadingNumber(TrimSpaces(day.value("NbPiece", "0"))));
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
            record = TrimSpaces(day.value(QByteArray::number(counter)));
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
        day.set("NbPiece", QByteArray::number(counter));
        day.set(QByteArray::number(counter), record);
    }
}

} // namespace

bool RecordTracking(const QString& file, const QDateTime& at)
{
    FileLines lines;
    if (!lines.open(file, LineEnds::Any))
        return false;
    bool found = false;
    std::optional<TrackingDay> day;
    QByteArray line;
    while (lines.readLine(line)) {
        const QByteArray text = withoutBlanks(line);
        if (text.isEmpty() || !text.contains("SUIVI"))
            continue;
        found = true;
        const QDateTime now = at.isValid() ? at : QDateTime::currentDateTime();
        const QString path = StorageName(TrackingFilePath, 0, now);
        if (!day || day->path() != path) {
            // Past midnight the lines count in the new day's file.
            if (day)
                day->write();
            day.emplace(path);
        }
        recordLine(*day, text, now);
    }
    if (day)
        day->write();
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
