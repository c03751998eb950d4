#pragma once

#include <QByteArray>

namespace nodalis {

class SerialControl;

// What a machine's own way of sending adds to the polled reception cycle:
// a wake-up before the program, and a step around each chunk received.
// The cycle itself (reception file, BOR and EOR, stop, take-over, silence,
// the unfinished last line) stays the engine's.
class ReceptionSteps
{
public:
    virtual ~ReceptionSteps() = default;

    // Reads what the machine says before its program; true once it has
    // announced it (the cycle then waits for data without a time limit).
    virtual bool awake(SerialControl& com) = 0;
    // Data is waiting on the line, not read yet.
    virtual void beforeChunk(SerialControl& com) = 0;
    // The text received and not yet written, the new chunk included.
    virtual void onChunk(const QByteArray& pending) = 0;
    // The chunk's complete lines are in the reception file.
    virtual void afterChunk() = 0;
};

} // namespace nodalis
