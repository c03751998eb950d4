#include "sim/Lsv2Peer.h"

#include "sim/MachineSimulator.h"

#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <utility>

namespace nodalis::sim {

namespace {

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr char kEot = 0x04;
constexpr char kEnq = 0x05;
constexpr char kDle = 0x10;
constexpr char kNak = 0x15;

const QByteArray kDle0("\x10\x30", 2); // DLE "0"
const QByteArray kDle1("\x10\x31", 2); // DLE "1"
const QByteArray kDleStx("\x10\x02", 2);
const QByteArray kDleEtx("\x10\x03", 2);
const QByteArray kEotEnq("\x04\x05", 2);
const QByteArray kCrLf("\r\n");

constexpr int kEnqWaitMs = 3000;      // for DLE 0 after our ENQ
constexpr int kEnqTries = 3;          // ENQs per exchange
constexpr int kAckWaitMs = 3000;      // for DLE 1 after our telegram
constexpr int kAnswerWaitMs = 10000;  // for the server's ENQ when an answer is due
constexpr int kNoAnswerMs = 1500;     // watching the line when none is due
constexpr int kTelegramWaitMs = 3000; // for the server's telegram after our DLE 0
constexpr int kTelegramQuietMs = 500; // a telegram still incomplete after this is broken
constexpr int kEotWaitMs = 3000;      // for EOT after our DLE 1
constexpr int kSilentQuietMs = 3000;  // not answering: the server has given up after this
constexpr int kSilentMaxMs = 30000;   // ... and must have given up after this
constexpr int kSplitPauseMs = 300;    // between the two halves of a split telegram
constexpr int kSplitRepeatMs = 3000;  // before writing it whole again
constexpr int kAfterUploadMs = 1000;  // the server reopens its port after storing
constexpr int kMaxRefusals = 3;       // NAKs in a row before giving up
constexpr qsizetype kBlockLimit = 100;

// Bare LF becomes CR LF, as the controls write their programs.
QByteArray withCrLf(const QByteArray& in)
{
    QByteArray out;
    out.reserve(in.size() + in.size() / 16);
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == '\n' && (i == 0 || in[i - 1] != '\r'))
            out += '\r';
        out += in[i];
    }
    return out;
}

// Whole lines, each up to and with its CR LF, packed into blocks under the
// limit; a longer line goes alone.
QList<QByteArray> cutBlocks(const QByteArray& program)
{
    QList<QByteArray> blocks;
    QByteArray block;
    qsizetype from = 0;
    while (from < program.size()) {
        const qsizetype crlf = program.indexOf(kCrLf, from);
        const qsizetype end = crlf < 0 ? program.size() : crlf + 2;
        const QByteArray line = program.mid(from, end - from);
        from = end;
        if (!block.isEmpty() && block.size() + line.size() >= kBlockLimit) {
            blocks.append(block);
            block.clear();
        }
        block += line;
    }
    if (!block.isEmpty())
        blocks.append(block);
    return blocks;
}

// The program name as the control answers it: no folders, no extension.
QByteArray bareName(const QString& name)
{
    QString s = name.mid(
        std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\'))) + 1);
    if (const qsizetype dot = s.lastIndexOf(QLatin1Char('.')); dot >= 0)
        s.truncate(dot);
    return s.trimmed().toLatin1();
}

// What a TNC server answers to a command; none for commands it ignores. It
// reads the text without the NULs and spaces around it.
std::optional<QByteArray> tncAnswer(QByteArray text)
{
    auto padding = [](char c) { return c == '\0' || c == ' '; };
    while (!text.isEmpty() && padding(text.front()))
        text.remove(0, 1);
    while (!text.isEmpty() && padding(text.back()))
        text.chop(1);
    if (text == "A_LGINSPECT" || text == "A_LGFILE" || text == "A_LO")
        return QByteArray("T_OK");
    if (text == "R_VR")
        return QByteArray("S_VR");
    if (text == "R_PR")
        return QByteArray("S_PR");
    return std::nullopt;
}

QString difference(const QByteArray& expected, const QByteArray& got)
{
    qsizetype at = 0;
    while (at < expected.size() && at < got.size() && expected[at] == got[at])
        ++at;
    const qsizetype from = std::max<qsizetype>(0, at - 10);
    return QStringLiteral("at byte %1: expected \"%2\", got \"%3\"")
        .arg(at)
        .arg(Printable(expected.mid(from, at - from + 20)),
             Printable(got.mid(from, at - from + 20)));
}

} // namespace

Lsv2Peer::Lsv2Peer(MachineSimulator& sim, Kind kind, QObject* parent)
    : ScriptedPeer(sim, &Lsv2Peer::describe, parent), m_kind(kind)
{
}

char Lsv2Peer::checksum(const QByteArray& text)
{
    // DLEs inside the text do not count, but a leading one does.
    unsigned char x = 0;
    for (qsizetype i = 0; i < text.size(); ++i)
        if (i == 0 || text[i] != kDle)
            x ^= static_cast<unsigned char>(text[i]);
    return char(x ^ kEtx);
}

QByteArray Lsv2Peer::telegram(const QByteArray& text)
{
    QByteArray out;
    out.reserve(text.size() + 5);
    out += kDle;
    out += kStx;
    out += text;
    out += kDle;
    out += kEtx;
    out += checksum(text);
    return out;
}

QString Lsv2Peer::describe(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return QStringLiteral("nothing");
    QStringList parts;
    QByteArray plain;
    auto flush = [&] {
        if (!plain.isEmpty())
            parts.append(QLatin1Char('"') + Printable(plain) + QLatin1Char('"'));
        plain.clear();
    };
    for (qsizetype i = 0; i < bytes.size();) {
        const char c = bytes[i];
        const char next = i + 1 < bytes.size() ? bytes[i + 1] : '\0';
        if (c == kDle && next == kStx) {
            const qsizetype end = bytes.indexOf(kDleEtx, i + 2);
            if (end >= 0 && end + 2 < bytes.size()) {
                flush();
                const QByteArray text = bytes.mid(i + 2, end - i - 2);
                QString shown = Printable(text);
                const auto bcc = static_cast<unsigned char>(bytes[end + 2]);
                const auto right = static_cast<unsigned char>(checksum(text));
                if (bcc != right)
                    shown += QStringLiteral(" (BCC %1, should be %2)")
                                 .arg(bcc, 2, 16, QLatin1Char('0'))
                                 .arg(right, 2, 16, QLatin1Char('0'));
                parts.append(shown);
                i = end + 3;
                continue;
            }
        }
        if (c == kDle && (next == '0' || next == '1')) {
            flush();
            parts.append(QStringLiteral("DLE ") + QLatin1Char(next));
            i += 2;
            continue;
        }
        static const char* const names[] = {nullptr, nullptr, "STX", "ETX", "EOT", "ENQ"};
        QString name;
        if (c >= kStx && c <= kEnq)
            name = QLatin1String(names[int(c)]);
        else if (c == kDle)
            name = QStringLiteral("DLE");
        else if (c == kNak)
            name = QStringLiteral("NAK");
        if (name.isEmpty()) {
            plain += c;
        } else {
            flush();
            parts.append(name);
        }
        ++i;
    }
    flush();
    return parts.join(QLatin1Char(' '));
}

QString Lsv2Peer::parseStep(Kind kind, const QString& source, Step& step)
{
    step = Step{};
    step.source = source;
    const QStringList words = source.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString verb = words.value(0);
    const QStringList args = words.mid(1);
    const bool tnc = kind == Kind::Tnc;

    auto number = [&](Op op) {
        bool ok = false;
        step.op = op;
        step.number = args.size() == 1 ? args[0].toInt(&ok) : -1;
        return ok && step.number >= 0 ? QString() : QStringLiteral("%1 takes a number").arg(verb);
    };
    auto plain = [&](Op op) {
        step.op = op;
        return args.isEmpty() ? QString() : QStringLiteral("%1 takes no argument").arg(verb);
    };
    auto command = [&](const QByteArray& text) {
        step.op = Op::Command;
        step.text = text;
        if (tnc) {
            step.answer = tncAnswer(text);
            step.reply = step.answer ? Reply::Required : Reply::None;
        } else {
            step.reply = Reply::Optional;
        }
        return QString();
    };
    auto readable = [&](const QString& path) {
        return QFileInfo(path).isFile() ? QString() : QStringLiteral("cannot read %1").arg(path);
    };

    if (verb == QLatin1String("wait"))
        return number(Op::Wait);
    if (verb == QLatin1String("nak"))
        return number(Op::Nak);
    if (verb == QLatin1String("noise"))
        return number(Op::Noise);
    if (verb == QLatin1String("silent"))
        return plain(Op::Silent);
    if (verb == QLatin1String("split"))
        return plain(Op::Split);
    if (verb == QLatin1String("eot-enq"))
        return plain(Op::EotEnq);
    if (verb == QLatin1String("send")) {
        const QString text = textAfter(source, verb);
        if (text.isEmpty())
            return QStringLiteral("send takes a text");
        return command(DecodeEscapes(text));
    }
    if (tnc) {
        if (verb == QLatin1String("login")) {
            if (args.size() != 1)
                return QStringLiteral("login takes one word");
            return command("A_LG" + args[0].toLatin1() + '\0');
        }
        const char* text = verb == QLatin1String("version")  ? "R_VR"
                           : verb == QLatin1String("params") ? "R_PR"
                           : verb == QLatin1String("logout") ? "A_LO"
                                                             : nullptr;
        if (text) {
            if (QString error = plain(Op::Command); !error.isEmpty())
                return error;
            return command(text);
        }
    } else if (verb == QLatin1String("request")) {
        step.op = Op::Request;
        if (args.isEmpty() || args.size() > 2)
            return QStringLiteral("request takes NAME [FILE]");
        step.name = args[0];
        step.file = args.value(1);
        return step.file.isEmpty() ? QString() : readable(step.file);
    } else if (verb == QLatin1String("upload")) {
        step.op = Op::Upload;
        if (args.size() != 3 || args[1] != QLatin1String("as"))
            return QStringLiteral("upload takes FILE as NAME");
        step.file = args[0];
        step.name = args[2];
        return readable(step.file);
    }
    return QStringLiteral("unknown step \"%1\" for %2")
        .arg(verb, tnc ? QStringLiteral("a TNC") : QStringLiteral("an AGIE"));
}

QString Lsv2Peer::checkSteps(Kind kind, const QStringList& sources)
{
    QList<Step> steps;
    if (QString error = parseSteps(
            sources, steps,
            [kind](const QString& source, Step& step) { return parseStep(kind, source, step); });
        !error.isEmpty())
        return error;
    // eot-enq writes the ENQ of the following command with the EOT of the
    // next one: that one must not wait for an answer, and a command must
    // follow it, with nothing written in between.
    auto nextWriting = [&](qsizetype from) {
        while (from < steps.size() && (steps[from].op == Op::Nak || steps[from].op == Op::Silent ||
                                       steps[from].op == Op::Split))
            ++from;
        return from;
    };
    for (qsizetype i = 0; i < steps.size(); ++i) {
        if (steps[i].op != Op::EotEnq)
            continue;
        const qsizetype first = nextWriting(i + 1);
        const qsizetype second = first < steps.size() ? nextWriting(first + 1) : first;
        const bool firstFits = first < steps.size() && steps[first].op == Op::Command &&
                               steps[first].reply != Reply::Required;
        const bool secondFits = second < steps.size() &&
                                (steps[second].op == Op::Command ||
                                 steps[second].op == Op::Request || steps[second].op == Op::Upload);
        if (!firstFits || !secondFits)
            return QStringLiteral("step %1 (eot-enq): must come before a command that gets no "
                                  "answer, itself followed by a command")
                .arg(i + 1);
    }
    return {};
}

QString Lsv2Peer::prepare(const QStringList& steps)
{
    if (QString error = checkSteps(m_kind, steps); !error.isEmpty())
        return error;
    parseSteps(steps, m_steps, [this](const QString& source, Step& step) {
        return parseStep(m_kind, source, step);
    });
    m_naksLeft = 0;
    m_silentDue = m_splitDue = m_eotEnqDue = m_enqOut = m_repeatDue = false;
    return {};
}

// ---- steps

void Lsv2Peer::runStep(qsizetype index)
{
    const Step step = m_steps[index];
    switch (step.op) {
    case Op::Wait:
        pause(step.number);
        break;
    case Op::Nak:
        m_naksLeft += step.number;
        stepPassed(QStringLiteral("%1: NAK for the next %2 server telegram(s)")
                       .arg(step.source)
                       .arg(m_naksLeft));
        break;
    case Op::Silent:
        m_silentDue = true;
        stepPassed(step.source + QStringLiteral(": the server's next ENQ goes unanswered"));
        break;
    case Op::Split:
        m_splitDue = true;
        stepPassed(step.source + QStringLiteral(": the next telegram goes out in two halves"));
        break;
    case Op::EotEnq:
        m_eotEnqDue = true;
        stepPassed(step.source + QStringLiteral(": the next EOT goes out with an ENQ"));
        break;
    case Op::Noise: {
        QByteArray noise(step.number, '\0');
        auto* random = QRandomGenerator::global();
        for (char& c : noise) {
            // Control characters half of the time, but never an ENQ.
            c = char(random->bounded(2) ? random->bounded(32) : random->bounded(256));
            if (c == kEnq)
                c = '\0';
        }
        writeNoise(noise, QStringLiteral("sent"));
        break;
    }
    case Op::Command:
        exchange(step.text, step.reply, [this, step](const std::optional<QByteArray>& answer) {
            if (step.reply == Reply::Required && answer != step.answer) {
                fail(QStringLiteral("expected the answer %1, got %2")
                         .arg(Printable(*step.answer), Printable(answer.value_or(QByteArray()))));
                return;
            }
            stepPassed(step.source + QStringLiteral(": ") +
                       (answer ? Printable(*answer) : QStringLiteral("no answer")));
        });
        break;
    case Op::Request:
        runRequest(step);
        break;
    case Op::Upload:
        runUpload(step);
        break;
    }
}

void Lsv2Peer::runRequest(const Step& step)
{
    m_stepName = step.source;
    // The program the server must send: the file named, or the one of the
    // same name here, or none (then an empty line). Its lines go out each
    // with CR LF, a file ending in CR LF giving a last, empty line.
    QString path = step.file;
    if (path.isEmpty() && QFileInfo(step.name).isFile())
        path = step.name;
    QByteArray content;
    if (!path.isEmpty()) {
        if (!readFile(path, content))
            return;
        m_expectedFrom = path;
    } else {
        m_expectedFrom = QStringLiteral("no file: one empty line");
    }
    m_expected = withCrLf(content) + kCrLf;
    m_program.clear();
    m_blockCount = 0;
    const QByteArray expected = "PRPP" + bareName(step.name);
    exchange("TDPP  " + step.name.toLatin1(), Reply::Required,
             [this, expected](const std::optional<QByteArray>& answer) {
                 if (*answer != expected) {
                     fail(QStringLiteral("expected %1, got %2")
                              .arg(Printable(expected), Printable(*answer)));
                     return;
                 }
                 askBlock("R BM I311005");
             });
}

void Lsv2Peer::askBlock(const QByteArray& command)
{
    exchange(command, Reply::Required, [this](const std::optional<QByteArray>& answer) {
        if (*answer == "T FD") {
            endDownload();
            return;
        }
        if (!answer->startsWith("R PP")) {
            fail(QStringLiteral("expected R PP and a block, or T FD, got %1")
                     .arg(Printable(*answer)));
            return;
        }
        const QByteArray block = answer->mid(4);
        const int number = ++m_blockCount;
        if (!block.endsWith(kCrLf)) {
            fail(QStringLiteral("block %1 does not end with a whole line: %2")
                     .arg(number)
                     .arg(Printable(block)));
            return;
        }
        if (const qsizetype lines = block.count(kCrLf); lines > 1 && block.size() >= kBlockLimit) {
            fail(QStringLiteral("block %1 holds %2 lines in %3 characters")
                     .arg(number)
                     .arg(lines)
                     .arg(block.size()));
            return;
        }
        m_program += block;
        if (!m_expected.startsWith(m_program)) {
            fail(QStringLiteral("block %1 differs from the program (%2) %3")
                     .arg(number)
                     .arg(m_expectedFrom, difference(m_expected, m_program)));
            return;
        }
        askBlock("T NB");
    });
}

void Lsv2Peer::endDownload()
{
    if (m_program != m_expected) {
        fail(QStringLiteral("T FD after %1 of the %2 bytes of the program (%3)")
                 .arg(m_program.size())
                 .arg(m_expected.size())
                 .arg(m_expectedFrom));
        return;
    }
    exchange("R MDDW FD", Reply::Required, [this](const std::optional<QByteArray>& answer) {
        if (*answer != "R MDDW FC") {
            fail(QStringLiteral("expected R MDDW FC, got %1").arg(Printable(*answer)));
            return;
        }
        stepPassed(QStringLiteral("%1: %2 blocks, %3 bytes")
                       .arg(m_stepName)
                       .arg(m_blockCount)
                       .arg(m_program.size()));
    });
}

void Lsv2Peer::runUpload(const Step& step)
{
    m_stepName = step.source;
    QByteArray content;
    if (!readFile(step.file, content))
        return;
    m_program = withCrLf(content);
    m_blocks = cutBlocks(m_program);
    const QByteArray name = step.name.toLatin1();
    exchange("RDPP  " + name, Reply::Required,
             [this, name](const std::optional<QByteArray>& answer) {
                 if (*answer != "PTPP  " + name) {
                     fail(QStringLiteral("expected %1, got %2")
                              .arg(Printable("PTPP  " + name), Printable(*answer)));
                     return;
                 }
                 sendBlock(0);
             });
}

void Lsv2Peer::sendBlock(qsizetype index)
{
    if (index < m_blocks.size()) {
        exchange("R PP" + m_blocks[index], Reply::Required,
                 [this, index](const std::optional<QByteArray>& answer) {
                     if (*answer != "T NB") {
                         fail(QStringLiteral("expected T NB for block %1, got %2")
                                  .arg(index + 1)
                                  .arg(Printable(*answer)));
                         return;
                     }
                     sendBlock(index + 1);
                 });
        return;
    }
    exchange("T FD", Reply::None, [this](const std::optional<QByteArray>&) {
        m_context = QStringLiteral("while the server stores the program");
        enter(Phase::Pausing, kAfterUploadMs, [this] {
            stepPassed(QStringLiteral("%1: %2 blocks, %3 bytes")
                           .arg(m_stepName)
                           .arg(m_blocks.size())
                           .arg(m_program.size()));
        });
    });
}

// ---- one exchange: our command, then the server's answer if any

void Lsv2Peer::exchange(const QByteArray& text, Reply reply, Then then)
{
    m_text = text;
    m_reply = reply;
    m_then = std::move(then);
    m_acksRefused = 0;
    m_badTelegrams = 0;
    m_repeatDue = false;
    if (m_enqOut) {
        // Written with the last EOT: its DLE 0 is on its way.
        m_enqOut = false;
        m_enqTries = 1;
        awaitOpenReply();
    } else {
        m_enqTries = 0;
        sendEnq();
    }
}

void Lsv2Peer::sendEnq()
{
    writeLater(
        QByteArray(1, kEnq),
        [this] {
            ++m_enqTries;
            calling();
            awaitOpenReply();
        },
        QStringLiteral("before the ENQ"));
}

void Lsv2Peer::awaitOpenReply()
{
    enter(Phase::OpenReply, kEnqWaitMs, [this] { openTimedOut(); });
}

void Lsv2Peer::openTimedOut()
{
    if (!m_in.isEmpty()) {
        fail(QStringLiteral("expected DLE 0 to ENQ, got %1").arg(describe(m_in)));
        return;
    }
    if (m_enqTries < kEnqTries || serverAwaited()) {
        sendEnq();
        return;
    }
    fail(QStringLiteral("no DLE 0 to ENQ, %1 calls in %2 s")
             .arg(m_enqTries)
             .arg(callingSeconds(m_enqTries, kEnqWaitMs)));
}

void Lsv2Peer::sendTelegram()
{
    const QByteArray frame = telegram(m_text);
    if (!m_splitDue) {
        writeLater(
            frame, [this] { awaitAck(); }, QStringLiteral("after DLE 0"));
        return;
    }
    // Two bursts: the server must drop what it got and wait; then the whole
    // telegram, as a control repeats it after its time-out.
    m_splitDue = false;
    const qsizetype half = frame.size() / 2;
    writeLater(
        frame.left(half),
        [this, frame, half] {
            writeLater(
                frame.mid(half),
                [this, frame] {
                    writeLater(
                        frame, [this] { awaitAck(); },
                        QStringLiteral("after a telegram split in two bursts, which "
                                       "the server must drop"),
                        kSplitRepeatMs);
                },
                QStringLiteral("between the halves of a split telegram"), kSplitPauseMs);
        },
        QStringLiteral("after DLE 0"));
}

void Lsv2Peer::awaitAck()
{
    enter(Phase::Ack, kAckWaitMs, [this] {
        fail(QStringLiteral("expected DLE 1 to the telegram %1, got %2")
                 .arg(Printable(m_text), describe(m_in)));
    });
}

void Lsv2Peer::sendEot()
{
    if (!m_eotEnqDue) {
        writeLater(
            QByteArray(1, kEot), [this] { afterEot(); }, QStringLiteral("after DLE 1"));
        return;
    }
    m_eotEnqDue = false;
    writeLater(
        kEotEnq,
        [this] {
            // The next step is a command; it finds its ENQ already out.
            m_enqOut = true;
            setPhase(Phase::Idle);
            Then then = std::exchange(m_then, nullptr);
            then(std::nullopt);
        },
        QStringLiteral("after DLE 1"));
}

void Lsv2Peer::afterEot()
{
    auto noAnswer = [this] {
        setPhase(Phase::Idle);
        Then then = std::exchange(m_then, nullptr);
        then(std::nullopt);
    };
    switch (m_reply) {
    case Reply::None:
        m_context = QStringLiteral("where no answer is due");
        enter(Phase::NoAnswer, kNoAnswerMs, noAnswer);
        break;
    case Reply::Optional:
        enter(Phase::ServerEnq, kNoAnswerMs, noAnswer);
        break;
    case Reply::Required:
        enter(Phase::ServerEnq, kAnswerWaitMs, [this] {
            fail(QStringLiteral("no answer to %1 within %2 s")
                     .arg(Printable(m_text))
                     .arg(kAnswerWaitMs / 1000));
        });
        break;
    }
}

void Lsv2Peer::awaitTelegram()
{
    enter(Phase::Telegram, kTelegramWaitMs, [this] {
        if (m_in.isEmpty()) {
            fail(QStringLiteral("no telegram after DLE 0"));
            return;
        }
        badTelegram(std::exchange(m_in, QByteArray()), QStringLiteral("incomplete"));
    });
}

void Lsv2Peer::telegramArrived(const QByteArray& raw)
{
    if (m_repeatDue) {
        m_repeatDue = false;
        if (raw != m_refused) {
            m_log.append(QStringLiteral("< ") + describe(raw));
            fail(QStringLiteral("the telegram repeated after NAK differs: first %1, then %2")
                     .arg(describe(m_refused), describe(raw)));
            return;
        }
    }
    if (!raw.startsWith(kDleStx)) {
        badTelegram(raw, QStringLiteral("no DLE STX at its start"));
        return;
    }
    const QByteArray text = raw.mid(2, raw.size() - 5);
    if (checksum(text) != raw.back()) {
        badTelegram(raw, QStringLiteral("bad BCC"));
        return;
    }
    m_log.append(QStringLiteral("< ") + describe(raw));
    if (m_naksLeft > 0) {
        --m_naksLeft;
        m_refused = raw;
        m_repeatDue = true;
        writeLater(
            QByteArray(1, kNak), [this] { awaitTelegram(); }, QStringLiteral("after the telegram"));
        return;
    }
    m_answer = text;
    writeLater(
        kDle1, [this] { awaitEot(); }, QStringLiteral("after the telegram"));
}

void Lsv2Peer::badTelegram(const QByteArray& raw, const QString& why)
{
    m_log.append(QStringLiteral("< ") + describe(raw));
    deviation(QStringLiteral("bad telegram (%1): %2").arg(why, describe(raw)));
    if (++m_badTelegrams > kMaxRefusals) {
        fail(QStringLiteral("the server keeps sending bad telegrams"));
        return;
    }
    writeLater(
        QByteArray(1, kNak), [this] { awaitTelegram(); }, QStringLiteral("after a bad telegram"));
}

void Lsv2Peer::awaitEot()
{
    enter(Phase::Eot, kEotWaitMs,
          [this] { fail(QStringLiteral("expected EOT after DLE 1, got %1").arg(describe(m_in))); });
}

// ---- the line

void Lsv2Peer::dataArrived()
{
    switch (phase()) {
    case Phase::OpenReply:
        if (replyIs(kDle0, QStringLiteral("DLE 0 to ENQ"))) {
            contacted();
            sendTelegram();
        }
        break;
    case Phase::Ack:
        if (m_in == QByteArray(1, kNak)) {
            m_log.append(QStringLiteral("< NAK"));
            m_in.clear();
            if (++m_acksRefused > kMaxRefusals)
                fail(QStringLiteral("the server refuses the telegram %1").arg(Printable(m_text)));
            else
                writeLater(
                    telegram(m_text), [this] { awaitAck(); }, QStringLiteral("after NAK"));
        } else if (replyIs(kDle1, QStringLiteral("DLE 1 or NAK to the telegram"))) {
            sendEot();
        }
        break;
    case Phase::ServerEnq:
        if (!replyIs(QByteArray(1, kEnq), QStringLiteral("ENQ opening the answer")))
            break;
        if (m_silentDue) {
            m_silentDue = false;
            m_silentClock.start();
            enter(Phase::Silent, kSilentQuietMs, [this] {
                setPhase(Phase::Idle);
                m_then = nullptr;
                stepPassed(stepSource() + QStringLiteral(": the server's ENQ left unanswered"));
            });
            break;
        }
        writeLater(
            kDle0, [this] { awaitTelegram(); }, QStringLiteral("after the server's ENQ"));
        break;
    case Phase::Telegram: {
        const qsizetype end = m_in.indexOf(kDleEtx);
        if (end < 0 || m_in.size() < end + 3) {
            // Not complete yet; it must be soon.
            rearm(kTelegramQuietMs);
            break;
        }
        const QByteArray raw = m_in.left(end + 3);
        const QByteArray extra = m_in.mid(end + 3);
        m_in.clear();
        if (!extra.isEmpty()) {
            m_log.append(QStringLiteral("< ") + describe(raw + extra));
            fail(QStringLiteral("%1 right after the telegram %2 without waiting for DLE 1")
                     .arg(describe(extra), describe(raw)));
            break;
        }
        telegramArrived(raw);
        break;
    }
    case Phase::Eot:
        if (replyIs(QByteArray(1, kEot), QStringLiteral("EOT after DLE 1"))) {
            setPhase(Phase::Idle);
            Then then = std::exchange(m_then, nullptr);
            then(m_answer);
        }
        break;
    case Phase::Silent:
        // The server calls again, then gives up; it may close with EOT.
        if (std::any_of(m_in.cbegin(), m_in.cend(),
                        [](char c) { return c != kEnq && c != kEot; })) {
            fail(QStringLiteral("expected only ENQ while not answering it, got %1")
                     .arg(describe(m_in)));
            break;
        }
        m_log.append(QStringLiteral("< ") + describe(std::exchange(m_in, QByteArray())) +
                     QStringLiteral(" (not answered)"));
        if (m_silentClock.elapsed() > kSilentMaxMs)
            fail(QStringLiteral("the server keeps calling without an answer"));
        else
            rearm(kSilentQuietMs);
        break;
    case Phase::Done:
    case Phase::Idle:
    case Phase::Pausing:
    case Phase::Gap:
    case Phase::NoAnswer:
        fail(QStringLiteral("unexpected %1 %2").arg(describe(m_in), m_context));
        break;
    }
}

// True when the reply is complete and right; fails on a wrong one; false
// while it may still be coming.
bool Lsv2Peer::replyIs(const QByteArray& expected, const QString& what)
{
    if (m_in == expected) {
        m_log.append(QStringLiteral("< ") + describe(m_in));
        m_in.clear();
        return true;
    }
    if (!expected.startsWith(m_in)) {
        m_log.append(QStringLiteral("< ") + describe(m_in));
        fail(QStringLiteral("expected %1, got %2").arg(what, describe(m_in)));
    }
    return false;
}

} // namespace nodalis::sim
