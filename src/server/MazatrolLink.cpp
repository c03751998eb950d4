#include "server/MazatrolLink.h"

#include "dnc/CallResolution.h"
#include "dnc/EventMessages.h"
#include "dnc/PortEngine.h"
#include "dnc/PortState.h"
#include "dnc/ProcessState.h"
#include "dnc/ProgramSender.h"
#include "dnc/SerialLine.h"
#include "dnc/UploadStorage.h"
#include "platform/AnsiText.h"
#include "platform/SerialControl.h"
#include "protocols/TK_MAZATROL.h"
#include "startup/AppPaths.h"
#include "startup/Settings.h"

#include <QDir>

#include <cstdio>

namespace nodalis {

MazatrolLink::MazatrolLink(PortEngine& engine, ProgramSender& sender, CallResolution& calls,
                           QObject* parent)
    : QObject(parent), m_engine(engine), m_sender(sender), m_calls(calls)
{
    PortMethod method;
    method.listen = [this] { listen(); };
    method.send = [this] { return send(); };
    method.close = [this] {
        Cancel();
        releasePort();
    };
    method.returnToListening = [this] { releasePort(); };
    m_engine.methods().plug({5}, method);
}

void MazatrolLink::releasePort()
{
    ReleaseSerialPort(m_engine.comDNC());
}

bool MazatrolLink::knownModel()
{
    const int model = Config().CodeCN;
    if (mazatrol::FindModel(model))
        return true;
    // Said once per model, not at every listening cycle.
    if (m_modelTold != model) {
        m_modelTold = model;
        if (model == 711) {
            std::fputs("nodalis: CodeCN 711 has no Mazatrol handler: the control gets no "
                       "answer\n",
                       stderr);
        } else {
            SetStatus(999, {"CodeCN " + QByteArray::number(model) +
                            ansi(u" : modèle Mazatrol inconnu, la machine ne reçoit aucune "
                                 u"réponse")});
        }
    }
    return false;
}

void MazatrolLink::listen()
{
    // One cycle at a time; one asked for meanwhile starts after it.
    if (m_cycleRunning) {
        m_listenAgain = true;
        return;
    }
    SerialControl& com = m_engine.comDNC();
    if (!OpenControlPort(com, Config().Port, false))
        return m_engine.OpenFailed(403);
    knownModel();
    m_cycleRunning = true;
    m_takenOver = false;
    m_listenAgain = false;
    m_cancel = false;
    m_engine.SetPortState(ChannelListening);
    SetStatus(404);
    const auto stopped = [this] { return State().stopRequested || m_takenOver || m_cancel; };
    mazatrol::SerialBurstLine line(com, stopped);
    const mazatrol::ReceiveOutcome received = mazatrol::ReceiveLoop(line, Config().CodeCN, stopped);
    m_cycleRunning = false;
    if (m_takenOver) {
        // The send that took the line over returns to listening itself.
        m_takenOver = false;
        if (m_listenAgain) {
            m_listenAgain = false;
            m_engine.StartListeningSoon();
        }
        return;
    }
    if (line.lost()) {
        // The relaunch timer opens the line again once it is back.
        releasePort();
        m_engine.SetPortState(ChannelIdle);
    }
    if (!received.written) {
        m_engine.ReceptionBlocked();
    } else if (State().stopRequested) {
        // A stop does not examine what came: it is kept aside, not lost to
        // the next reception, and the transaction is reset.
        if (received.records > 0) {
            const QString kept = KeepReceptionCopy();
            LogLine(kept.isEmpty() ? ansi(u"Réception interrompue : la copie a échoué")
                                   : ansi(u"Réception interrompue, gardée dans ") +
                                         toAnsi(QDir::toNativeSeparators(kept)));
        }
        m_engine.Examine();
    } else {
        if (received.records > 0) {
            m_calls.setTableCall(mazatrol::PostTreatment(Paths().receptionFile, Config().CodeCN));
            // The program is known by its record headers.
            if (const mazatrol::RecordHeader& header = mazatrol::ReceivedHeader(); header.found) {
                Channel().receivedNumber = QByteArray::number(header.number);
                Channel().receivedName = header.name;
            }
            // Records left as they came hold bare LFs that filters would break.
            Channel().receivedVerbatim =
                mazatrol::IdentifyProgram(Paths().receptionFile) != mazatrol::ProgramKind::Iso;
        }
        m_engine.Examine();
        Channel().receivedNumber.clear();
        Channel().receivedName.clear();
        Channel().receivedVerbatim = false;
    }
    m_listenAgain = false;
    if (!line.lost())
        m_engine.ReturnToListening();
}

bool MazatrolLink::send()
{
    if (m_cycleRunning)
        m_takenOver = true;
    m_cancel = false;
    SerialControl& com = m_engine.comDNC();
    if (!OpenControlPort(com, Config().Port, true)) {
        m_engine.OpenFailed(403);
        return false;
    }
    QString program;
    const auto stopped = [this] { return State().stopRequested || m_cancel; };
    bool sent = false;
    if (knownModel() && mazatrol::PreTreatment(Paths().sendFile, m_sender, program)) {
        mazatrol::SerialBurstLine line(com, stopped);
        sent = mazatrol::SendLoop(line, program, Config().CodeCN, stopped);
    }
    com.setRThreshold(1);
    if (!sent)
        m_sender.SendFailed();
    return sent;
}

} // namespace nodalis
