#include "sim/MazatrolPeer.h"

#include "sim/MachineSimulator.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>

namespace nodalis::sim {

namespace {

constexpr char kNul = 0;
constexpr char kStx = 2;
constexpr char kEtx = 3;
constexpr char kEot = 4;
constexpr char kF0 = char(0xF0);
constexpr char kH84 = char(0x84);
constexpr char kA9 = char(0xA9);
constexpr char kB8 = char(0xB8);
constexpr char kB2 = char(0xB2);
constexpr char kH82 = char(0x82);
constexpr char kE9 = char(233);

constexpr int kReplyWaitMs = 3000; // an answer the server owes
constexpr int kQuietMs = 800;      // the line stays quiet this long when no answer is due
constexpr int kTries = 8;          // a message nothing answers goes this often...
constexpr int kRetryMs = 1000;     // ... this long after it: the server drops what came while
                                   // it was busy, as it opens the line again
constexpr int kCallGapMs = 1000;   // from the call's last "pA" to the download's first
constexpr int kRecordLength = 128;
constexpr int kShortBlock = 128; // what the short frames carry of a record
constexpr qint32 kCallNumber = 8888;

const QByteArray kMarker = QByteArrayLiteral("xVb");

QByteArray bytes(std::initializer_list<char> list)
{
    return QByteArray(list.begin(), qsizetype(list.size()));
}

// F0 "00" H84: the usual acknowledgement.
QByteArray ok()
{
    return kF0 + QByteArray("00") + kH84;
}

// The models that answer alike, by direction.
enum class Group
{
    M703, // 703, 704, 707, 708, 713
    M701, // 701, 705
    M702, // 702, 706
    M709, // 709, 710
    M712,
};

Group groupOf(int model)
{
    switch (model) {
    case 701:
    case 705:
        return Group::M701;
    case 702:
    case 706:
        return Group::M702;
    case 709:
    case 710:
        return Group::M709;
    case 712:
        return Group::M712;
    default:
        return Group::M703;
    }
}

// Whether the model's messages end with a doubled EOT.
bool doubleEot(int model)
{
    const Group g = groupOf(model);
    return g == Group::M702 || g == Group::M709 || g == Group::M712;
}

// ---- what the server answers while receiving

QByteArray p3Reply(int model)
{
    switch (groupOf(model)) {
    case Group::M701:
        return "p00" + bytes({kEot});
    case Group::M702:
        return bytes({kF0, '0', kB8, kH84});
    default:
        return ok();
    }
}

// A short message that matches no other row names the program.
QByteArray nameReply(int model)
{
    switch (groupOf(model)) {
    case Group::M701:
        return "p00" + bytes({kEot});
    case Group::M709:
        return {}; // no answer
    default:
        return ok();
    }
}

QByteArray receivedFrameReply(int model)
{
    const Group g = groupOf(model);
    return g == Group::M702 || g == Group::M712 ? bytes({kF0, '0', kB8, kH84}) : ok();
}

// "q" EOT NUL: a refusal where the model lists it, else any other message.
QByteArray nulBurstReply(int model)
{
    switch (groupOf(model)) {
    case Group::M703:
        return bytes({'q', '0', kA9, kH84});
    case Group::M701:
        return "p00" + bytes({kEot});
    case Group::M702:
        return ok();
    case Group::M709:
    case Group::M712:
        break;
    }
    return "q00" + bytes({kH84});
}

// The block counter of a reception, run down by "pA".
int receiveBlocks(int model)
{
    return model == 706 || model == 709 || model == 710 ? 3 : 2;
}

// ---- what the server answers while sending

QByteArray moreToCome(int model)
{
    return groupOf(model) == Group::M702 ? ok() : bytes({kF0, '0', kB2, kH84});
}

QByteArray endOfProgram(int model)
{
    return groupOf(model) == Group::M712 ? ok() : bytes({kF0, kH84, kH84, kH84, kH84});
}

// Short frames carry the first 128 characters of a record, the others all.
bool shortFrames(int model)
{
    const Group g = groupOf(model);
    return g == Group::M703 || g == Group::M701;
}

QByteArray frameLead(int model)
{
    return kF0 + QByteArray("00") + (shortFrames(model) ? kE9 : kH82);
}

// The records a download carries: "1" and "3" but "32", or for 712, 702
// and 706 the records "1", "31" and "32".
bool carried(int model, const QByteArray& record)
{
    const Group g = groupOf(model);
    if (g == Group::M712 || g == Group::M702)
        return record.startsWith('1') || record.startsWith("31") || record.startsWith("32");
    return (record.startsWith('1') || record.startsWith('3')) && !record.startsWith("32");
}

// ---- the call program's header

QByteArray hex(qint64 value, int digits)
{
    return QByteArray::number(value, 16).toUpper().rightJustified(digits, '0');
}

void place(QByteArray& record, int column, const QByteArray& text)
{
    record.replace(column - 1, text.size(), text);
}

QByteArray nameCodes(const QByteArray& name)
{
    QByteArray codes;
    for (qsizetype i = 0; i < 16; ++i)
        codes += i < name.size() ? hex(static_cast<unsigned char>(name[i]), 2) : "00";
    return codes;
}

QString quoted(const QByteArray& text)
{
    if (text.size() > 24)
        return QStringLiteral("[%1...] (%2 chars)").arg(Printable(text.left(12))).arg(text.size());
    return QLatin1Char('"') + Printable(text) + QLatin1Char('"');
}

// Where two lists of records part, in a few words.
QString recordsDiffer(const QList<QByteArray>& wanted, const QList<QByteArray>& got)
{
    qsizetype at = 0;
    while (at < wanted.size() && at < got.size() && wanted[at] == got[at])
        ++at;
    if (at < wanted.size() && at < got.size()) {
        qsizetype c = 0;
        while (c < wanted[at].size() && c < got[at].size() && wanted[at][c] == got[at][c])
            ++c;
        return QStringLiteral("record %1 parts at character %2: %3, the file has %4")
            .arg(at + 1)
            .arg(c + 1)
            .arg(quoted(got[at].mid(c)), quoted(wanted[at].mid(c)));
    }
    return QStringLiteral("%1 records, the file has %2").arg(got.size()).arg(wanted.size());
}

} // namespace

MazatrolPeer::MazatrolPeer(MachineSimulator& sim, int model, QObject* parent)
    : ScriptedPeer(sim, &MazatrolPeer::describe, parent), m_model(model)
{
}

bool MazatrolPeer::knownModel(int model)
{
    return model >= 701 && model <= 713 && model != 711;
}

QByteArray MazatrolPeer::checksum(QByteArrayView block)
{
    int sum = 0;
    for (char c : block)
        sum += static_cast<unsigned char>(c);
    return hex(sum & 0xFF, 2);
}

QList<QByteArray> MazatrolPeer::records(const QByteArray& content)
{
    QList<QByteArray> out;
    int markers = 0;
    qsizetype from = 0;
    while (from < content.size() && markers < 2) {
        qsizetype cr = content.indexOf('\r', from);
        if (cr < 0)
            cr = content.size();
        const QByteArray line = content.mid(from, cr - from);
        from = cr + (cr + 1 < content.size() && content[cr + 1] == '\n' ? 2 : 1);
        if (line.trimmed().isEmpty())
            continue;
        if (line.trimmed() == kMarker)
            ++markers;
        else
            out.append(line);
    }
    return out;
}

QList<QByteArray> MazatrolPeer::downloadedRecords(int model, const QByteArray& content)
{
    QList<QByteArray> out;
    for (const QByteArray& record : records(content))
        if (carried(model, record))
            out.append(shortFrames(model) ? record.left(kShortBlock) : record);
    return out;
}

QByteArray MazatrolPeer::programHeader(int model, qint32 value, const QByteArray& name)
{
    QByteArray header = QByteArray("1100").leftJustified(kRecordLength, '0');
    const QByteArray number = hex(value, 4);
    const QByteArray codes = nameCodes(name);
    switch (model) {
    case 702:
    case 712:
    case 709:
    case 710:
        // The number's high byte at column 11, its low byte at column 9.
        place(header, 11, number.left(2));
        place(header, 9, number.mid(2));
        place(header, model == 709 || model == 710 ? 23 : 63, codes);
        break;
    case 706:
        place(header, 17, number.left(2));
        place(header, 15, number.mid(2));
        place(header, 63, codes);
        break;
    default:
        place(header, 15, number);
        place(header, 23, codes);
        break;
    }
    return header;
}

QList<QByteArray> MazatrolPeer::callProgram(int model, const QByteArray& name)
{
    const QByteArray number = hex(kCallNumber, 4);
    QList<QByteArray> program{programHeader(model, kCallNumber, "ORVA " + name)};
    // 713 reads the number from a header "1120" only.
    if (model == 713) {
        QByteArray numbered = QByteArray("1120").leftJustified(kRecordLength, '0');
        place(numbered, 5, number);
        program.append(numbered);
    }
    program.append(QByteArray("20").leftJustified(kRecordLength, '0'));
    return program;
}

QString MazatrolPeer::describe(const QByteArray& data)
{
    static const std::pair<char, const char*> kNames[] = {
        {kNul, "NUL"}, {kStx, "STX"}, {kEtx, "ETX"}, {kEot, "EOT"}, {kF0, "F0"}, {kH84, "H84"},
        {kA9, "A9"},   {kB8, "B8"},   {kB2, "B2"},   {kH82, "H82"}, {kE9, "E9"}};
    const auto nameOf = [](const QByteArray& all, qsizetype& i) -> QString {
        for (const auto& [code, name] : kNames)
            if (all[i] == code)
                return QLatin1String(name);
        return {};
    };
    return DescribeBytes(data, nameOf, quoted);
}

// ---- steps

QString MazatrolPeer::parseStep(const QString& source, Step& step)
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
        return ok && step.count >= least
                   ? QString()
                   : QStringLiteral("%1 takes a number from %2").arg(verb).arg(least);
    };
    auto bare = [&](Op op) {
        step.op = op;
        return args.isEmpty() ? QString() : QStringLiteral("%1 takes nothing").arg(verb);
    };
    auto readable = [&](const QString& file) {
        step.file = file;
        return file.isEmpty() || QFileInfo(file).isFile()
                   ? QString()
                   : QStringLiteral("cannot read %1").arg(file);
    };

    if (verb == QLatin1String("wait"))
        return number(Op::Wait, 0);
    if (verb == QLatin1String("slow"))
        return number(Op::Slow, 0);
    if (verb == QLatin1String("noise"))
        return number(Op::Noise, 1);
    if (verb == QLatin1String("silent"))
        return bare(Op::Silent);
    if (verb == QLatin1String("no-etx"))
        return bare(Op::NoEtx);
    if (verb == QLatin1String("nul-burst"))
        return bare(Op::NulBurst);
    if (verb == QLatin1String("upload")) {
        step.op = Op::Upload;
        if (args.size() != 1)
            return QStringLiteral("upload takes FILE");
        if (QString error = readable(args[0]); !error.isEmpty())
            return error;
        QFile f(step.file);
        if (!f.open(QIODevice::ReadOnly) || records(f.readAll()).isEmpty())
            return QStringLiteral("%1 holds no record").arg(step.file);
        return {};
    }
    if (verb == QLatin1String("download")) {
        step.op = Op::Download;
        return args.size() > 1 ? QStringLiteral("download takes [FILE]") : readable(args.value(0));
    }
    if (verb == QLatin1String("call")) {
        step.op = Op::Call;
        if (args.isEmpty() || args.size() > 2)
            return QStringLiteral("call takes NAME [FILE]");
        step.name = args[0].toLatin1();
        // The name goes in the header's sixteen characters, after "ORVA ".
        if (step.name.size() > 11)
            return QStringLiteral("a name of 11 characters at most");
        return readable(args.value(1));
    }
    return QStringLiteral("unknown step \"%1\" for a Mazak control").arg(verb);
}

QString MazatrolPeer::checkSteps(int model, const QStringList& sources)
{
    if (!knownModel(model))
        return QStringLiteral("no Mazak control %1 to play (701 to 713, 711 has no handshake)")
            .arg(model);
    QList<Step> steps;
    return parseSteps(sources, steps, &MazatrolPeer::parseStep);
}

QString MazatrolPeer::prepare(const QStringList& steps)
{
    if (QString error = checkSteps(m_model, steps); !error.isEmpty())
        return error;
    parseSteps(steps, m_steps, &MazatrolPeer::parseStep);
    m_silentDue = m_noEtxDue = false;
    m_slowMs = -1;
    m_first = true;
    return {};
}

void MazatrolPeer::runStep(qsizetype index)
{
    const Step step = m_steps[index];
    m_stepName = step.source;
    m_outcome.clear();
    switch (step.op) {
    case Op::Wait:
        pause(step.count);
        break;
    case Op::Slow:
        m_slowMs = step.count;
        stepPassed(step.source +
                   QStringLiteral(": later messages %1 ms after the server's").arg(step.count));
        break;
    case Op::Silent:
        m_silentDue = true;
        stepPassed(step.source + QStringLiteral(": the next transfer stops after one frame"));
        break;
    case Op::NoEtx:
        m_noEtxDue = true;
        stepPassed(step.source +
                   QStringLiteral(": the next upload's first frame goes first without ETX"));
        break;
    case Op::NulBurst: {
        Expect e;
        e.replies = {nulBurstReply(m_model)};
        exchange(bytes({'q', kEot, kNul}), e, [this, step](const QByteArray& reply) {
            stepPassed(step.source + QStringLiteral(": ") + describe(reply));
        });
        break;
    }
    case Op::Noise: {
        QByteArray noise(step.count, '\0');
        auto* random = QRandomGenerator::global();
        for (char& c : noise)
            c = char(random->bounded(256));
        Expect e;
        e.anything = true;
        exchange(noise + kEot, e, [this, step](const QByteArray& reply) {
            stepPassed(step.source + QStringLiteral(": answered ") + describe(reply));
        });
        break;
    }
    case Op::Upload: {
        QByteArray content;
        if (!readFile(step.file, content))
            return;
        // The program's name: the file's, as short as a name message is.
        const QByteArray name = QFileInfo(step.file).baseName().toUpper().toLatin1().left(4);
        upload(records(content), name, true,
               [this, step] { stepPassed(step.source + QStringLiteral(": ") + m_outcome); });
        break;
    }
    case Op::Download:
    case Op::Call: {
        QString path = step.file.isEmpty() ? m_expectPath : step.file;
        if (path.isEmpty() && step.op == Op::Call &&
            QFileInfo(QString::fromLatin1(step.name)).isFile())
            path = QString::fromLatin1(step.name);
        if (!loadExpected(path))
            return;
        auto fetch = [this, step] {
            download([this, step] { stepPassed(step.source + QStringLiteral(": ") + m_outcome); });
        };
        if (step.op == Op::Download) {
            fetch();
            break;
        }
        upload(callProgram(m_model, step.name), QByteArray::number(kCallNumber), false,
               [this, fetch] {
                   m_context = QStringLiteral("between the call and the download");
                   enter(Phase::Pausing, kCallGapMs, fetch);
               });
        break;
    }
    }
}

bool MazatrolPeer::loadExpected(const QString& path)
{
    m_compare = !path.isEmpty();
    m_wantedFrom = path;
    m_wanted.clear();
    if (!m_compare)
        return true;
    QByteArray content;
    if (!readFile(path, content))
        return false;
    m_wanted = downloadedRecords(m_model, content);
    return true;
}

// ---- messages and answers

QByteArray MazatrolPeer::message(const char* text) const
{
    return QByteArray(text) + (doubleEot(m_model) ? bytes({kEot, kEot}) : bytes({kEot}));
}

void MazatrolPeer::exchange(const QByteArray& data, const Expect& expect, Next next)
{
    m_message = data;
    m_expect = expect;
    m_next = std::move(next);
    m_tries = 0;
    sendMessage();
}

void MazatrolPeer::sendMessage()
{
    const int gap = std::max(kGapMs, m_slowMs);
    writeLater(
        m_message,
        [this] {
            ++m_tries;
            if (m_first)
                calling();
            m_context = QStringLiteral("to ") + describe(m_message);
            const bool quietGoes = m_expect.nothing || m_expect.anything;
            const int waitMs = quietGoes             ? kQuietMs
                               : m_expect.waitMs > 0 ? m_expect.waitMs
                                                     : kReplyWaitMs;
            enter(Phase::Reply, waitMs, [this] { replyTimedOut(); });
        },
        QStringLiteral("before ") + describe(m_message), gap, m_slowMs);
}

void MazatrolPeer::replyTimedOut()
{
    if (!m_in.isEmpty()) {
        if (m_expect.anything) {
            answered(m_in);
            return;
        }
        m_log.append(QStringLiteral("< ") + describe(m_in));
        fail(QStringLiteral("an incomplete answer to %1: %2")
                 .arg(describe(m_message), describe(m_in)));
        return;
    }
    if (m_expect.nothing || m_expect.anything) {
        answered({});
        return;
    }
    if (m_tries < m_expect.tries || (m_first && serverAwaited())) {
        sendMessage();
        return;
    }
    fail(QStringLiteral("no answer to %1 (%2 tries, %3 ms each)")
             .arg(describe(m_message))
             .arg(m_tries)
             .arg(m_expect.waitMs > 0 ? m_expect.waitMs : kReplyWaitMs));
}

void MazatrolPeer::answered(QByteArray reply)
{
    m_log.append(QStringLiteral("< ") + describe(reply));
    m_in.clear();
    if (m_first && !reply.isEmpty()) {
        m_first = false;
        contacted();
    }
    setPhase(int(Phase::Idle));
    if (Next next = std::exchange(m_next, nullptr))
        next(reply);
}

void MazatrolPeer::dataArrived()
{
    if (phase() != Phase::Reply) {
        m_log.append(QStringLiteral("< ") + describe(m_in));
        fail(QStringLiteral("unexpected %1 %2").arg(describe(m_in), m_context));
        return;
    }
    if (m_expect.anything) {
        rearm(kQuietMs);
        return;
    }
    if (m_expect.replies.contains(m_in)) {
        answered(m_in);
        return;
    }
    const QByteArray& lead = m_expect.frameLead;
    if (!lead.isEmpty() && m_in.startsWith(lead)) {
        const qsizetype etx = m_in.indexOf(kEtx, lead.size());
        // ETX, two digits of checksum, H84.
        if (etx < 0 || m_in.size() < etx + 4) {
            rearm(kReplyWaitMs);
            return;
        }
        if (m_in.size() == etx + 4 && m_in.back() == kH84) {
            answered(m_in);
            return;
        }
    } else {
        const auto begins = [this](const QByteArray& r) { return r.startsWith(m_in); };
        if (std::any_of(m_expect.replies.cbegin(), m_expect.replies.cend(), begins) ||
            (!lead.isEmpty() && lead.startsWith(m_in))) {
            rearm(kReplyWaitMs);
            return;
        }
    }
    QStringList wanted;
    for (const QByteArray& r : std::as_const(m_expect.replies))
        wanted.append(describe(r));
    if (!lead.isEmpty())
        wanted.append(describe(lead) + QStringLiteral(" RECORD ETX CHECKSUM H84"));
    if (m_expect.nothing)
        wanted.append(QStringLiteral("nothing"));
    m_log.append(QStringLiteral("< ") + describe(m_in));
    fail(QStringLiteral("to %1 expected %2, got %3")
             .arg(describe(m_message), wanted.join(QLatin1String(" or ")), describe(m_in)));
}

void MazatrolPeer::stopped()
{
    m_next = nullptr;
    m_done = nullptr;
}

// ---- upload

void MazatrolPeer::upload(const QList<QByteArray>& records, const QByteArray& name, bool faults,
                          std::function<void()> done)
{
    m_records = records;
    m_name = name;
    m_done = std::move(done);
    m_silent = faults && std::exchange(m_silentDue, false);
    m_noEtx = faults && std::exchange(m_noEtxDue, false);
    // The server may be storing the last program, or not started yet.
    Expect ready;
    ready.replies = {p3Reply(m_model)};
    ready.tries = kTries;
    ready.waitMs = kRetryMs;
    exchange(message("p3"), ready, [this](const QByteArray&) {
        Expect named;
        const QByteArray reply = nameReply(m_model);
        named.nothing = reply.isEmpty();
        if (!reply.isEmpty())
            named.replies = {reply};
        exchange(message(m_name.constData()), named, [this](const QByteArray&) { uploadFrame(0); });
    });
}

void MazatrolPeer::uploadFrame(qsizetype index)
{
    if (index >= m_records.size()) {
        uploadEnd(1);
        return;
    }
    const QByteArray& record = m_records[index];
    const QByteArray end = message("");
    if (m_noEtx && index == 0) {
        // The server takes no record from it; the frame goes again whole.
        m_noEtx = false;
        Expect any;
        any.anything = true;
        exchange("p1" + bytes({kStx}) + record + checksum(record) + end, any,
                 [this](const QByteArray& reply) {
                     m_outcome =
                         QStringLiteral("frame without ETX answered %1; ").arg(describe(reply));
                     uploadFrame(0);
                 });
        return;
    }
    Expect e;
    e.replies = {receivedFrameReply(m_model)};
    exchange("p1" + bytes({kStx}) + record + kEtx + checksum(record) + end, e,
             [this, index](const QByteArray&) {
                 if (m_silent) {
                     m_outcome += QStringLiteral("silent after frame 1");
                     if (auto done = std::exchange(m_done, nullptr))
                         done();
                     return;
                 }
                 uploadFrame(index + 1);
             });
}

void MazatrolPeer::uploadEnd(int pa)
{
    Expect e;
    e.replies = {ok()};
    exchange(message("pA"), e, [this, pa](const QByteArray&) {
        if (pa < receiveBlocks(m_model)) {
            uploadEnd(pa + 1);
            return;
        }
        m_outcome += QStringLiteral("%1 records").arg(m_records.size());
        if (auto done = std::exchange(m_done, nullptr))
            done();
    });
}

// ---- download

void MazatrolPeer::download(std::function<void()> done)
{
    m_done = std::move(done);
    m_outcome.clear();
    m_received.clear();
    m_silent = std::exchange(m_silentDue, false);
    Expect start;
    start.replies = {ok()};
    // The server may still be getting the program ready.
    start.tries = kTries;
    start.waitMs = kRetryMs;
    exchange(message("pA"), start, [this](const QByteArray&) {
        Expect more;
        more.replies = {moreToCome(m_model), endOfProgram(m_model)};
        exchange(message("pD"), more, [this](const QByteArray& reply) {
            if (reply == endOfProgram(m_model)) {
                m_outcome = QStringLiteral("the end at once, ");
                downloadDone();
                return;
            }
            nextRecord();
        });
    });
}

void MazatrolPeer::nextRecord()
{
    Expect e;
    e.frameLead = frameLead(m_model);
    e.nothing = true;
    exchange(message("p4"), e, [this](const QByteArray& reply) {
        if (reply.isEmpty()) {
            downloadDone();
            return;
        }
        const qsizetype lead = frameLead(m_model).size();
        const qsizetype etx = reply.indexOf(kEtx, lead);
        const QByteArray block = reply.mid(lead, etx - lead);
        const QByteArray sum = reply.mid(etx + 1, 2);
        const int number = int(m_received.size()) + 1;
        if (sum != checksum(block))
            deviation(QStringLiteral("frame %1 has the checksum %2, should be %3")
                          .arg(number)
                          .arg(QString::fromLatin1(sum), QString::fromLatin1(checksum(block))));
        if (shortFrames(m_model) && block.size() > kShortBlock)
            deviation(QStringLiteral("frame %1 carries %2 characters, at most %3")
                          .arg(number)
                          .arg(block.size())
                          .arg(kShortBlock));
        m_received.append(block);
        if (m_silent) {
            m_outcome = QStringLiteral("silent after frame 1");
            if (auto done = std::exchange(m_done, nullptr))
                done();
            return;
        }
        nextRecord();
    });
}

void MazatrolPeer::downloadDone()
{
    m_outcome += QStringLiteral("%1 records").arg(m_received.size());
    if (!m_compare)
        m_outcome += QStringLiteral(" (not compared)");
    else if (m_received != m_wanted) {
        deviation(QStringLiteral("the download differs from %1: %2")
                      .arg(m_wantedFrom, recordsDiffer(m_wanted, m_received)));
        m_outcome += QStringLiteral(" differing from ") + m_wantedFrom;
    } else
        m_outcome += QStringLiteral(" as in ") + m_wantedFrom;
    if (auto done = std::exchange(m_done, nullptr))
        done();
}

} // namespace nodalis::sim
