#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QString>

namespace nodalis::mazatrol {

// Mazatrol programs on the PC: text files of hexadecimal records, one per
// line, framed by "xVb" marker lines. A record's first two characters give
// its kind ("11" program header, "10" ISO text, "12", "20" end, "3x").
//
// A record line ends at CR or CR LF. A bare LF is part of the record: the
// ISO text records carry the program's own line feeds.

inline const QByteArray Marker = QByteArrayLiteral("xVb");

// Reads a record file line by line, a chunk at a time: a 50 MB upload is
// never held whole.
class RecordReader
{
public:
    bool open(const QString& path);
    void close() { m_file.close(); }
    // The next line without its CR or CR LF; false after the last one.
    bool readLine(QByteArray& line);
    // The same without a copy: the view holds until the next read.
    bool readLine(QByteArrayView& line);
    // Nothing left to read.
    bool atEnd();
    // Back to the first line.
    bool rewind();

private:
    bool fill();

    QFile m_file;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_eof = false;
};

// Checksum of a block in a data frame: the sum of its character codes in
// upper-case hexadecimal, of which the last two digits are kept (one digit
// gets a leading "0").
QByteArray BlockChecksum(QByteArrayView block);

// Program number and name of the record headers, read for a control model
// (CodeCN). The last header read counts.
struct RecordHeader
{
    bool found = false;
    qint32 number = 0;
    QByteArray name;
};

// Reads one record into header when it is a program header the model
// reads; false (header untouched) otherwise. A number that is not
// hexadecimal reads 0; a name code that is not is no character.
bool ParseRecordHeader(QByteArrayView record, int codeCN, RecordHeader& header);
// The last header of a file for the model.
RecordHeader ReadRecordHeaders(const QString& path, int codeCN);

enum class ProgramKind
{
    Mazatrol,
    Hybrid, // Mazatrol records holding ISO text
    Iso,
};
ProgramKind IdentifyProgram(const QString& path);

// Hybrid Mazatrol to ISO text: "%", "O" + number + "(" + name + ")" per
// program header, the ISO text records with CR LF line ends. False when the
// input cannot be read or the output written.
bool MazatrolToIso(const QString& input, const QString& output, int codeCN);

enum class IsoResult
{
    Done,
    Unreadable,    // missing or empty input
    NoProgramLine, // no "O" line: nothing to name the program by
    TooLong,       // more text records than the record number can count
    BadNumber,     // a program number the four digits of the header cannot hold
    WriteFailed,
};
// The most text records a program may have: their number is two
// hexadecimal digits.
inline constexpr int MaxTextRecords = 255;
// ISO text to Mazatrol records. Any line end of the input ends a line.
IsoResult IsoToMazatrol(const QString& input, const QString& output);

} // namespace nodalis::mazatrol
