#pragma once

#include "dnc/MethodTable.h"
#include "dnc/ReceptionFile.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

namespace nodalis {

class ReceivedDataExaminer;
class ReceptionSteps;
class SerialControl;

// The DNC port: the method table, the port state and the listening cycle
// (open the line, wait for the machine, end the transmission on silence,
// hand the reception over, listen again).
class PortEngine : public QObject
{
    Q_OBJECT

public:
    // Interval of the relaunch timer (server time).
    static constexpr int RelaunchMs = 30000;
    // Pause before listening again when the reception file cannot be written.
    static constexpr int RetryMs = 3000;
    // Step at which a listening time-out (whole seconds) is looked at.
    static constexpr int ListenTimeOutStepMs = 1000;

    explicit PortEngine(SerialControl& comDNC, QObject* parent = nullptr);
    ~PortEngine() override;

    void setExaminer(ReceivedDataExaminer* examiner) { m_examiner = examiner; }
    MethodTable& methods() { return m_methods; }
    SerialControl& comDNC() { return m_com; }

    // Opens the line of the current method and starts one listening cycle.
    void StartListening();
    // The same from the event loop, once no other work runs.
    void StartListeningSoon();
    // Ends a transaction on the line side; listens again in listening mode.
    void ReturnToListening();
    // Closes the line of the current method.
    void ClosePort();
    // Stores the state (unless -1) and announces it with {a}.
    void SetPortState(int state);

    // The relaunch timer (TimerRecept) that restarts an idle listening port.
    void setRelaunchEnabled(bool on);
    bool relaunchEnabled() const { return m_relaunch.isActive(); }

    // The window is closing: a reception that ends now does not listen again.
    void setShuttingDown(bool on) { m_shuttingDown = on; }

    bool isCycleRunning() const { return m_cycleRunning; }

    // A send takes the line over: an armed event-driven reception is ended
    // first, a running polled cycle gives the line up without examining.
    void TakeOverLine();
    // Clears the first-data, silence and event-reception flags.
    void ClearReceptionFlags();

    // For a transport that runs its own listening cycle: hands the
    // reception over to call resolution; or, when the reception file could
    // not be written, ends the cycle without examining anything and listens
    // again after a pause.
    void Examine() { examine(); }
    void ReceptionBlocked() { receptionBlocked(); }
    bool isEventReceptionArmed() const { return m_eventReception; }
    // The line of the method could not be opened: the event, {g} and the stop flag.
    void OpenFailed(int event);

private:
    void plugSerialMethods();
    void listenSerial();
    void listenLibrary();
    // One listening cycle read by polling; steps add a machine's own
    // exchange (none: the plain reception). False when a stop or a send
    // ended it.
    bool PolledReception(ReceptionSteps* steps);
    void StartEventReception();
    void EndEventReception();
    void keepEventInput(const QByteArray& bytes);
    void OnComm();
    void InactivityTimeout();
    void RelaunchTick();
    bool LibraryReception();
    void examine();
    void cycleOver();
    void endEventCycle();
    void endEventCycleSoon();
    // The reception file could not be written: the cycle ends without
    // examining anything and the next one starts after a pause.
    void receptionBlocked();
    void sendCharList(const QByteArray& list);

    SerialControl& m_com;
    MethodTable m_methods;
    ReceivedDataExaminer* m_examiner = nullptr;
    QTimer m_timRS232;
    QTimer m_relaunch;
    bool m_firstData = false;
    bool m_silence = false;
    bool m_eventReception = false;
    QByteArray m_eventBuffer; // the reception's first characters, for the display
    ReceptionFile m_eventFile;
    bool m_cycleRunning = false;
    bool m_lineTakenOver = false;
    bool m_listenAfterCycle = false; // a restart asked for while a cycle ran
    bool m_listenPosted = false;
    bool m_blocked = false; // the last cycle could not write its reception
    QTimer m_retry;
    bool m_shuttingDown = false;
    int m_returns = 0;
};

} // namespace nodalis
