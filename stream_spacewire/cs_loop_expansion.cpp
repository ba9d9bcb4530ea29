#include "stream_spacewire/cs_loop_expansion.h"

#include <cstdint>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "common/expansion_limit.h"

namespace {

void ReportNotEnoughCommands(const SpaceWireCommand &loop)
{
    std::printf("Not enough commands present for loop command %d\n", loop.number);
}

bool IsExpandable(const SpaceWireCommand &command)
{
    return command.type == SPACEWIRE_COMMAND_LOOP && command.number_to_repeat > 0;
}

// Allocates the children of a loop, all empty.
bool AllocateChildren(SpaceWireCommand &loop, std::size_t count)
{
    try {
        loop.children.resize(count);
    } catch (const std::bad_alloc &) {
        return false;
    } catch (const std::length_error &) {
        return false;
    }
    return true;
}

// A loop with times_to_repeat 0: its body, counted with nested loops and
// their bodies as one command each, is cut out and released.
bool DropBody(SpaceWireCommand &loop)
{
    if (loop.number_to_repeat < 0 || !loop.next) {
        ReportNotEnoughCommands(loop);
        return false;
    }
    // Wide enough that nested counts up to 2^31 each cannot overflow it.
    std::int64_t remaining = loop.number_to_repeat;
    SpaceWireCommand *last = nullptr;
    for (SpaceWireCommand *command = loop.next.get(); remaining > 0; command = command->next.get()) {
        if (command == nullptr) {
            ReportNotEnoughCommands(loop);
            return false;
        }
        if (command->type == SPACEWIRE_COMMAND_LOOP) {
            remaining += command->number_to_repeat;
        }
        --remaining;
        last = command;
    }
    if (remaining < 0) {
        ReportNotEnoughCommands(loop);
        return false;
    }
    SpaceWireCommandList body = std::move(loop.next);
    loop.next = std::move(last->next);
    CS_FreeCommands(body);
    return true;
}

// What one copy of a record takes, with room for the allocator's own
// bookkeeping, so that the estimate errs on the large side.
std::uint64_t RecordBytes(const SpaceWireCommand &command)
{
    return 2 * (sizeof(SpaceWireCommand) + command.data.size() + command.filename.size());
}

// The loop whose repetitions would not fit in memory, found before anything
// is expanded; null when the whole list fits.
const SpaceWireCommand *FindOversizedLoop(const SpaceWireCommand *list)
{
    ExpansionSizer sizer(ExpansionMemoryLimit());
    for (const SpaceWireCommand *command = list; command != nullptr && sizer.oversized() == nullptr;
         command = command->next.get()) {
        if (command->type == SPACEWIRE_COMMAND_LOOP) {
            sizer.AddLoop(RecordBytes(*command), static_cast<std::uint64_t>(std::max(command->number_to_repeat, 0)),
                          static_cast<std::uint64_t>(std::max(command->times_to_repeat, 0)), command);
        } else {
            sizer.AddCommand(RecordBytes(*command), command);
        }
    }
    return static_cast<const SpaceWireCommand *>(sizer.oversized());
}

// A loop with times_to_repeat above 0 whose body is being counted.
struct BodyWalk {
    SpaceWireCommand *loop;
    SpaceWireCommand *current; // the body command being counted
    std::int32_t counted;      // body commands passed before current
    bool current_expanded;     // current is a loop whose own expansion has finished
};

bool BeginBodyWalk(SpaceWireCommand &loop, std::vector<BodyWalk> &walks)
{
    if (!loop.next) {
        ReportNotEnoughCommands(loop);
        return false;
    }
    walks.push_back(BodyWalk{&loop, loop.next.get(), 0, false});
    return true;
}

// The body ends at last: it is cut out into children[0] and copied into the
// other children.
bool FinishBody(SpaceWireCommand &loop, SpaceWireCommand &last)
{
    SpaceWireCommandList body = std::move(loop.next);
    loop.next = std::move(last.next);
    const auto times = static_cast<std::uint64_t>(loop.times_to_repeat);
    if (!AllocateChildren(loop, static_cast<std::size_t>(times))) {
        std::printf("Could not allocate memory for children of loop command %d\n", loop.number);
        // The body goes back where it was, so the list stays whole.
        last.next = std::move(loop.next);
        loop.next = std::move(body);
        return false;
    }
    loop.children[0] = std::move(body);
    for (std::size_t repetition = 1; repetition < loop.children.size(); ++repetition) {
        if (!CS_CopyList(loop.children[repetition], loop.children[0].get())) {
            return false;
        }
    }
    return true;
}

// Expands one loop whose number_to_repeat is above 0, with every loop of its
// body, using an explicit stack of the loops whose bodies are being counted.
bool ExpandLoop(SpaceWireCommand &outermost)
{
    if (outermost.times_to_repeat == 0) {
        return DropBody(outermost);
    }
    std::vector<BodyWalk> walks;
    if (!BeginBodyWalk(outermost, walks)) {
        return false;
    }
    while (!walks.empty()) {
        BodyWalk &walk = walks.back();
        SpaceWireCommand &command = *walk.current;
        if (!walk.current_expanded && IsExpandable(command)) {
            walk.current_expanded = true;
            if (command.times_to_repeat == 0) {
                if (!DropBody(command)) {
                    return false;
                }
            } else {
                // Counted once its own body is done; walk may move in the vector.
                if (!BeginBodyWalk(command, walks)) {
                    return false;
                }
                continue;
            }
        }
        if (++walk.counted == walk.loop->number_to_repeat) {
            SpaceWireCommand &loop = *walk.loop;
            walks.pop_back();
            if (!FinishBody(loop, command)) {
                return false;
            }
            // An enclosing walk now counts this loop as one command.
            continue;
        }
        if (!command.next) {
            ReportNotEnoughCommands(*walk.loop);
            return false;
        }
        walk.current = command.next.get();
        walk.current_expanded = false;
    }
    return true;
}

// A copy of one record, without its next and children and without any
// execution state; nothing after printing the message.
SpaceWireCommandList CopyRecord(const SpaceWireCommand &source)
{
    SpaceWireCommandList copy(new (std::nothrow) SpaceWireCommand(source.type, source.number));
    if (!copy) {
        std::printf("Error, couldn't allocate memory for copied command %d\n", source.number);
        return nullptr;
    }
    copy->packet_count = source.packet_count;
    switch (source.type) {
    case SPACEWIRE_COMMAND_SEND:
        copy->data_length = source.data_length;
        copy->end_with_eep = source.end_with_eep;
        try {
            copy->data = source.data;
        } catch (const std::bad_alloc &) {
            std::printf("Error, couldn't allocate memory for copied send command %d's data\n", source.number);
            return nullptr;
        }
        break;
    case SPACEWIRE_COMMAND_RECEIVE:
        copy->packet_length = source.packet_length;
        try {
            copy->filename = source.filename;
        } catch (const std::bad_alloc &) {
            std::printf("Error, couldn't allocate memory for copied read command %d's filename\n", source.number);
            return nullptr;
        }
        break;
    case SPACEWIRE_COMMAND_LOOP:
        copy->number_to_repeat = source.number_to_repeat;
        copy->times_to_repeat = source.times_to_repeat;
        if (!AllocateChildren(*copy, source.children.size())) {
            std::printf("Could not allocate memory for children of copied loop command %d\n", source.number);
            return nullptr;
        }
        break;
    }
    return copy;
}

// One list still to be copied: the source chain and where its copy goes.
struct PendingCopy {
    const SpaceWireCommand *source;
    SpaceWireCommandList *destination;
};

bool CopyChains(std::vector<PendingCopy> &pending)
{
    while (!pending.empty()) {
        const PendingCopy chain = pending.back();
        pending.pop_back();
        SpaceWireCommandList *tail = chain.destination;
        for (const SpaceWireCommand *source = chain.source; source != nullptr; source = source->next.get()) {
            SpaceWireCommandList copy = CopyRecord(*source);
            if (!copy) {
                return false;
            }
            // The children's slots stay where they are when the record moves.
            for (std::size_t repetition = 0; repetition < source->children.size(); ++repetition) {
                pending.push_back(PendingCopy{source->children[repetition].get(), &copy->children[repetition]});
            }
            *tail = std::move(copy);
            tail = &(*tail)->next;
        }
    }
    return true;
}

} // namespace

bool CS_CopyList(SpaceWireCommandList &copy, const SpaceWireCommand *source)
{
    copy.reset();
    std::vector<PendingCopy> pending;
    try {
        pending.push_back(PendingCopy{source, &copy});
        return CopyChains(pending);
    } catch (const std::bad_alloc &) {
        // Only the work list itself can fail to grow here.
        std::printf("Error, couldn't allocate memory for copied command %d\n",
                    source != nullptr ? source->number : 0);
        return false;
    }
}

bool CS_DealWithLoopCommands(SpaceWireCommandList &list)
{
    if (const SpaceWireCommand *loop = FindOversizedLoop(list.get())) {
        std::printf("Could not allocate memory for children of loop command %d\n", loop->number);
        return false;
    }
    for (SpaceWireCommand *command = list.get(); command != nullptr; command = command->next.get()) {
        if (IsExpandable(*command)) {
            try {
                if (!ExpandLoop(*command)) {
                    return false;
                }
            } catch (const std::bad_alloc &) {
                std::printf("Could not allocate memory for children of loop command %d\n", command->number);
                return false;
            }
        }
    }
    return true;
}
