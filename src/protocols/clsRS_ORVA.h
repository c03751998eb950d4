#pragma once

#include "platform/PushComponent.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

namespace nodalis {

class PortEngine;
class ProgramSender;

// Sends programs through a serial push component (Methode 20): the channel
// lets go of its port, sets the component up with the channel's line and
// hands it the file.
class clsRS_ORVA
{
public:
    using Factory = std::function<std::unique_ptr<PushComponent>()>;

    // Parity letter to the component's code: E 2, O 1, anything else 0.
    static qint32 ParityCode(const QByteArray& letter);

    clsRS_ORVA(PortEngine& engine, ProgramSender& sender, Factory factory);

    void RS_ORVA_Cancel();
    void RS_ORVA_Init(qint16 port, qint32 baud, qint16 flow, qint16 dataBits, qint16 stopBits,
                      const QByteArray& parity);
    // Prepares the file and pushes it; returns once it is on the wire.
    // success tells whether the component pushed it whole (107 with its
    // words when not).
    void RS_ORVA_SendProg(const QString& path, bool& success);

    bool pushing() const { return m_pushing; }

private:
    PortEngine& m_engine;
    ProgramSender& m_sender;
    Factory m_factory;
    std::unique_ptr<PushComponent> m_component;
    bool m_pushing = false;
};

} // namespace nodalis
