#include "stream_rmap/rmap_command.h"

#include <new>
#include <utility>

void RmapPacketDeleter::operator()(unsigned char *packet) const
{
    if (packet != nullptr) {
        RMAP_FreeBuffer(packet);
    }
}

RmapCommand::~RmapCommand()
{
    // Everything this command links to is gathered into one chain through
    // the next links and released a command at a time; a repetition chain is
    // spliced in front when its loop comes up.  No recursion and no
    // allocation, whatever the length or the nesting.
    RmapCommandPtr pending = std::move(next);
    auto splice_children = [&pending](RmapCommand &command) {
        for (RmapCommandPtr &child : command.children) {
            if (!child) {
                continue;
            }
            RmapCommand *tail = child.get();
            while (tail->next) {
                tail = tail->next.get();
            }
            tail->next = std::move(pending);
            pending = std::move(child);
        }
        command.children.clear();
    };
    splice_children(*this);
    while (pending) {
        RmapCommandPtr current = std::move(pending);
        pending = std::move(current->next);
        splice_children(*current);
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

void CR_FreeCommand(RmapCommandPtr command) { command.reset(); }

void CR_FreeCommands(RmapCommandPtr chain)
{
    while (chain) {
        RmapCommandPtr following = std::move(chain->next);
        CR_FreeCommand(std::move(chain));
        chain = std::move(following);
    }
}

bool CR_ExpectsReply(const RmapCommand &command)
{
    return command.type == RMAP_COMMAND_READ || command.type == RMAP_COMMAND_READ_MODIFY_WRITE ||
           (command.type == RMAP_COMMAND_WRITE && command.acknowledge != 0);
}
