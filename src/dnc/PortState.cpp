#include "dnc/PortState.h"

namespace nodalis {

void PortState::reset()
{
    programText.clear();
    percentage = 0;
    currentTransfer = {};
    channelState = ChannelIdle;
}

} // namespace nodalis
