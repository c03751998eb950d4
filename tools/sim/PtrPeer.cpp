#include "sim/PtrPeer.h"

#include "sim/MachineSimulator.h"

#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <utility>

namespace nodalis::sim {

namespace {

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr char kAck = 0x06;
constexpr char kNak = 0x15;
constexpr char kEtb = 0x17;

// An ACK with more behind it: anything but an ACK alone refuses the frame.
const QByteArray kGarbage("\x06XZ", 3);

constexpr int kReopenMs = 1000;           // the server listens again this long after its last byte
constexpr int kAckWaitMs = 3000;          // for ACK to a request
constexpr int kRequestTries = 3;          // requests sent before giving up
constexpr int kFirstFrameWaitMs = 5000;   // the first frame comes about 1 s after the ACK...
constexpr int kFirstFrameMinMs = 500;     // ... not at once: the box gets ready meanwhile
constexpr int kFrameWaitMs = 3000;        // for the next frame after our ACK
constexpr int kFrameQuietMs = 1000;       // a frame still incomplete after this is broken
constexpr int kFrameSettleMs = 50;        // for the ETX behind the BCC of the last frame
constexpr int kCloseWaitMs = 2000;        // for the lone ETX after our answer...
constexpr int kCloseMinMs = 90;           // ... which the server writes 100 ms after it
constexpr int kSilentCloseWaitMs = 10000; // ... or after its send time-out when we say nothing
constexpr int kSilentCloseMinMs = 800;    // ... a time-out of 1 s at least
constexpr int kAfterCloseMs = 300;        // watching the line after the lone ETX
constexpr int kMissingWaitMs = 2000;
constexpr int kRawWaitMs = 1500;

QString hexByte(char c)
{
    return QStringLiteral("%1").arg(static_cast<unsigned char>(c), 2, 16, QLatin1Char('0'));
}

QString quoted(const QByteArray& line)
{
    return QLatin1Char('"') + Printable(line) + QLatin1Char('"');
}

// Where the lines received part from the file's, in a few words.
QString linesDiffer(const QList<QByteArray>& expected, const QList<QByteArray>& got)
{
    qsizetype at = 0;
    while (at < expected.size() && at < got.size() && expected[at] == got[at])
        ++at;
    if (at < expected.size() && at < got.size())
        return QStringLiteral("line %1 is %2, the file has %3")
            .arg(at + 1)
            .arg(quoted(got[at]), quoted(expected[at]));
    if (at < expected.size())
        return QStringLiteral("%1 lines, the file has %2: line %3 %4 missing")
            .arg(got.size())
            .arg(expected.size())
            .arg(at + 1)
            .arg(quoted(expected[at]));
    return QStringLiteral("%1 lines, the file has %2: line %3 %4 is extra")
        .arg(got.size())
        .arg(expected.size())
        .arg(at + 1)
        .arg(quoted(got[at]));
}

} // namespace

PtrPeer::PtrPeer(MachineSimulator& sim, QObject* parent)
    : ScriptedPeer(sim, &PtrPeer::describe, parent)
{
}

char PtrPeer::checksum(const QByteArray& line)
{
    auto x = static_cast<unsigned char>(kStx);
    for (char c : line)
        x ^= static_cast<unsigned char>(c);
    return char(x ^ kEtb);
}

QByteArray PtrPeer::frame(const QByteArray& line, bool last)
{
    QByteArray out;
    out.reserve(line.size() + 4);
    out += kStx;
    out += line;
    out += kEtb;
    out += checksum(line);
    if (last)
        out += kEtx;
    return out;
}

QByteArray PtrPeer::request(const QByteArray& number)
{
    return '%' + number + "E\r\n";
}

QList<QByteArray> PtrPeer::programLines(const QByteArray& content)
{
    QList<QByteArray> lines;
    QByteArray line;
    for (qsizetype i = 0; i < content.size(); ++i) {
        const char c = content[i];
        if (c != '\r' && c != '\n') {
            line += c;
            continue;
        }
        if (c == '\r' && i + 1 < content.size() && content[i + 1] == '\n')
            ++i;
        lines.append(std::exchange(line, QByteArray()));
    }
    lines.append(line);
    return lines;
}

QString PtrPeer::describe(const QByteArray& bytes)
{
    const auto nameOf = [](const QByteArray& all, qsizetype& i) -> QString {
        switch (all[i]) {
        case kStx:
            return QStringLiteral("STX");
        case kEtx:
            return QStringLiteral("ETX");
        case kAck:
            return QStringLiteral("ACK");
        case kNak:
            return QStringLiteral("NAK");
        case kEtb:
            if (i + 1 < all.size())
                return QStringLiteral("ETB BCC ") + hexByte(all[++i]);
            return QStringLiteral("ETB");
        default:
            return {};
        }
    };
    return DescribeBytes(bytes, nameOf, quoted);
}

QString PtrPeer::answerName(Fault fault)
{
    switch (fault) {
    case Fault::Nak:
        return QStringLiteral("NAK");
    case Fault::Garbage:
        return QStringLiteral("garbage");
    case Fault::Silent:
    case Fault::None:
        break;
    }
    return QStringLiteral("no answer");
}

QString PtrPeer::parseStep(const QString& source, Step& step)
{
    step = Step{};
    step.source = source;
    const QStringList words = source.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString verb = words.value(0);
    const QStringList args = words.mid(1);

    auto number = [&](Op op, int least) {
        bool ok = false;
        step.op = op;
        step.count = args.size() == 1 ? args[0].toInt(&ok) : -1;
        if (ok && step.count >= least)
            return QString();
        return least > 0 ? QStringLiteral("%1 takes a number from %2").arg(verb).arg(least)
                         : QStringLiteral("%1 takes a number").arg(verb);
    };
    auto fault = [&](Fault kind) {
        step.fault = kind;
        return number(Op::Fault, 1);
    };

    if (verb == QLatin1String("wait"))
        return number(Op::Wait, 0);
    if (verb == QLatin1String("noise"))
        return number(Op::Noise, 1);
    if (verb == QLatin1String("nak-at"))
        return fault(Fault::Nak);
    if (verb == QLatin1String("garbage-at"))
        return fault(Fault::Garbage);
    if (verb == QLatin1String("silent-at"))
        return fault(Fault::Silent);
    if (verb == QLatin1String("raw")) {
        step.op = Op::Raw;
        step.text = DecodeEscapes(textAfter(source, verb));
        return step.text.isEmpty() ? QStringLiteral("raw takes a text") : QString();
    }
    if (verb == QLatin1String("request")) {
        step.op = Op::Request;
        const QString name = args.value(0);
        const bool digits = !name.isEmpty() && std::all_of(name.cbegin(), name.cend(), [](QChar c) {
            return c >= QLatin1Char('0') && c <= QLatin1Char('9');
        });
        if (args.isEmpty() || args.size() > 2 || !digits)
            return QStringLiteral("request takes NUMBER [FILE | missing]");
        step.number = name.toLatin1();
        if (args.value(1) == QLatin1String("missing")) {
            step.op = Op::Missing;
            return {};
        }
        step.file = args.value(1);
        if (!step.file.isEmpty() && !QFileInfo(step.file).isFile())
            return QStringLiteral("cannot read %1").arg(step.file);
        return {};
    }
    return QStringLiteral("unknown step \"%1\" for a PTR box").arg(verb);
}

QString PtrPeer::checkSteps(const QStringList& sources)
{
    QList<Step> steps;
    if (QString error = parseSteps(sources, steps, &PtrPeer::parseStep); !error.isEmpty())
        return error;
    // A fault acts on the next request: one that gets a program must come
    // before any other fault or request.
    for (qsizetype i = 0; i < steps.size(); ++i) {
        if (steps[i].op != Op::Fault)
            continue;
        qsizetype next = i + 1;
        while (next < steps.size() && steps[next].op != Op::Request &&
               steps[next].op != Op::Missing && steps[next].op != Op::Fault)
            ++next;
        if (next >= steps.size() || steps[next].op != Op::Request)
            return QStringLiteral("step %1 (%2): must come before a request for a program")
                .arg(i + 1)
                .arg(steps[i].source);
    }
    return {};
}

QString PtrPeer::prepare(const QStringList& steps)
{
    if (QString error = checkSteps(steps); !error.isEmpty())
        return error;
    parseSteps(steps, m_steps, &PtrPeer::parseStep);
    m_pendingFault = Fault::None;
    return {};
}

// ---- steps

void PtrPeer::runStep(qsizetype index)
{
    const Step step = m_steps[index];
    switch (step.op) {
    case Op::Wait:
        pause(step.count);
        break;
    case Op::Fault:
        m_pendingFault = step.fault;
        m_pendingFaultAt = step.count;
        stepPassed(QStringLiteral("%1: %2 to frame %3 of the next request")
                       .arg(step.source, answerName(step.fault))
                       .arg(step.count));
        break;
    case Op::Noise: {
        QByteArray noise(step.count, '\0');
        auto* random = QRandomGenerator::global();
        for (char& c : noise) {
            // Control characters half of the time, but never the start of a request.
            do
                c = char(random->bounded(2) ? random->bounded(32) : random->bounded(256));
            while (c == '%');
        }
        writeNoise(noise, QStringLiteral("no answer"), kReopenMs);
        break;
    }
    case Op::Raw:
        writeLater(
            step.text,
            [this, step] {
                m_rawAnswer.clear();
                enter(Phase::Raw, kRawWaitMs, [this, step] {
                    stepPassed(step.source + QStringLiteral(": ") +
                               (m_rawAnswer.isEmpty() ? QStringLiteral("no answer")
                                                      : describe(m_rawAnswer)));
                });
            },
            QStringLiteral("before the raw text"), kGapMs, kReopenMs);
        break;
    case Op::Missing:
        writeLater(
            request(step.number),
            [this, step] {
                m_context = QStringLiteral("to the request for %1, a program the server lacks")
                                .arg(QString::fromLatin1(step.number));
                enter(Phase::Pausing, kMissingWaitMs,
                      [this, step] { stepPassed(step.source + QStringLiteral(": no answer")); });
            },
            QStringLiteral("before the request"), kGapMs, kReopenMs);
        break;
    case Op::Request:
        runRequest(step);
        break;
    }
}

void PtrPeer::runRequest(const Step& step)
{
    m_stepName = step.source;
    m_number = step.number;
    // The program the server must send: the file named, or the one named
    // as the number here, or any.
    QString path = step.file;
    if (path.isEmpty() && QFileInfo(QString::fromLatin1(step.number)).isFile())
        path = QString::fromLatin1(step.number);
    m_expected.reset();
    m_expectedFrom = path;
    if (!path.isEmpty()) {
        QByteArray content;
        if (!readFile(path, content))
            return;
        m_expected = programLines(content);
    }
    m_fault = std::exchange(m_pendingFault, Fault::None);
    m_faultAt = m_pendingFaultAt;
    m_lines.clear();
    m_frames = 0;
    m_refusedAt = 0;
    m_refusal.clear();
    m_tries = 0;
    sendRequest();
}

void PtrPeer::sendRequest()
{
    writeLater(
        request(m_number),
        [this] {
            ++m_tries;
            calling();
            m_context = QStringLiteral("to the request");
            enter(Phase::RequestAck, kAckWaitMs, [this] { requestTimedOut(); });
        },
        QStringLiteral("before the request"), kGapMs, kReopenMs);
}

void PtrPeer::requestTimedOut()
{
    // Nothing came back: the server may be reopening its port, or (first
    // contact) not started yet. A request answered in any way is never sent
    // again, as it would start a second transfer.
    if (m_tries < kRequestTries || serverAwaited()) {
        sendRequest();
        return;
    }
    fail(QStringLiteral("no ACK to the request, %1 tries in %2 s")
             .arg(m_tries)
             .arg(callingSeconds(m_tries, kAckWaitMs)));
}

void PtrPeer::awaitFrame()
{
    const int number = m_frames + 1;
    m_context = QStringLiteral("while waiting for frame %1").arg(number);
    const int waitMs = m_frames == 0 ? kFirstFrameWaitMs : kFrameWaitMs;
    enter(Phase::Frame, waitMs, [this, number, waitMs] {
        if (m_in.isEmpty()) {
            fail(QStringLiteral("no frame %1 within %2 s").arg(number).arg(waitMs / 1000));
            return;
        }
        m_log.append(QStringLiteral("< ") + describe(m_in));
        fail(QStringLiteral("frame %1 incomplete: %2").arg(number).arg(describe(m_in)));
    });
}

void PtrPeer::frameData()
{
    const int number = m_frames + 1;
    if (m_in.front() != kStx) {
        m_log.append(QStringLiteral("< ") + describe(m_in));
        if (m_in == QByteArray(1, kEtx) && m_frames > 0)
            fail(QStringLiteral("a lone ETX where frame %1 was due, frame %2 having no ETX as "
                                "the last one")
                     .arg(number)
                     .arg(m_frames));
        else
            fail(QStringLiteral("expected frame %1, got %2").arg(number).arg(describe(m_in)));
        return;
    }
    const qsizetype etb = m_in.indexOf(kEtb, 1);
    if (etb < 0 || m_in.size() < etb + 2) {
        // Not complete yet; it must be soon.
        rearm(kFrameQuietMs);
        return;
    }
    const QByteArray behind = m_in.mid(etb + 2);
    if (behind.isEmpty()) {
        // The last frame has its ETX behind the BCC, in the same write; a
        // quick box looks only briefly.
        enter(Phase::Frame, std::min(kFrameSettleMs, std::max(replyGap(), 5)),
              [this] { frameArrived(); });
        return;
    }
    if (behind == QByteArray(1, kEtx)) {
        frameArrived();
        return;
    }
    m_log.append(QStringLiteral("< ") + describe(m_in));
    fail(QStringLiteral("frame %1 has %2 behind its BCC").arg(number).arg(describe(behind)));
}

void PtrPeer::frameArrived()
{
    const QByteArray raw = std::exchange(m_in, QByteArray());
    const int number = ++m_frames;
    const qsizetype etb = raw.indexOf(kEtb, 1);
    const QByteArray line = raw.mid(1, etb - 1);
    const char bcc = raw[etb + 1];
    const bool last = raw.size() > etb + 2;
    m_log.append(QStringLiteral("< ") + describe(raw));

    if (number == 1 && m_inSince - m_ackAt < kFirstFrameMinMs)
        deviation(QStringLiteral("frame 1 came %1 ms after the ACK, the box wants about 1 s")
                      .arg(m_inSince - m_ackAt));
    if (line.contains('\r') || line.contains('\n'))
        deviation(QStringLiteral("frame %1 holds a line end: %2").arg(number).arg(quoted(line)));
    if (bcc != checksum(line)) {
        deviation(QStringLiteral("frame %1 has the BCC %2, should be %3: %4")
                      .arg(number)
                      .arg(hexByte(bcc), hexByte(checksum(line)), describe(raw)));
        refuse(number, QByteArray(1, kNak), QStringLiteral("NAK for a bad BCC"));
        return;
    }
    if (m_fault != Fault::None && m_faultAt == number) {
        switch (m_fault) {
        case Fault::Nak:
            refuse(number, QByteArray(1, kNak), QStringLiteral("NAK"));
            return;
        case Fault::Garbage:
            refuse(number, kGarbage, QStringLiteral("garbage"));
            return;
        case Fault::Silent:
        case Fault::None:
            refuse(number, {}, QStringLiteral("no answer"));
            return;
        }
    }
    m_lines.append(line);
    if (last)
        writeLater(
            QByteArray(1, kAck),
            [this, number] {
                awaitClose(m_lastOut, kCloseWaitMs, kCloseMinMs,
                           QStringLiteral("the ACK to frame %1, the last").arg(number));
            },
            QStringLiteral("after the last frame"), kGapMs, replyGap());
    else
        writeLater(
            QByteArray(1, kAck), [this] { awaitFrame(); },
            QStringLiteral("after frame %1").arg(number), kGapMs, replyGap());
}

// Answers the frame with anything but ACK alone (or with nothing): the
// server must send no further line, only the lone ETX.
void PtrPeer::refuse(int number, const QByteArray& answer, const QString& how)
{
    m_refusedAt = number;
    m_refusal = how;
    const QString after = QStringLiteral("frame %1 and our %2").arg(number).arg(how);
    if (answer.isEmpty()) {
        awaitClose(m_lastIn, kSilentCloseWaitMs, kSilentCloseMinMs,
                   QStringLiteral("frame %1, left unanswered").arg(number));
        return;
    }
    writeLater(
        answer, [this, after] { awaitClose(m_lastOut, kCloseWaitMs, kCloseMinMs, after); },
        QStringLiteral("after frame %1").arg(number), kGapMs, replyGap());
}

// The lone ETX is timed from our answer, or from the frame left unanswered.
void PtrPeer::awaitClose(qint64 from, int waitMs, int minMs, const QString& after)
{
    m_closeFrom = from;
    m_closeMinMs = minMs;
    m_closeAfter = after;
    m_context = QStringLiteral("after %1").arg(after);
    enter(Phase::Closing, waitMs, [this, waitMs] {
        fail(QStringLiteral("no lone ETX within %1 s after %2")
                 .arg(waitMs / 1000)
                 .arg(m_closeAfter));
    });
}

void PtrPeer::closingData()
{
    if (m_in == QByteArray(1, kEtx)) {
        const qint64 after = m_lastIn - m_closeFrom;
        m_log.append(QStringLiteral("< ETX, alone, %1 ms after %2").arg(after).arg(m_closeAfter));
        m_in.clear();
        if (after < m_closeMinMs)
            deviation(QStringLiteral("the lone ETX came %1 ms after %2, expected %3 ms or more")
                          .arg(after)
                          .arg(m_closeAfter)
                          .arg(m_closeMinMs));
        m_context = QStringLiteral("after the lone ETX");
        enter(Phase::AfterClose, kAfterCloseMs, [this] { endRequest(); });
        return;
    }
    m_log.append(QStringLiteral("< ") + describe(m_in));
    if (m_in.front() == kStx)
        fail(QStringLiteral("a frame after %1, where only the lone ETX may come: %2")
                 .arg(m_closeAfter, describe(m_in)));
    else
        fail(QStringLiteral("expected the lone ETX after %1, got %2")
                 .arg(m_closeAfter, describe(m_in)));
}

void PtrPeer::endRequest()
{
    QString line = m_stepName + QStringLiteral(": ");
    if (m_refusedAt > 0) {
        line += QStringLiteral("refused at frame %1 (%2) after %3 line(s), closing ETX")
                    .arg(m_refusedAt)
                    .arg(m_refusal)
                    .arg(m_lines.size());
    } else {
        line += QStringLiteral("%1 lines").arg(m_lines.size());
        if (m_fault != Fault::None)
            deviation(QStringLiteral(
                          "the program ended at frame %1, before frame %2, which was to get %3")
                          .arg(m_frames)
                          .arg(m_faultAt)
                          .arg(answerName(m_fault)));
        if (!m_expected)
            line += QStringLiteral(" (no file %1 here: not compared)")
                        .arg(QString::fromLatin1(m_number));
        else if (*m_expected != m_lines) {
            deviation(QStringLiteral("the program differs from %1: %2")
                          .arg(m_expectedFrom, linesDiffer(*m_expected, m_lines)));
            line += QStringLiteral(" differing from %1").arg(m_expectedFrom);
        } else
            line += QStringLiteral(" as in %1").arg(m_expectedFrom);
        line += QStringLiteral(", closing ETX");
    }
    m_fault = Fault::None;
    stepPassed(line);
}

// ---- the line

void PtrPeer::dataArrived()
{
    switch (phase()) {
    case Phase::RequestAck:
        if (m_in != QByteArray(1, kAck)) {
            m_log.append(QStringLiteral("< ") + describe(m_in));
            fail(QStringLiteral("expected ACK alone to the request, got %1").arg(describe(m_in)));
            break;
        }
        m_log.append(QStringLiteral("< ACK"));
        m_in.clear();
        contacted();
        m_ackAt = m_lastIn;
        awaitFrame();
        break;
    case Phase::Frame:
        frameData();
        break;
    case Phase::Closing:
        closingData();
        break;
    case Phase::Raw:
        // Any answer goes; the window stays open while it comes.
        m_log.append(QStringLiteral("< ") + describe(m_in));
        m_rawAnswer += std::exchange(m_in, QByteArray());
        rearm(kRawWaitMs);
        break;
    case Phase::Done:
    case Phase::Idle:
    case Phase::Pausing:
    case Phase::Gap:
    case Phase::AfterClose:
        m_log.append(QStringLiteral("< ") + describe(m_in));
        fail(QStringLiteral("unexpected %1 %2").arg(describe(m_in), m_context));
        break;
    }
}

} // namespace nodalis::sim
