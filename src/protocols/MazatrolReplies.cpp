#include "protocols/MazatrolReplies.h"

#include "protocols/MazatrolConvert.h"

namespace nodalis::mazatrol {

namespace {

QByteArray b(std::initializer_list<char> bytes)
{
    return QByteArray(bytes.begin(), qsizetype(bytes.size()));
}

QByteArray m(const char* text, std::initializer_list<char> tail = {})
{
    return QByteArray(text) + b(tail);
}

const QByteArray Ack = b({F0, '0', '0', H84});
const QByteArray AckB2 = b({F0, '0', B2, H84});
const QByteArray AckB8 = b({F0, '0', B8, H84});
const QByteArray Refuse = b({'q', '0', '0', H84});
const QByteArray RefuseA9 = b({'q', '0', A9, H84});
const QByteArray EndOfFile = b({F0, H84, H84, H84, H84});

const QList<int> Short = {701, 703, 704, 705, 707, 708, 713};
const QList<int> Receive703 = {703, 704, 707, 708, 713};
const QList<int> Receive701 = {701, 705};
const QList<int> Pair702 = {702, 706};
const QList<int> Pair709 = {709, 710};
const QList<int> Only712 = {712};

} // namespace

const QList<Rule>& SendRules()
{
    static const QList<Rule> rules = {
        {Short, {m("pA", {EOT})}, Ack, Action::CountDownRewind, {}},
        {Short, {m("pD", {EOT})}, AckB2, Action::EndOfProgram, EndOfFile},
        {Short, {m("p8", {EOT}), m("p9", {EOT})}, Ack, Action::Reply, {}},
        {Short, {m("q", {EOT})}, Refuse, Action::Reply, {}},
        {Short, {m("p4", {EOT})}, {}, Action::NextFrame, {}},
        {Short, {m("pAp8", {EOT}), m("pAp8")}, Ack + Ack, Action::Reply, {}},

        {Pair709, {m("pA", {EOT, EOT}), m("pA", {EOT, STX})}, Ack, Action::CountDown, {}},
        {Pair709, {m("pD", {EOT, EOT})}, AckB2, Action::EndOfProgram, EndOfFile},
        {Pair709, {m("p8", {EOT, EOT}), m("p9", {EOT})}, Ack, Action::Reply, {}},
        {Pair709,
         {m("q", {EOT, '0'}), m("q", {EOT, EOT}), m("q", {EOT, STX})},
         Refuse,
         Action::Reply,
         {}},
        {Pair709, {m("p4", {EOT, EOT}), m("p4", {EOT, STX})}, {}, Action::NextFrame, {}},
        {Pair709, {m("pAp8", {EOT}), m("pAp8")}, Ack + Ack, Action::Reply, {}},

        {Only712, {m("pA", {EOT, EOT}), m("pA", {EOT, STX})}, Ack, Action::CountDownOrStx, {}},
        {Only712,
         {m("pD", {EOT, EOT}), m("pD", {EOT, STX}), m("pD", {EOT, NUL}), m("pD", {EOT})},
         AckB2,
         Action::EndOfProgram,
         Ack},
        {Only712,
         {m("pq", {EOT, EOT}), m("pq", {EOT, STX}), m("pq", {EOT, '0'})},
         Refuse,
         Action::Reply,
         {}},
        {Only712, {m("p8", {EOT, EOT})}, Ack, Action::Reply, {}},
        {Only712, {m("p4", {EOT, EOT}), m("p4", {EOT, STX})}, {}, Action::NextFrame, {}},

        {Pair702, {m("pA", {EOT, EOT}), m("pA", {EOT, STX})}, Ack, Action::CountDownOrStx, {}},
        {Pair702, {m("pD", {EOT, EOT}), m("pD", {EOT, STX})}, Ack, Action::EndOfProgram, EndOfFile},
        {Pair702, {m("p4", {EOT, EOT}), m("p4", {EOT, STX})}, {}, Action::NextFrame, {}},
        // These controls take an acknowledgement for anything else.
        {Pair702, {}, Ack, Action::Reply, {}},
    };
    return rules;
}

const QList<Rule>& ReceiveRules()
{
    static const QList<Rule> rules = {
        {Receive703, {m("pA", {EOT, EOT}), m("pA", {EOT})}, Ack, Action::CountDown, {}},
        {Receive703, {m("p3", {EOT}), m("p2", {EOT}), m("p9", {EOT})}, Ack, Action::Reply, {}},
        {Receive703, {m("q", {EOT, '8'})}, Ack, Action::FramesOr, RefuseA9},
        {Receive703,
         {m("q", {EOT, '0'}), m("q", {EOT, '2'}), m("q", {EOT, NUL})},
         RefuseA9,
         Action::Reply,
         {}},
        {Receive703, {m("q", {EOT, EOT}), m("q", {EOT})}, Refuse, Action::Reply, {}},
        {Receive703, {}, Ack, Action::Name, {}},

        {Receive701, {m("pA", {EOT})}, Ack, Action::CountDown, {}},
        {Receive701, {m("p3", {EOT})}, m("p00", {EOT}), Action::Reply, {}},
        {Receive701, {m("q", {EOT})}, m("q00", {EOT}), Action::Reply, {}},
        {Receive701, {}, m("p00", {EOT}), Action::Name, {}},

        {Pair702, {m("pA", {EOT, EOT})}, Ack, Action::CountDown, {}},
        {Pair702, {m("p9", {EOT, EOT}), m("pq", {EOT, EOT})}, Ack, Action::Reply, {}},
        {Pair702, {m("p2", {EOT, EOT}), m("p3", {EOT, EOT})}, AckB8, Action::Reply, {}},
        {Pair702, {}, Ack, Action::Name, {}},

        {Pair709,
         {m("q", {EOT, '0'}), m("q", {EOT, ' '}), m("q", {EOT, EOT}), m("q", {EOT, STX}),
          m("q", {EOT, NUL})},
         Refuse,
         Action::Reply,
         {}},
        {Pair709, {m("p2", {EOT, EOT})}, AckB2, Action::Reply, {}},
        // "p9" is answered as "p3" is, as the other models do.
        {Pair709,
         {m("p3", {EOT, EOT}), m("q", {EOT, '8'}), m("p9", {EOT, EOT})},
         Ack,
         Action::Reply,
         {}},
        {Pair709, {m("q", {EOT, '2'})}, b({'q', '0', B8, H84}), Action::Reply, {}},
        {Pair709, {m("pA", {EOT, EOT})}, Ack, Action::CountDown, {}},
        {Pair709, {}, {}, Action::Name, {}},

        {Only712, {m("pA", {EOT, EOT})}, Ack, Action::CountDown, {}},
        {Only712, {m("p9", {EOT, EOT}), m("p3", {EOT, EOT})}, Ack, Action::Reply, {}},
        {Only712, {m("p2", {EOT, EOT})}, AckB2, Action::Reply, {}},
        {Only712,
         {m("q", {EOT, EOT}), m("q", {EOT, STX}), m("q", {EOT, NUL})},
         Refuse,
         Action::Reply,
         {}},
        {Only712, {}, Ack, Action::Name, {}},
    };
    return rules;
}

const Rule* FindRule(const QList<Rule>& rules, int model, const QByteArray& burst)
{
    for (const Rule& rule : rules) {
        if (!rule.models.contains(model))
            continue;
        if (rule.bursts.isEmpty() ? !burst.isEmpty() : rule.bursts.contains(burst))
            return &rule;
    }
    return nullptr;
}

const Model* FindModel(int codeCN)
{
    static const QList<Model> models = {
        {Short, FrameStyle::Short, 2, 2, Ack},        {Pair709, FrameStyle::WholeLine, 3, 3, Ack},
        {Only712, FrameStyle::Selected, 2, 2, AckB8}, {{702}, FrameStyle::Selected, 2, 2, AckB8},
        {{706}, FrameStyle::Selected, 2, 3, AckB8},
    };
    for (const Model& model : models)
        if (model.codes.contains(codeCN))
            return &model;
    return nullptr;
}

Transfer Transfer::ForSending(int model)
{
    Transfer t;
    t.model = model;
    if (const Model* m = FindModel(model))
        t.blocks = m->sendBlocks;
    return t;
}

Transfer Transfer::ForReceiving(int model)
{
    Transfer t;
    t.model = model;
    if (const Model* m = FindModel(model))
        t.blocks = m->receiveBlocks;
    return t;
}

namespace {

bool framed(FrameStyle style, const QByteArray& record)
{
    if (style == FrameStyle::Selected)
        return record.startsWith('1') || record.startsWith("31") || record.startsWith("32");
    if (record.startsWith('2') || record.startsWith("32"))
        return false;
    return record.startsWith('3') || record.startsWith('1');
}

} // namespace

QByteArray NextDataFrame(Transfer& t, RecordReader& program)
{
    const Model* model = FindModel(t.model);
    if (!model)
        return {};
    QByteArray line;
    while (program.readLine(line)) {
        if (line.trimmed().isEmpty())
            continue;
        if (line.trimmed() == Marker) {
            if (!t.marker) {
                t.marker = true;
                continue;
            }
            t.finished = true;
            return {};
        }
        if (!framed(model->frame, line))
            continue;
        const bool isShort = model->frame == FrameStyle::Short;
        t.lastBlock = isShort ? line.left(128) : line;
        return b({F0, '0', '0', isShort ? char(233) : H82}) + t.lastBlock + ETX +
               BlockChecksum(t.lastBlock) + H84;
    }
    return {};
}

QByteArray SendReply(Transfer& t, const QByteArray& burst, RecordReader& program)
{
    const Rule* rule = FindRule(SendRules(), t.model, burst);
    if (!rule)
        return {};
    switch (rule->action) {
    case Action::CountDown:
    case Action::CountDownOrStx:
        --t.blocks;
        if (t.blocks <= 0 ||
            (rule->action == Action::CountDownOrStx && burst.size() > 3 && burst[3] == STX))
            t.stop = true;
        return rule->reply;
    case Action::CountDownRewind:
        if (--t.blocks > 0)
            return rule->reply;
        if (t.lastBlock.startsWith("30000")) {
            // The control asks for the program again from its start.
            t.blocks = 2;
            t.marker = false;
            t.lastBlock.clear();
            program.rewind();
            return {};
        }
        t.stop = true;
        return rule->reply;
    case Action::EndOfProgram:
        if (program.atEnd()) {
            t.finished = true;
            return rule->other;
        }
        return rule->reply;
    case Action::NextFrame:
        return NextDataFrame(t, program);
    default:
        return rule->reply;
    }
}

Received ReceiveReply(Transfer& t, QByteArray burst)
{
    Received r;
    if (burst.startsWith(char(147))) {
        burst.replace(QByteArray(1, char(147)), {});
        burst.replace(QByteArray(1, char(17)), {});
    }
    if (const Rule* rule = FindRule(ReceiveRules(), t.model, burst)) {
        r.reply = rule->reply;
        switch (rule->action) {
        case Action::CountDown:
            if (--t.blocks <= 0)
                t.stop = true;
            break;
        case Action::FramesOr:
            if (t.frames == 0)
                r.reply = rule->other;
            break;
        case Action::Name:
            if (burst.size() < 20) {
                r.named = true;
                r.name = burst;
            }
            break;
        default:
            break;
        }
    }
    if (burst.size() > 6) {
        ++t.frames;
        qsizetype start = burst.indexOf("p1\x02");
        if (start < 0)
            start = burst.indexOf("P1\x02");
        const qsizetype etx = start < 0 ? -1 : burst.indexOf(ETX, start + 3);
        if (etx > start + 3) {
            r.record = burst.mid(start + 3, etx - start - 3);
            r.named = false;
            if (const Model* model = FindModel(t.model))
                r.reply = model->dataReply;
        }
    }
    return r;
}

} // namespace nodalis::mazatrol
