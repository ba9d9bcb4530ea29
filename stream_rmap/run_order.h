// Visiting the commands of an expanded chain in the order they run: a loop's
// repetitions one after the other in place of the loop.
#ifndef ZARK_STREAM_RMAP_RUN_ORDER_H
#define ZARK_STREAM_RMAP_RUN_ORDER_H

#include <cstddef>
#include <vector>

#include "stream_rmap/rmap_command.h"

// Calls visit(command) for every read, write and read/modify/write command.
// An explicit stack of the loops being run stands in for recursion.
template <typename Visit>
void VisitInRunOrder(RmapCommand *chain, Visit &&visit)
{
    struct Frame {
        RmapCommand *cursor;
        RmapCommand *loop; // whose repetitions are being run; null for the top chain
        std::size_t repetition;
    };
    std::vector<Frame> stack{Frame{chain, nullptr, 0}};
    while (!stack.empty()) {
        Frame &frame = stack.back();
        if (frame.cursor == nullptr) {
            if (frame.loop != nullptr && frame.repetition + 1 < frame.loop->children.size()) {
                ++frame.repetition;
                frame.cursor = frame.loop->children[frame.repetition].get();
            } else {
                stack.pop_back();
            }
            continue;
        }
        RmapCommand *command = frame.cursor;
        frame.cursor = command->next.get();
        if (command->type != RMAP_COMMAND_LOOP) {
            visit(*command);
        } else if (command->number_to_repeat != 0 && command->times_to_repeat != 0 &&
                   !command->children.empty()) {
            stack.push_back(Frame{command->children.front().get(), command, 0});
        }
    }
}

#endif
