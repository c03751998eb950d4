// The control link's framing and command table, without a socket: arbitrary
// client bytes, cut into arrivals anywhere, give exactly the lines a model
// of the framing gives (a line counts once its CR LF has come, a line longer
// than the limit is dropped whole); each line's command then runs through
// the command table: every PING is answered once, to its client, and a
// program code set by C is never out of range; a window placed by POS_SIZE
// is never above or left of its minimum.

#include "FuzzSupport.h"

#include "dnc/ControlProtocol.h"
#include "dnc/InfoNotifier.h"
#include "dnc/ProcessState.h"
#include "server/ControlCommands.h"
#include "server/ServerHost.h"
#include "startup/Settings.h"

#include <QList>

using namespace nodalis;
using namespace nodalis::fuzz;

namespace {

constexpr qsizetype kLimit = 64;

// Records the notifications instead of sending them.
class RecordingNotifier : public InfoNotifier
{
public:
    int send(const QByteArray& message, int k) override
    {
        sent.append({k, message});
        return 1;
    }
    quint16 port() const override { return 4100; }

    QList<QPair<int, QByteArray>> sent;
};

// The lines of a whole stream, as the framing must cut it.
QList<QByteArray> modelLines(const QByteArray& stream)
{
    QList<QByteArray> lines;
    qsizetype pos = 0;
    for (qsizetype end = stream.indexOf("\r\n"); end >= 0; end = stream.indexOf("\r\n", pos)) {
        const qsizetype length = end - pos;
        if (length > 0 && length <= kLimit)
            lines.append(stream.mid(pos, length));
        pos = end + 2;
    }
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static ServerHost* host = new ServerHost;
    static ControlCommands* commands = new ControlCommands(*host);
    static RecordingNotifier notifier;

    FuzzInput in(data, size);
    // Arrival sizes first, then the stream.
    QList<int> cuts;
    for (int i = 0; i < 8; ++i)
        cuts.append(1 + in.byte() % 32);
    const QByteArray stream = in.rest();

    LineAssembler assembler(kLimit);
    QList<QByteArray> lines;
    qsizetype pos = 0;
    for (int i = 0; pos < stream.size(); ++i) {
        const qsizetype n = cuts[i % cuts.size()];
        lines += assembler.add(stream.mid(pos, n));
        pos += n;
    }
    FUZZ_CHECK(lines == modelLines(stream), Escaped(stream));

    ResetServer();
    Config().DncAppMode = 0;
    SetNotifier(&notifier);
    for (const QByteArray& text : lines) {
        const ControlLine line = ParseLine(text);
        // The stop, the sends, listening and the reload act on the machine
        // line and the process: left out here.
        if (line.keyword == "E" || line.keyword == "T" || line.keyword == "M" ||
            line.keyword == "S" || line.keyword == "REINIT")
            continue;
        notifier.sent.clear();
        commands->run(line.keyword, line.arguments, 7);
        const qsizetype answers =
            std::count_if(notifier.sent.cbegin(), notifier.sent.cend(),
                          [](const auto& m) { return m.second == "Info:OK|"; });
        FUZZ_CHECK(answers == (line.keyword == "PING" ? 1 : 0), Escaped(text));
        if (answers == 1)
            FUZZ_CHECK(notifier.sent.constFirst().first == 7, Escaped(text));
        FUZZ_CHECK(Channel().currentProgramCode >= 0, Escaped(text));
        if (line.keyword == "POS_SIZE") {
            if (const std::optional<QRect> r = PosSizeTwips(ArgumentList(line.arguments)))
                FUZZ_CHECK(r->left() >= 1000 && r->top() >= 1000, Escaped(text));
        }
    }
    SetNotifier(nullptr);
    return 0;
}
