#pragma once

#include <QObject>

namespace nodalis {

class CallResolution;
class PortEngine;
class ProgramSender;

// A Mazak control reached by its conversational handshake over RS-232
// (method 5): listening receives its uploads and calls, sending answers its
// requests from the program file. One exchange at a time; S, E and the
// port's close end it.
class MazatrolLink : public QObject
{
    Q_OBJECT

public:
    MazatrolLink(PortEngine& engine, ProgramSender& sender, CallResolution& calls,
                 QObject* parent = nullptr);

    // Ends the exchange under way, if any.
    void Cancel() { m_cancel = true; }

private:
    void listen();
    bool send();
    void releasePort();
    // False, with its event, for a model without a handler.
    bool knownModel();

    PortEngine& m_engine;
    ProgramSender& m_sender;
    CallResolution& m_calls;
    bool m_cycleRunning = false;
    bool m_takenOver = false; // a send took the line from the listening
    bool m_listenAgain = false;
    bool m_cancel = false;
    int m_modelTold = 0;
};

} // namespace nodalis
