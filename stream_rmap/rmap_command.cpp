#include "stream_rmap/rmap_command.h"

#include <new>

void RmapPacketDeleter::operator()(unsigned char *packet) const
{
    if (packet != nullptr) {
        RMAP_FreeBuffer(packet);
    }
}

RmapCommandPtr CR_AllocateCommand(RmapCommandType type)
{
    RmapCommandPtr command(new (std::nothrow) RmapCommand);
    if (command) {
        command->type = type;
    }
    return command;
}

bool CR_ExpectsReply(const RmapCommand &command)
{
    return command.type == RMAP_COMMAND_READ || command.type == RMAP_COMMAND_READ_MODIFY_WRITE ||
           (command.type == RMAP_COMMAND_WRITE && command.acknowledge != 0);
}

// What one execution holds until the run ends: its place in the run, the
// device's bookkeeping of its send and reply read (erring large), and a
// reply's header; reply data is taken only as replies come.
std::uint64_t RunBytes(const RmapCommand &command)
{
    constexpr std::uint64_t kRun = 48, kTransfer = 64, kReplyHeader = 16;
    if (IsLoop(command)) {
        return 0;
    }
    return kRun + kTransfer + (CR_ExpectsReply(command) ? kTransfer + kReplyHeader : 0);
}
