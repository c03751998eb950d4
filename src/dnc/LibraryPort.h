#pragma once

#include "startup/PortSettings.h"

#include <QByteArray>

namespace nodalis {

// The serial line through the serial library.

// The library's settings, filled from the port settings before each opening.
struct LibrarySettings
{
    qint32 port = 0;
    qint16 baudCode = 0;
    qint16 parityCode = 0;
    qint16 dataBitsCode = 0;
    qint16 stopBitsCode = 0;
    qint16 speedIndex = 0;
    qint16 parityIndex = 0;
    qint16 dataBitsIndex = 0;
    qint16 stopBitsIndex = 0;
    qint16 hardwareFlow = 0;
    qint16 softwareFlow = 0;
    qint16 dtr = 1;
    qint16 rts = 1;
};

// Run-time state of the library port.
struct LibraryPortState
{
    bool open = false;
    bool cts = false;
    bool dsr = false;
    bool ring = false;
    bool carrier = false;
    LibrarySettings settings;
    QByteArray operation; // the library call being made, named in its error event
};

LibraryPortState& LibraryPort();

// The settings of a record, with the given speed text (trimmed before lookup).
LibrarySettings LibrarySettingsFor(const PortSettings& record, const QByteArray& speed);

bool OpenLibraryPort(const PortSettings& record, bool forSending);
bool CloseLibraryPort();
bool IsLibraryLineReady();

// Logs the event of a library code (210-220), naming the failing call
// stored in the second event parameter.
void ReportLibraryError(int code, int systemError);

// Stores the name of the library call about to be made, for error events.
void SetLibraryOperation(const char* text);

} // namespace nodalis
