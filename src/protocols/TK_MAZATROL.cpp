#include "protocols/TK_MAZATROL.h"

#include "dnc/ControlProtocol.h"
#include "dnc/EventMessages.h"
#include "dnc/InfoNotifier.h"
#include "dnc/LineFiles.h"
#include "dnc/PortState.h"
#include "dnc/ProgramSender.h"
#include "dnc/ReceptionFile.h"
#include "dnc/SerialLine.h"
#include "dnc/ServerView.h"
#include "platform/AnsiText.h"
#include "platform/Clock.h"
#include "platform/SerialControl.h"
#include "startup/AppPaths.h"
#include "startup/IniValue.h"
#include "startup/Settings.h"
#include "store/FileUtils.h"

#include <QDateTime>
#include <QDir>

namespace nodalis::mazatrol {

namespace {

RecordHeader& receivedHeader()
{
    static RecordHeader header;
    return header;
}

// TimeOut below one second would end every message at its first poll.
qint64 silenceMs()
{
    return qint64(qMax(1, int(Config().Port.TimeOut))) * 1000;
}

QByteArray shortened(const QByteArray& text)
{
    return text.size() >= 10 ? text.left(10) + "..." : text;
}

void showBurst(const QByteArray& burst)
{
    if (burst.size() >= 10)
        View().setBlockDisplay(shortened(burst));
    SetStatus(413, {shortened(burst)}, true);
}

void writeReply(Line& line, const QByteArray& reply, bool sending)
{
    if (reply.isEmpty())
        return;
    line.Write(reply);
    if (sending && reply.size() >= 10) {
        View().setBlockDisplay(shortened(reply));
        SetStatus(410, {shortened(reply)}, true);
    } else {
        SetStatus(410, {reply}, true);
    }
}

// The records of a reception, in the reception file as they come; what it
// cannot take is kept aside and never dropped.
class ReceivedRecords
{
public:
    ReceivedRecords() { m_opened = m_file.open(); }

    void add(const QByteArray& bytes)
    {
        if (m_opened && !m_file.failed() && m_kept.isEmpty()) {
            m_file.write(bytes);
            m_file.flush();
            if (!m_file.failed())
                return;
        }
        m_kept += bytes;
    }

    // True when the reception file holds every record.
    bool close()
    {
        const bool whole = m_opened && m_file.close() && m_kept.isEmpty();
        if (!m_kept.isEmpty())
            keepAside();
        return whole;
    }

private:
    void keepAside()
    {
        MakeFolders(Paths().tempFolder);
        const QString path = TempFilePath(
            QStringLiteral("Mazatrol_(") +
            QDateTime::currentDateTime().toString(QStringLiteral("dd-MM-yy_hh'h'mm'min'ss's'zzz")) +
            QStringLiteral(").txt"));
        QString error;
        std::unique_ptr<TextSink> sink = OpenFileSink(path, error);
        const bool ok = sink && sink->write(m_kept) && sink->close();
        if (sink && !ok)
            error = sink->error();
        SetStatusWithReason(713, toAnsi(QDir::toNativeSeparators(path) +
                                        (ok ? QString() : QStringLiteral(" : ") + error)));
    }

    ReceptionFile m_file;
    bool m_opened = false;
    QByteArray m_kept;
};

} // namespace

const RecordHeader& ReceivedHeader()
{
    return receivedHeader();
}

SerialBurstLine::SerialBurstLine(SerialControl& port, std::function<bool()> stopped)
    : m_port(port), m_stopped(std::move(stopped)), m_line(port)
{
    m_port.setInputLen(0);
    m_port.setRThreshold(0);
}

SerialBurstLine::~SerialBurstLine() = default;

bool SerialBurstLine::lost() const
{
    return m_line.gone();
}

QByteArray SerialBurstLine::ReadBurst()
{
    QByteArray burst;
    qint64 last = Clock::nowMs();
    const qint64 silence = silenceMs();
    for (;;) {
        if (m_port.InBufferCount() > 0) {
            const qsizetype from = burst.size();
            burst += m_port.Input();
            last = Clock::nowMs();
            const QByteArrayView added = QByteArrayView(burst).sliced(from);
            if (added.contains(EOT) || added.contains(H84))
                return burst;
            if (burst.size() >= MaxBurstBytes) {
                TellBurstCut(m_cutTold);
                return burst;
            }
        }
        if (m_stopped() || lost() || Clock::nowMs() - last >= silence)
            return burst;
        Pause(PollMs);
    }
}

void SerialBurstLine::Write(const QByteArray& reply)
{
    m_cutTold = false;
    WriteText(m_port, reply);
}

bool SendLoop(Line& line, const QString& program, int codeCN, const std::function<bool()>& stopped)
{
    RecordReader records;
    if (!records.open(program)) {
        SetStatusWithReason(907, toAnsi(QDir::toNativeSeparators(program)));
        return false;
    }
    Transfer t = Transfer::ForSending(codeCN);
    SetStatus(402);
    const qint32 timeOutEnvoi = Config().Port.TimeOutEnvoi;
    qint64 last = Clock::nowMs();
    while (!t.stop && !stopped()) {
        if (line.lost())
            return false;
        const QByteArray burst = line.ReadBurst();
        if (!burst.isEmpty()) {
            showBurst(burst);
            last = Clock::nowMs();
        } else if (timeOutEnvoi >= 1 && Clock::secondsSince(last) > timeOutEnvoi) {
            SetStatus(109);
            return false;
        }
        writeReply(line, SendReply(t, burst, records), true);
        if (t.finished)
            return true;
        Pause(SerialBurstLine::PollMs);
    }
    return false;
}

ReceiveOutcome ReceiveLoop(Line& line, int codeCN, const std::function<bool()>& stopped)
{
    const bool markers = !Config().NotUseXVB;
    Transfer t = Transfer::ForReceiving(codeCN);
    ReceivedRecords records;
    ReceiveOutcome outcome;
    bool announced = false;
    bool data = false;
    qint64 last = 0;
    while (!t.stop && !stopped() && !line.lost()) {
        const QByteArray burst = line.ReadBurst();
        if (!burst.isEmpty()) {
            showBurst(burst);
            if (!announced) {
                announced = true;
                Channel().channelState = ChannelReceiving;
                SendInfoMessage(BuildInfoMessage("{a}", {"1"}), 0);
            }
        }
        const Received r = ReceiveReply(t, burst);
        if (r.named)
            SetStatus(705, {r.name});
        if (!r.record.isEmpty()) {
            // The file starts with its marker once there is a program.
            if (outcome.records++ == 0 && markers)
                records.add(Marker + CrLf);
            records.add(r.record + CrLf);
            if (markers && r.record.startsWith('2'))
                records.add(Marker + CrLf);
        }
        writeReply(line, r.reply, false);
        if (!burst.trimmed().isEmpty()) {
            data = true;
            last = Clock::nowMs();
        }
        if (data && Clock::nowMs() - last > silenceMs())
            break;
        Pause(SerialBurstLine::PollMs);
    }
    outcome.written = records.close();
    return outcome;
}

bool PreTreatment(const QString& sendFile, ProgramSender& sender, QString& toSend)
{
    const Settings& s = Config();
    MakeFolders(Paths().tempFolder);
    toSend = TempFilePath(QStringLiteral("TT_PreTTMazatrol.txt"));
    DeleteFile(toSend);
    if (!CopyFile(sendFile, toSend)) {
        SetStatus(505);
        return false;
    }
    sender.PreSendSteps(toSend, s.FiltreCarSpec);
    SetStatus(405);
    switch (IdentifyProgram(toSend)) {
    case ProgramKind::Mazatrol:
        SetStatus(408);
        return true;
    case ProgramKind::Hybrid:
        SetStatus(407);
        return true;
    case ProgramKind::Iso:
        break;
    }
    SetStatus(409);
    const QString converted = TempFilePath(QStringLiteral("TT_IsoToMazatrol.txt"));
    const IsoResult result = IsoToMazatrol(toSend, converted);
    if (!s.Port.ConvertMazIso)
        return true;
    switch (result) {
    case IsoResult::Done:
        Pause(300);
        if (ReplaceByResult(toSend, converted)) {
            SetStatus(412);
            return true;
        }
        SetStatus(999, {ansi(u"Le programme converti en Mazatrol n'a pu remplacer le fichier à "
                             u"envoyer")});
        return false;
    case IsoResult::TooLong:
        SetStatus(999, {ansi(u"Programme trop long pour le Mazatrol (plus de 255 "
                             u"enregistrements de texte) : envoi refusé")});
        return false;
    case IsoResult::NoProgramLine:
        SetStatus(999,
                  {ansi(u"Programme ISO sans ligne O : conversion vers le Mazatrol impossible")});
        return false;
    case IsoResult::BadNumber:
        SetStatus(999, {ansi(u"Numéro de programme trop grand pour le Mazatrol (plus de 65535) "
                             u": envoi refusé")});
        return false;
    case IsoResult::Unreadable:
        SetStatus(999, {ansi(u"Programme à envoyer vide ou illisible : conversion vers le "
                             u"Mazatrol impossible")});
        return false;
    case IsoResult::WriteFailed:
        break;
    }
    SetStatus(999, {ansi(u"Conversion vers le Mazatrol impossible : écriture du fichier "
                         u"converti en échec")});
    return false;
}

QByteArray PostTreatment(const QString& receptionFile, int codeCN)
{
    receivedHeader() = {};
    MakeFolders(Paths().tempFolder);
    const QString post = TempFilePath(QStringLiteral("TT_PostTTMazatrol.txt"));
    DeleteFile(post);
    if (!CopyFile(receptionFile, post))
        return {};
    SetStatus(406);
    switch (IdentifyProgram(post)) {
    case ProgramKind::Mazatrol: {
        SetStatus(408);
        receivedHeader() = ReadRecordHeaders(post, codeCN);
        const RecordHeader& header = receivedHeader();
        if (!header.found || header.number != 8888)
            return {};
        QByteArray reference = TrimSpaces(Config().RefCartoucheAppel).toUpper();
        if (reference.isEmpty())
            reference = "ORVA";
        reference += ' ';
        const qsizetype at = header.name.toUpper().indexOf(reference);
        return at < 0 ? QByteArray() : TrimSpaces(header.name.mid(at + reference.size()));
    }
    case ProgramKind::Hybrid: {
        SetStatus(407);
        receivedHeader() = ReadRecordHeaders(post, codeCN);
        const QString iso = TempFilePath(QStringLiteral("TT_MazatrolToIso.txt"));
        if (MazatrolToIso(post, iso, codeCN) && Config().Port.ConvertMazIso) {
            Pause(300);
            if (ReplaceByResult(receptionFile, iso))
                SetStatus(411);
        }
        return {};
    }
    case ProgramKind::Iso:
        SetStatus(409);
        return {};
    }
    return {};
}

} // namespace nodalis::mazatrol
