#pragma once

#include "protocols/clsRS_ORVA.h"

#include <QByteArray>
#include <QObject>

#include <functional>

namespace nodalis {

class CallResolution;
class ClsAGIE;
class ClsConverHeid;
class PortEngine;
class ProgramSender;
class clsBoitierPTR;

// The controllers the channel reaches through devices of their own on its
// serial line: LSV2 (8, the conversation with a Heidenhain control, served
// in the server role and only announced in the client role; 15, program
// exchange with an AGIE control), the PTR box (16) and the serial push box
// (20, which sends through a push component). Each waits on the line as a
// listening cycle; S, E and the port's close end the wait.
class SerialControllers : public QObject
{
    Q_OBJECT

public:
    SerialControllers(PortEngine& engine, ProgramSender& sender, CallResolution& calls,
                      QObject* parent = nullptr);
    ~SerialControllers() override;

    // What the end of an AGIE exchange runs before listening again (the
    // host's stop of the transfer).
    void setStopTransfer(std::function<void()> stop) { m_stopTransfer = std::move(stop); }
    // Ends the wait or the push under way, if any.
    void Cancel();

private:
    void listenConversational();
    void listenAgie();
    void listenPtr();
    void InitRecepLSV2Agie();
    void InitRecepBoitierPTR();
    // Opens the port for an AGIE or box exchange: receiving, with its
    // event; false (the stop flag set when the port would not open) when
    // there is nothing to wait for.
    bool openForExchange(int event);
    // A program a control or a box asked for by name, made the send file;
    // false when it cannot be found.
    bool PrepareRequestedProgram(const QByteArray& name);
    void mLsv2AGIE_ReinitEcoute();
    bool pushSend();
    void releasePort();
    // A listening asked for while a wait runs replaces it once it is over.
    bool replacesRunningWait();
    // Waits on the line through the link; false when the line went away.
    template <typename Link> bool serve(Link& link, const std::function<void()>& wait);

    PortEngine& m_engine;
    CallResolution& m_calls;
    clsRS_ORVA m_push;
    std::function<void()> m_stopTransfer;
    ClsConverHeid* m_heid = nullptr;
    ClsAGIE* m_agie = nullptr;
    clsBoitierPTR* m_ptr = nullptr;
    bool m_waiting = false;
    bool m_listenAgain = false;
};

} // namespace nodalis
