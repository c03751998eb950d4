#pragma once

#include <QByteArray>
#include <QObject>

#include <functional>
#include <memory>

namespace nodalis {

class CallResolution;
class ClsAGIE;
class ClsConverHeid;
class PortEngine;

// The channel's LSV2 methods on its serial line: 8, the conversation with a
// Heidenhain control (served in the server role, announced only in the
// client role), and 15, program exchange with an AGIE control. Each waits
// on the line as a listening cycle; S, E and the port's close end the wait.
class Lsv2Channel : public QObject
{
    Q_OBJECT

public:
    Lsv2Channel(PortEngine& engine, CallResolution& calls, QObject* parent = nullptr);
    ~Lsv2Channel() override;

    // What the end of an AGIE exchange runs before listening again (the
    // host's stop of the transfer).
    void setStopTransfer(std::function<void()> stop) { m_stopTransfer = std::move(stop); }
    // Ends the wait under way, if any.
    void Cancel();

private:
    void listenConversational();
    void listenAgie();
    void InitRecepLSV2Agie();
    void mLsv2AGIE_FindThisProg(const QByteArray& name);
    void mLsv2AGIE_ReinitEcoute();
    void close();
    // A listening asked for while a wait runs replaces it once it is over.
    bool replacesRunningWait();
    template <typename Link> void serve(Link& link);

    PortEngine& m_engine;
    CallResolution& m_calls;
    std::function<void()> m_stopTransfer;
    ClsConverHeid* m_heid = nullptr;
    ClsAGIE* m_agie = nullptr;
    bool m_waiting = false;
    bool m_listenAgain = false;
};

} // namespace nodalis
