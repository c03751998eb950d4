// What a Mazak control or an uploaded file can hand the Mazatrol link: the
// machine's messages answered by every model's table, record headers, and
// both conversions. A record taken from a frame is always a piece of its
// message, a checksum two hexadecimal digits, and a converted program is
// made of 128-character records between its markers.

#include "FuzzSupport.h"

#include "protocols/TK_MAZATROL.h"
#include "startup/AppPaths.h"

using namespace nodalis;
using namespace nodalis::fuzz;
using namespace nodalis::mazatrol;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ResetServer();
    FuzzInput in(data, size);
    const int model = 701 + in.byte() % 14;
    const QByteArray text = in.rest();

    // Messages cut at every EOT, as the burst reader ends them.
    Transfer t = Transfer::ForReceiving(model);
    for (const QByteArray& burst : text.split(EOT)) {
        const Received r = ReceiveReply(t, burst + EOT);
        FUZZ_CHECK(r.record.isEmpty() || (burst + EOT).contains(r.record), Escaped(burst));
        FUZZ_CHECK(r.reply.size() <= 8, Escaped(burst));
        const QByteArray sum = BlockChecksum(r.record);
        FUZZ_CHECK(sum.size() == 2, Escaped(r.record));
        RecordHeader header;
        ParseRecordHeader(burst, model, header);
        FUZZ_CHECK(header.number >= 0 && header.name.size() <= 16, Escaped(burst));
    }

    const QString input = ScratchFolder() + QStringLiteral("/in.txt");
    const QString output = ScratchFolder() + QStringLiteral("/out.txt");
    WriteBytes(input, text);
    IdentifyProgram(input);
    ReadRecordHeaders(input, model);
    MazatrolToIso(input, output, model);

    // Sent programs: every line a marker or a whole record.
    if (IsoToMazatrol(input, output) == IsoResult::Done) {
        const QList<QByteArray> lines = ReadBytes(output).split('\r');
        for (QByteArray line : lines) {
            if (line.startsWith('\n'))
                line.remove(0, 1);
            FUZZ_CHECK(line.isEmpty() || line == Marker || line.size() == 128, Escaped(line));
        }
        RecordReader records;
        FUZZ_CHECK(records.open(output), QByteArray());
        Transfer send = Transfer::ForSending(model);
        for (int i = 0; i < 600 && !send.finished; ++i)
            NextDataFrame(send, records);
    }
    return 0;
}
