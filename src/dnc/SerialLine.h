#pragma once

#include "startup/PortSettings.h"

#include <QByteArray>
#include <QString>

namespace nodalis {

class SerialControl;

// The serial line through the serial-port control.

// Text of a control error number (8000-8020); empty for others.
QString ControlErrorText(int number);

// Handshake value given to the control for a flow-control mode.
int HandshakeOf(int flowMode);

// Line condition before each block for a flow-control mode, from the
// control's CTSHolding and DSRHolding; unknown modes are never ready.
bool LineReadyFor(int flowMode, bool cts, bool dsr);

// Configures the control from the record (listening or sending speed and
// flow control) and opens it; event 100 on success, 108 on failure (naming
// the device when it is missing, busy or refuses us).
bool OpenControlPort(SerialControl& control, const PortSettings& record, bool forSending);

// The configuration step of OpenControlPort: 0, or the control's error number.
int FNControlCom232(SerialControl& control, const PortSettings& record, bool forSending);

// Writes the text in pieces of OutBufferSize bytes.
void WriteText(SerialControl& control, const QByteArray& text);

bool IsLineReady(const SerialControl& control, int flowMode);

// Closes the port: no receive events, RTS and DTR off, then closed.
void ReleaseSerialPort(SerialControl& control);

} // namespace nodalis
