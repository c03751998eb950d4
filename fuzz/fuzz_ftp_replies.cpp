// FTP control replies as a hostile server could send them, in arrivals cut
// anywhere: every code acted on is at most three bytes, and what is kept
// between arrivals is never more than the arrival's own unfinished line.

#include "FuzzSupport.h"

#include "protocols/FtpSocketClient.h"

using namespace nodalis;
using namespace nodalis::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const qsizetype step = 1 + in.byte() % 16;
    const QByteArray text = in.rest();
    FtpReplies replies;
    qsizetype codes = 0;
    for (qsizetype at = 0; at < text.size(); at += step) {
        for (const QByteArray& code : replies.take(text.mid(at, step))) {
            FUZZ_CHECK(code.size() <= 3, Escaped(text));
            ++codes;
        }
    }
    // At most one code per piece or per line.
    FUZZ_CHECK(codes <= text.size() / step + text.count('\n') + 1, Escaped(text));
    return 0;
}
