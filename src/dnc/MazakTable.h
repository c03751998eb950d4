#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace nodalis {

// A request a MAZAK FUSION machine made through its program table.
struct MazakRequest
{
    struct OfferedFile
    {
        QByteArray FileName; // the offered program file ("1234.MAZ")
        QByteArray Number;   // its number ("1234")
    };

    QByteArray FileName;   // the file to copy into the reception file
    QByteArray TableValue; // call: the number asked for; upload: the offered file's own value
    QByteArray CallText;   // call: the number asked for, else empty
    bool IsCall = false;
    QList<OfferedFile> Offered; // upload: the one offered file

    bool isEmpty() const { return FileName.isEmpty(); }
};

// Reads the machine's program table ("Index.tbl": lines of a file name, a
// tab and a value). A "8888.MAZ" line with a value above 0 is a call for
// that program number; a "8889.MAZ" line with a value above 0 offers the
// program file of that number (an upload). One request is handled per
// reading, the call first: its line is reset to 0 in the table, which is
// rewritten through "MirorIndex.tbl"; a second request stays in the table
// for the next reading. A table without request is not rewritten. Works on
// a copy ("Index.tbl" of the temporary folder); when no copy can be read,
// event 360 and an empty request.
MazakRequest ReadMazakTable(const QString& tablePath);

} // namespace nodalis
