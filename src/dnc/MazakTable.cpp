#include "dnc/MazakTable.h"

#include "dnc/CharLists.h"
#include "dnc/EventMessages.h"
#include "dnc/LineFiles.h"
#include "platform/Clock.h"
#include "startup/IniValue.h"
#include "store/FileUtils.h"
#include "store/TextUtils.h"

namespace nodalis {

namespace {

struct TableEntry
{
    QByteArray name; // trimmed, in capitals; empty for a line that is no entry
    QByteArray value;
};

// A line with a tab after its first character is an entry.
TableEntry entryOf(const QByteArray& line)
{
    const qsizetype tab = line.indexOf('\t');
    if (tab < 1)
        return {};
    return {UpperAnsi(TrimSpaces(line.left(tab))), UpperAnsi(TrimSpaces(line.mid(tab + 1)))};
}

bool isRequest(const TableEntry& entry, const char* name)
{
    return entry.name.contains(name) && LeadingNumber(entry.value) > 0;
}

// The value of the table line whose name is the file's.
QByteArray valueOfFile(const QString& table, const QByteArray& fileName)
{
    FileLines lines;
    if (!lines.open(table))
        return {};
    QByteArray line;
    while (lines.readLine(line)) {
        const TableEntry entry = entryOf(line);
        if (!entry.name.isEmpty() && entry.name == fileName)
            return entry.value;
    }
    return {};
}

// Which request the reading handles: the call first, else the upload.
enum class Request
{
    None,
    Call,
    Upload
};

Request requestOf(const QString& copy)
{
    FileLines lines;
    if (!lines.open(copy))
        return Request::None;
    bool upload = false;
    QByteArray line;
    while (lines.readLine(line)) {
        const TableEntry entry = entryOf(line);
        if (isRequest(entry, "8888.MAZ"))
            return Request::Call;
        upload = upload || isRequest(entry, "8889.MAZ");
    }
    return upload ? Request::Upload : Request::None;
}

} // namespace

MazakRequest ReadMazakTable(const QString& tablePath)
{
    MazakRequest request;
    const QString copy = TempFilePath(QStringLiteral("Index.tbl"));
    QFile probe;
    MakeFolders(FolderOf(copy));
    if (!CopyFile(tablePath, copy) || !OpenForRead(copy, FileMode::TextInput, probe)) {
        SetStatus(360);
        return request;
    }
    probe.close();
    const Request kind = requestOf(copy);
    if (kind == Request::None)
        return request;

    const QString mirror = TempFilePath(QStringLiteral("MirorIndex.tbl"));
    const char* requestName = kind == Request::Call ? "8888.MAZ" : "8889.MAZ";
    bool handled = false;
    const bool written =
        TransformFileLines(copy, mirror, [&](const QByteArray& line, LineWriter& out) {
            const TableEntry entry = entryOf(line);
            if (handled || !isRequest(entry, requestName)) {
                out.writeLine(line);
                return;
            }
            handled = true;
            if (kind == Request::Call) {
                request.FileName = entry.name;
                request.TableValue = request.CallText = entry.value;
                request.IsCall = true;
            } else {
                request.FileName = entry.value + ".MAZ";
                request.Offered.append({request.FileName, entry.value});
            }
            out.writeLine(QByteArray(requestName) + "\t0");
        });
    if (!written)
        return {};
    Pause(200);
    if (kind == Request::Upload) {
        request.TableValue = valueOfFile(copy, request.FileName);
        Pause(200);
    }
    ReplaceByResult(tablePath, mirror);
    return request;
}

} // namespace nodalis
