// What a received frame is, and how a call text splits into programs, for
// arbitrary frame bytes under a few call settings chosen by the input:
// against a model of the frame rules, every called name taken from the
// frame's own text, the call list cut exactly at its separators.

#include "FuzzSupport.h"

#include "dnc/CallResolution.h"
#include "dnc/PortEngine.h"
#include "dnc/ProgramSender.h"
#include "platform/OperatorPrompt.h"
#include "platform/SerialControl.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"

#include <QList>

#include <string_view>

using namespace nodalis;
using namespace nodalis::fuzz;

namespace {

// Frames beyond this say nothing more: past 400 bytes a frame is a program
// unless call texts are merged, which only makes longer call frames.
constexpr size_t kMaxFrame = 1024;

std::string_view view(const QByteArray& b)
{
    return {b.constData(), size_t(b.size())};
}

QByteArray withoutBlanks(const QByteArray& text)
{
    QByteArray out;
    for (const char c : text) {
        if (c != ' ' && c != '\t')
            out += c;
    }
    return out;
}

QByteArray asciiUpper(QByteArray text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    }
    return text;
}

bool isWhite(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

QByteArray trimWhite(const QByteArray& text)
{
    qsizetype a = 0;
    qsizetype b = text.size();
    while (a < b && isWhite(text[a]))
        ++a;
    while (b > a && isWhite(text[b - 1]))
        --b;
    return text.mid(a, b - a);
}

QByteArray trimSpaces(const QByteArray& text)
{
    qsizetype a = 0;
    qsizetype b = text.size();
    while (a < b && text[a] == ' ')
        ++a;
    while (b > a && text[b - 1] == ' ')
        --b;
    return text.mid(a, b - a);
}

// Cut at every occurrence of the separator, left to right.
QList<QByteArray> splitOn(const QByteArray& text, const QByteArray& separator)
{
    QList<QByteArray> pieces;
    size_t from = 0;
    for (size_t at; (at = view(text).find(view(separator), from)) != std::string_view::npos;) {
        pieces.append(text.mid(qsizetype(from), qsizetype(at - from)));
        from = at + size_t(separator.size());
    }
    pieces.append(text.mid(qsizetype(from)));
    return pieces;
}

// A line ends at CR LF, LF or CR alone.
QList<QByteArray> linesOf(const QByteArray& text)
{
    QList<QByteArray> lines;
    QByteArray line;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') {
            line += c;
            continue;
        }
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        lines.append(line);
        line.clear();
    }
    if (!line.isEmpty())
        lines.append(line);
    return lines;
}

// The call syntaxes are chosen so that the text after the name marker never
// begins inside the text before it: the name then runs from the end of the
// first (case-free) occurrence of the prefix to the next suffix.
struct FrameModel
{
    FrameKind kind = FrameKind::Nothing;
    QByteArray callText;
    bool multiLine = false;
    QList<QByteArray> names; // one per call line
};

FrameModel frameModel(const QByteArray& frame)
{
    const Settings& s = Config();
    FrameModel m;
    const bool network = s.Port.Methode == 6 || s.Port.Methode == 14;
    if (frame.size() < (network ? 0 : 5))
        return m;
    m.kind = FrameKind::Program;
    const QByteArray syntax = withoutBlanks(s.CallSyntax);
    if ((s.Port.ConcatProgAppel || frame.size() <= 400) && !syntax.isEmpty()) {
        const qsizetype marker = syntax.indexOf("$$$$");
        const QByteArray prefix = asciiUpper(marker < 0 ? syntax : syntax.left(marker));
        const QByteArray suffix = marker < 0 ? QByteArray() : syntax.mid(marker + 4);
        QList<QByteArray>& names = m.names;
        for (const QByteArray& line : linesOf(frame)) {
            const QByteArray bare = withoutBlanks(line);
            const size_t at = view(asciiUpper(bare)).find(view(prefix));
            if (at == std::string_view::npos)
                continue;
            const size_t from = at + size_t(prefix.size());
            size_t end = size_t(bare.size());
            if (!suffix.isEmpty() &&
                (end = view(bare).find(view(suffix), from)) == std::string_view::npos)
                continue;
            names.append(trimWhite(bare.mid(qsizetype(from), qsizetype(end - from))));
        }
        if (!names.isEmpty()) {
            m.kind = FrameKind::Call;
            m.callText = names.join(s.Port.SepCarMultiAppel);
            m.multiLine = names.size() > 1;
        }
    }
    // Past the largest call frame a text is a program, whatever it says.
    if (!s.Port.ConcatProgAppel && frame.size() > 400)
        return m;
    for (const QByteArray& line : linesOf(frame)) {
        if (withoutBlanks(line).contains("SUIVI"))
            m.kind = FrameKind::Tracking;
    }
    return m;
}

QByteArray describe(const QByteArray& frame, const QByteArray& callText)
{
    const Settings& s = Config();
    return "syntax " + Escaped(s.CallSyntax) + " methode " + QByteArray::number(s.Port.Methode) +
           " concat " + QByteArray::number(s.Port.ConcatProgAppel) + " multi " +
           QByteArray::number(s.Port.IsMultiAppel) + " sep " + Escaped(s.Port.SepCarMultiAppel) +
           " range sep " + Escaped(s.Port.CarSepAppel) + "\nframe " + Escaped(frame) +
           "\ncall text " + Escaped(callText);
}

// The list holds one program per separated piece (one in all without
// multiple calls), each cut into name, start and end at the range separator.
void checkSplit(CallResolution& calls, const QByteArray& callText, const QByteArray& frame)
{
    const auto detail = [&] { return describe(frame, callText); };
    const PortSettings& r = Config().Port;
    const bool several = calls.SplitCallList(callText);
    const QList<CalledProgram>& got = calls.Calls();
    QList<QByteArray> pieces{callText};
    if (r.IsMultiAppel && !r.SepCarMultiAppel.isEmpty()) {
        pieces = splitOn(callText, r.SepCarMultiAppel);
        for (QByteArray& p : pieces)
            p = trimSpaces(p);
    }
    FUZZ_CHECK(got.size() == pieces.size(), detail());
    FUZZ_CHECK(several == (pieces.size() > 1), detail());
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        const QList<QByteArray> parts = r.CarSepAppel.isEmpty() ? QList<QByteArray>{pieces[i]}
                                                                : splitOn(pieces[i], r.CarSepAppel);
        const CalledProgram& c = got[i];
        FUZZ_CHECK(c.Name == parts[0] && c.StartText == parts.value(1) &&
                       c.EndText == parts.value(2) && c.HasRange == (parts.size() > 1),
                   detail() + "\npiece " + Escaped(pieces[i]) + "\nname " + Escaped(c.Name) +
                       " start " + Escaped(c.StartText) + " end " + Escaped(c.EndText));
    }
}

CallResolution& resolution()
{
    // Tracking records go under a file, where no folder can be made: each
    // item recorded rewrites a file, which would take most of the run, and
    // only whether a frame is a tracking message matters here.
    static const bool noTracking = [] {
        SetHeadless(false); // no line for each record refused
        const QString blocker = ScratchFolder() + QStringLiteral("/no-tracking");
        WriteBytes(blocker, {});
        Paths().trackingFolder = blocker + QStringLiteral("/Suivi/");
        return true;
    }();
    (void)noTracking;
    // Never opened: the frame and the call list need no line.
    static SerialControl* com = new SerialControl;
    static PortEngine* engine = new PortEngine(*com);
    static ProgramSender* sender = new ProgramSender(*engine);
    static CallResolution* calls = new CallResolution(*engine, *sender);
    return *calls;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CallResolution& calls = resolution();
    FuzzInput in(data, std::min(size, kMaxFrame));
    const quint8 flags = in.byte();
    const quint8 separators = in.byte();
    const QByteArray listText = in.piece(24);
    const QByteArray frame = in.rest();

    static const QByteArray syntaxes[] = {"(APPEL$$$$)", "( appel $$$$ )", "M98P$$$$;", "CALL$$$$",
                                          "APPEL",       "$$$$)",          "",          "  "};
    static const QByteArray listSeparators[] = {",", "", "+", "//", " "};
    static const QByteArray rangeSeparators[] = {"#", "", "::", ","};
    Settings& s = Config();
    s.CallSyntax = syntaxes[flags & 7];
    s.Port.ConcatProgAppel = flags & 8;
    s.Port.IsMultiAppel = flags & 16;
    s.Port.Methode = (flags & 32) ? 6 : 0;
    s.Port.SepCarMultiAppel = listSeparators[separators % 5];
    s.Port.CarSepAppel = rangeSeparators[(separators / 5) % 4];

    const QString file = ScratchFolder() + QStringLiteral("/frame.txt");
    FUZZ_CHECK(WriteBytes(file, frame), QByteArray("cannot write the scratch file"));
    QByteArray callText;
    bool multiLine = false;
    const FrameKind kind = calls.ExamineFrame(file, callText, multiLine);
    const auto detail = [&] { return describe(frame, callText); };
    const FrameModel model = frameModel(frame);

    if (frame.size() < 5 && s.Port.Methode == 0)
        FUZZ_CHECK(kind == FrameKind::Nothing, detail());
    FUZZ_CHECK(kind == model.kind, detail() + "\nkind " + QByteArray::number(int(kind)));
    FUZZ_CHECK(callText == model.callText && multiLine == model.multiLine,
               detail() + "\nexpected " + Escaped(model.callText));

    if (kind == FrameKind::Call) {
        checkSplit(calls, callText, frame);
    }
    // Several call lines make one list only where lists are split: otherwise
    // the names are glued into one that is nowhere in the frame. A name that
    // holds bytes of a separator of several characters can move the cut
    // ("O1/" "//" "O2" splits as "O1", "/O2"): such frames are left out.
    const QByteArray& sep = s.Port.SepCarMultiAppel;
    bool listed = s.Port.IsMultiAppel && !sep.isEmpty();
    for (const QByteArray& name : model.names) {
        for (const char c : sep)
            listed = listed && (sep.size() == 1 || !name.contains(c));
    }
    if (kind == FrameKind::Call && (!multiLine || listed)) {
        const QByteArray bare = withoutBlanks(frame);
        for (const CalledProgram& c : calls.Calls()) {
            FUZZ_CHECK(bare.contains(c.Name) && bare.contains(c.StartText) &&
                           bare.contains(c.EndText),
                       detail() + "\nname " + Escaped(c.Name));
        }
    }
    checkSplit(calls, listText, frame);
    return 0;
}
