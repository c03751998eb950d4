#pragma once

namespace nodalis {

// What the port engine hands every reception to, whatever was received:
// call resolution decides whether it is a call, an upload or noise.
class ReceivedDataExaminer
{
public:
    virtual ~ReceivedDataExaminer() = default;
    virtual void ExamineReceivedData() = 0;
};

} // namespace nodalis
