#include "stream_rmap/rmap_loops.h"

#include <cstdio>
#include <new>
#include <vector>

#include "common/expansion_limit.h"
#include "stream_rmap/rmap_properties.h"

namespace {

bool HasBody(const RmapCommand &command)
{
    return command.type == RMAP_COMMAND_LOOP && command.number_to_repeat != 0;
}

void ReportNotEnough(const RmapCommand &loop)
{
    std::printf("Not enough commands present for loop command %d\n", loop.number);
}

// A loop repeated 0 times: its body, nested loops with theirs, is released.
// Nested loops are counted, not expanded: each adds its own body to the count.
bool DropBody(RmapCommand &loop)
{
    std::uint64_t remaining = loop.number_to_repeat;
    RmapCommand *last = &loop;
    while (remaining > 0) {
        RmapCommand *command = last->next.get();
        if (command == nullptr) {
            ReportNotEnough(loop);
            return false;
        }
        if (command->type == RMAP_COMMAND_LOOP) {
            remaining += command->number_to_repeat;
        }
        --remaining;
        last = command;
    }
    RmapCommandPtr dropped = std::move(loop.next);
    loop.next = std::move(last->next);
    CR_FreeCommands(std::move(dropped));
    return true;
}

std::size_t BytesOf(const std::optional<std::vector<std::uint8_t>> &bytes) { return bytes ? bytes->size() : 0; }

// What one copy of a record takes, with room for the allocator's own
// bookkeeping, so that the estimate errs on the large side.
std::uint64_t RecordBytes(const RmapCommand &command)
{
    return 2 * (sizeof(RmapCommand) + BytesOf(command.destination_address) + BytesOf(command.source_address) +
                BytesOf(command.data) + BytesOf(command.mask) + (command.filename ? command.filename->size() : 0));
}

// The loop whose repetitions would not fit in memory, found before anything
// is expanded; null when the whole chain fits.
const RmapCommand *FindOversizedLoop(const RmapCommand *chain)
{
    ExpansionSizer sizer(ExpansionMemoryLimit());
    for (const RmapCommand *command = chain; command != nullptr && sizer.oversized() == nullptr;
         command = command->next.get()) {
        if (command->type == RMAP_COMMAND_LOOP) {
            sizer.AddLoop(RecordBytes(*command), command->number_to_repeat, command->times_to_repeat, command);
        } else {
            sizer.AddCommand(RecordBytes(*command), command);
        }
    }
    return static_cast<const RmapCommand *>(sizer.oversized());
}

bool ReserveChildren(RmapCommand &loop)
{
    try {
        loop.children.reserve(loop.times_to_repeat);
        return true;
    } catch (const std::bad_alloc &) {
    } catch (const std::length_error &) {
    }
    std::printf("Could not allocate memory for children of loop command %d\n", loop.number);
    return false;
}

// The body runs from the loop's next to last: it becomes the first
// repetition, and the others are copies of it.
bool CutAndCopy(RmapCommand &loop, RmapCommand *last)
{
    // Reserved only now that the body is known to be whole, so that a short
    // list is reported as such whatever its repetition count.
    if (!ReserveChildren(loop)) {
        return false;
    }
    loop.children.push_back(std::move(loop.next));
    loop.next = std::move(last->next);
    for (std::uint32_t i = 1; i < loop.times_to_repeat; ++i) {
        RmapCommandPtr copy;
        const bool copied = CR_CopyList(copy, loop.children.front().get());
        loop.children.push_back(std::move(copy));
        if (!copied) {
            return false;
        }
    }
    return true;
}

// Expands a loop repeated at least once, and every loop in its body first, so
// that each nested loop carries its own body when it is counted.  An explicit
// stack of the loops being expanded replaces recursion.
bool ExpandLoop(RmapCommand &outermost)
{
    struct Frame {
        RmapCommand *loop;
        std::uint32_t remaining; // body commands still to count
        RmapCommand *last;       // the last one counted; the loop itself at first
    };
    std::vector<Frame> stack;
    auto begin = [&stack](RmapCommand &loop) { stack.push_back(Frame{&loop, loop.number_to_repeat, &loop}); };
    begin(outermost);
    while (!stack.empty()) {
        Frame &frame = stack.back();
        if (frame.remaining == 0) {
            RmapCommand *loop = frame.loop;
            RmapCommand *last = frame.last;
            stack.pop_back();
            if (!CutAndCopy(*loop, last)) {
                return false;
            }
            if (!stack.empty()) {
                stack.back().last = loop;
                --stack.back().remaining;
            }
            continue;
        }
        RmapCommand *command = frame.last->next.get();
        if (command == nullptr) {
            ReportNotEnough(*frame.loop);
            return false;
        }
        if (HasBody(*command) && command->times_to_repeat != 0) {
            begin(*command);
            continue;
        }
        if (HasBody(*command) && !DropBody(*command)) {
            return false;
        }
        frame.last = command;
        --frame.remaining;
    }
    return true;
}

void CopyCrcs(RmapCommand &copy, const RmapCommand &source)
{
    constexpr std::uint32_t kCrcFlags = GIVEN_HEADER_CRC | GIVEN_DATA_CRC;
    copy.given_flags |= source.given_flags & kCrcFlags;
    copy.header_crc = source.header_crc;
    copy.data_crc = source.data_crc;
}

} // namespace

bool CR_DealWithLoopCommands(RmapCommand *chain)
{
    if (const RmapCommand *loop = FindOversizedLoop(chain)) {
        std::printf("Could not allocate memory for children of loop command %d\n", loop->number);
        return false;
    }
    try {
        for (RmapCommand *command = chain; command != nullptr; command = command->next.get()) {
            if (!HasBody(*command)) {
                continue;
            }
            const bool expanded = command->times_to_repeat == 0 ? DropBody(*command) : ExpandLoop(*command);
            if (!expanded) {
                return false;
            }
        }
        return true;
    } catch (const std::bad_alloc &) {
        std::puts("Could not allocate memory to expand the loops of the command list.");
        return false;
    }
}

bool CR_CopyList(RmapCommandPtr &copy, const RmapCommand *source)
{
    copy.reset();
    struct Work {
        const RmapCommand *source; // a chain to copy
        RmapCommandPtr *slot;      // where its copy goes
    };
    std::vector<Work> work;
    std::int32_t number = source != nullptr ? source->number : 0;
    try {
        work.push_back(Work{source, &copy});
        while (!work.empty()) {
            const Work item = work.back();
            work.pop_back();
            RmapCommandPtr *slot = item.slot;
            for (const RmapCommand *from = item.source; from != nullptr; from = from->next.get()) {
                number = from->number;
                RmapCommandPtr to = CR_AllocateCommand(from->type);
                if (!to) {
                    std::printf("Could not allocate memory for copied command %d.\n", number);
                    return false;
                }
                to->number = from->number;
                if (!CR_CopyDefaultFields(*to, from)) {
                    std::printf("Could not allocate memory for the properties of copied command %d.\n", number);
                    return false;
                }
                CopyCrcs(*to, *from);
                if (from->filename) {
                    try {
                        to->filename = *from->filename;
                    } catch (const std::bad_alloc &) {
                        std::printf("Could not allocate memory for the filename of copied command %d.\n", number);
                        return false;
                    }
                }
                to->number_to_repeat = from->number_to_repeat;
                to->times_to_repeat = from->times_to_repeat;
                if (from->number_to_repeat != 0 && from->times_to_repeat != 0) {
                    try {
                        to->children.resize(from->children.size());
                    } catch (const std::bad_alloc &) {
                        std::printf("Could not allocate memory for children of copied loop command %d\n", number);
                        return false;
                    }
                    for (std::size_t i = 0; i < from->children.size(); ++i) {
                        work.push_back(Work{from->children[i].get(), &to->children[i]});
                    }
                }
                *slot = std::move(to);
                slot = &(*slot)->next;
            }
        }
        return true;
    } catch (const std::bad_alloc &) {
        std::printf("Could not allocate memory for copied command %d.\n", number);
        return false;
    }
}
