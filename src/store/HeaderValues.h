#pragma once

#include <QByteArray>
#include <QList>

namespace nodalis {

// The values of a program's header block.
struct HeaderValues
{
    bool read = false;        // the file was read (for a Hurco document: well-formed)
    QList<QByteArray> Fields; // by field number of RECORDFIELDS (element 0 unused)
    QByteArray Machine;       // the machine reference (RefCartoucheMO, else "MACHINE")
    QByteArray Call;          // the call reference (RefCartoucheAppel, else "ORVA")
    double CodeProg = 0;      // the program code (RefCartoucheCodeProg), 0 when absent
};

} // namespace nodalis
