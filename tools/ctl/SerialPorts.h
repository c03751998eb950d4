#pragma once

#include <QTextStream>

namespace nodalis::ctl {

// `nodalisctl ports`: the serial devices of this PC, one per line: the name
// to put in PortName, whether it is free, busy or not ours to open, its
// description, maker and USB vendor:product. Returns the exit status.
int ListSerialPorts(QTextStream& out);

} // namespace nodalis::ctl
