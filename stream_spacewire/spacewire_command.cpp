#include "stream_spacewire/spacewire_command.h"

// What one execution holds until the run ends: its place in the run and the
// device's bookkeeping of its transfer (erring large).  A receive's buffers
// are taken as it runs, one receive at a time.
std::uint64_t RunBytes(const SpaceWireCommand &command)
{
    constexpr std::uint64_t kRun = 40, kTransfer = 64;
    return IsLoop(command) ? 0 : kRun + kTransfer;
}
