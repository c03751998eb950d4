#include "protocols/MazatrolConvert.h"

#include "dnc/LineFiles.h"
#include "startup/IniValue.h"
#include "store/TextUtils.h"

#include <QFileInfo>

namespace nodalis::mazatrol {

namespace {

constexpr qsizetype kChunk = 64 * 1024;
constexpr qsizetype kRecordLength = 128;
constexpr qsizetype kTextLength = 120; // the ISO text of one text record

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// The value of hexadecimal digits; -1 when any is not one.
qint64 hexValue(QByteArrayView digits)
{
    qint64 value = 0;
    for (const char c : digits) {
        if (!isHexDigit(c))
            return -1;
        value = value * 16 + (c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    return value;
}

QByteArray hex(qint64 value, int width)
{
    return QByteArray::number(value, 16).toUpper().rightJustified(width, '0');
}

QByteArray padded(const QByteArray& record)
{
    return record.leftJustified(kRecordLength, '0');
}

// Header columns (from 0) of a model: where the number's digits are, in
// reading order, and where the sixteen name codes start. -1: none.
struct HeaderColumns
{
    int number[2];
    int numberLength;
    int name;
};

bool columnsOf(int codeCN, HeaderColumns& c)
{
    switch (codeCN) {
    case 701:
    case 703:
    case 704:
    case 705:
    case 707:
    case 708:
        c = {{14, -1}, 4, 22};
        return true;
    case 702:
    case 712:
        c = {{10, 8}, 2, 62};
        return true;
    case 709:
    case 710:
        c = {{10, 8}, 2, 22};
        return true;
    case 706:
        c = {{16, 14}, 2, 62};
        return true;
    case 713:
        c = {{-1, -1}, 0, 22};
        return true;
    default:
        return false;
    }
}

// ISO text of a record as lines: every LF becomes a line end.
void writeIsoText(LineWriter& out, QByteArrayView text)
{
    for (qsizetype lf; (lf = text.indexOf('\n')) >= 0; text = text.sliced(lf + 1))
        out.writeLine(text.first(lf));
    out.writeLine(text);
}

} // namespace

bool RecordReader::open(const QString& path)
{
    m_file.close();
    m_file.setFileName(path);
    m_buffer.clear();
    m_pos = 0;
    m_eof = false;
    return m_file.open(QIODevice::ReadOnly);
}

bool RecordReader::fill()
{
    if (m_eof || !m_file.isOpen())
        return false;
    const QByteArray chunk = m_file.read(kChunk);
    if (chunk.isEmpty()) {
        m_eof = true;
        return false;
    }
    if (m_pos > 0) {
        m_buffer.remove(0, m_pos);
        m_pos = 0;
    }
    m_buffer += chunk;
    return true;
}

bool RecordReader::readLine(QByteArray& line)
{
    QByteArrayView view;
    if (!readLine(view))
        return false;
    line = view.toByteArray();
    return true;
}

bool RecordReader::readLine(QByteArrayView& line)
{
    qsizetype scan = m_pos;
    for (;;) {
        const qsizetype cr = m_buffer.indexOf('\r', scan);
        // A CR last in the buffer may have its LF in the next chunk.
        if (cr >= 0 && (cr + 1 < m_buffer.size() || m_eof)) {
            line = QByteArrayView(m_buffer).sliced(m_pos, cr - m_pos);
            m_pos = cr + 1;
            if (m_pos < m_buffer.size() && m_buffer[m_pos] == '\n')
                ++m_pos;
            return true;
        }
        const qsizetype done = (cr >= 0 ? cr : m_buffer.size()) - m_pos;
        if (!fill()) {
            if (!m_eof || m_pos >= m_buffer.size())
                return false;
            if (m_buffer.indexOf('\r', m_pos) >= 0) {
                scan = m_pos;
                continue;
            }
            line = QByteArrayView(m_buffer).sliced(m_pos);
            m_pos = m_buffer.size();
            return true;
        }
        scan = m_pos + done;
    }
}

bool RecordReader::atEnd()
{
    return m_pos >= m_buffer.size() && !fill();
}

bool RecordReader::rewind()
{
    m_buffer.clear();
    m_pos = 0;
    m_eof = false;
    return m_file.isOpen() && m_file.seek(0);
}

QByteArray BlockChecksum(QByteArrayView block)
{
    quint64 sum = 0;
    for (const char c : block)
        sum += quint8(c);
    const QByteArray digits = QByteArray::number(sum, 16).toUpper();
    return digits.size() == 1 ? '0' + digits : digits.right(2);
}

bool ParseRecordHeader(QByteArrayView record, int codeCN, RecordHeader& header)
{
    if (!record.startsWith("11"))
        return false;
    const auto field = [&record](qsizetype from, qsizetype length) {
        return from < record.size() ? record.sliced(from, qMin(length, record.size() - from))
                                    : QByteArrayView();
    };
    if (field(2, 2) == "20") {
        // Only this model numbers its programs there.
        if (codeCN != 713)
            return false;
        header.number = qint32(qMax<qint64>(0, hexValue(field(4, 4))));
        header.found = true;
        return true;
    }
    HeaderColumns c{};
    if (!columnsOf(codeCN, c))
        return false;
    if (c.numberLength > 0) {
        QByteArray digits;
        for (const int at : c.number)
            if (at >= 0)
                digits += field(at, c.numberLength).toByteArray();
        header.number = qint32(qMax<qint64>(0, hexValue(digits)));
    }
    header.name.clear();
    const QByteArrayView codes = field(c.name, 32);
    for (qsizetype i = 0; i + 1 < codes.size(); i += 2) {
        const qint64 code = hexValue(codes.sliced(i, 2));
        if (code > 0)
            header.name += char(code);
    }
    header.found = true;
    return true;
}

RecordHeader ReadRecordHeaders(const QString& path, int codeCN)
{
    RecordHeader header;
    RecordReader records;
    if (!records.open(path))
        return header;
    QByteArray line;
    while (records.readLine(line))
        ParseRecordHeader(line, codeCN, header);
    return header;
}

ProgramKind IdentifyProgram(const QString& path)
{
    RecordReader lines;
    if (!lines.open(path))
        return ProgramKind::Mazatrol;
    bool mazatrolRecords = false;
    QByteArray line;
    while (lines.readLine(line)) {
        if (line.toUpper().contains("GBIFILE"))
            return ProgramKind::Mazatrol;
        if (line.startsWith("3200") || line.startsWith("3000"))
            mazatrolRecords = true;
        if (line.contains('N') || line.contains('G') || line.contains('M'))
            return mazatrolRecords ? ProgramKind::Hybrid : ProgramKind::Iso;
    }
    return ProgramKind::Mazatrol;
}

bool MazatrolToIso(const QString& input, const QString& output, int codeCN)
{
    RecordReader records;
    if (!records.open(input))
        return false;
    LineWriter out;
    if (!out.open(output))
        return false;
    RecordHeader header;
    QByteArrayView line; // valid until the next line is read
    QByteArray tail;     // continued text after its last line feed
    while (records.readLine(line)) {
        const QByteArrayView kind = line.first(qMin<qsizetype>(2, line.size()));
        if (kind == "11") {
            out.writeLine("%");
            ParseRecordHeader(line, codeCN, header);
            out.writeLine('O' + QByteArray::number(header.number) + '(' + header.name + ')');
        } else if (kind == "10") {
            const QByteArrayView body = line.size() > 8 ? line.sliced(8) : QByteArrayView();
            const bool continued = line.size() >= 8 && line.sliced(6, 2) == "78";
            if (!continued) {
                // The last record of a text: it ends at its first "%".
                QByteArrayView text = body;
                if (!tail.isEmpty()) {
                    tail.append(body);
                    text = tail;
                }
                const qsizetype percent = text.indexOf('%');
                writeIsoText(out, percent >= 0 ? text.first(percent + 1) : text);
                tail.resize(0);
                continue;
            }
            // A continued text: its lines up to the last LF go out, joined to
            // what the records before left; the rest waits for the next one.
            const qsizetype last = body.lastIndexOf('\n');
            if (last < 0) {
                tail.append(body);
                continue;
            }
            const qsizetype first = body.indexOf('\n');
            if (tail.isEmpty()) {
                out.writeLine(body.first(first));
            } else {
                tail.append(body.first(first));
                out.writeLine(tail);
            }
            if (last > first)
                writeIsoText(out, body.sliced(first + 1, last - first - 1));
            tail.resize(0);
            tail.append(body.sliced(last + 1));
        }
    }
    // A program cut short still gives its last text.
    if (!tail.isEmpty())
        writeIsoText(out, tail);
    return out.close();
}

IsoResult IsoToMazatrol(const QString& input, const QString& output)
{
    FileLines lines;
    if (!lines.open(input, LineEnds::Any))
        return IsoResult::Unreadable;
    const qint64 length = QFileInfo(input).size();
    LineWriter out;
    if (!out.open(output))
        return IsoResult::WriteFailed;
    const qint64 count = qMin<qint64>((length / kTextLength + 1) * 2 + 3, 255);
    const QByteArray countDigits = QByteArray::number(count, 16).toUpper().leftJustified(4, '0');

    QByteArray buffer;
    buffer.reserve(kTextLength);
    int records = 0;
    bool tooLong = false;
    const auto writeRecord = [&](const QByteArray& kindLength) {
        if (records >= MaxTextRecords) {
            tooLong = true;
            return false;
        }
        out.writeLine("1000" + hex(records++, 2) + kindLength +
                      buffer.leftJustified(kTextLength, '0'));
        buffer.clear();
        return true;
    };
    const auto append = [&](QByteArrayView piece) {
        while (!piece.isEmpty()) {
            const qsizetype take = qMin(kTextLength - buffer.size(), piece.size());
            buffer.append(piece.first(take));
            piece = piece.sliced(take);
            if (buffer.size() == kTextLength && !writeRecord(hex(kTextLength, 2)))
                return false;
        }
        return true;
    };

    bool programLine = false;
    bool badNumber = false;
    int percents = 0;
    QByteArray line;
    while (!tooLong && lines.readLine(line)) {
        if (line.startsWith('%')) {
            if (++percents == 1)
                continue;
            break;
        }
        if (line.startsWith('O')) {
            programLine = true;
            QByteArray value;
            ValueAfterMarker(line, "O", value);
            const qint64 value64 = qMax<qint64>(0, qint64(LeadingNumber(value)));
            if (value64 > 0xFFFF) {
                badNumber = true;
                break;
            }
            const QByteArray number = hex(value64, 4);
            QByteArray name;
            if (const qsizetype open = line.indexOf('('); open >= 0) {
                if (const qsizetype close = line.indexOf(')', open); close >= 0)
                    name = line.mid(open + 1, close - open - 1).left(10);
            }
            QByteArray nameDigits;
            for (const char c : std::as_const(name))
                nameDigits += hex(quint8(c), 2);
            out.writeLine(Marker);
            out.writeLine(padded("3121000000001"));
            out.writeLine("3000" + number + QByteArray(120, '0'));
            out.writeLine(padded("32"));
            out.writeLine("11000200" + countDigits + "32" + number + "0000" +
                          nameDigits.leftJustified(20, '0') + QByteArray(82, '0') + "2101");
            continue;
        }
        if (!append(line) || !append("\n"))
            break;
    }
    if (!tooLong && !badNumber) {
        buffer += '%';
        if (writeRecord(hex(buffer.size(), 2))) {
            out.writeLine(padded("12"));
            out.writeLine(padded("20"));
            out.writeLine(Marker);
        }
    }
    const bool written = out.close() && !lines.failed();
    if (tooLong || badNumber || !programLine || !written) {
        QFile::remove(output);
        if (tooLong)
            return IsoResult::TooLong;
        if (badNumber)
            return IsoResult::BadNumber;
        return programLine ? IsoResult::WriteFailed : IsoResult::NoProgramLine;
    }
    return IsoResult::Done;
}

} // namespace nodalis::mazatrol
