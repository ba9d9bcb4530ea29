// The record of one command of a SpaceWire command list, and the walk over a
// list whose loops have been expanded.
//
// A list is a singly linked chain owned by its head (SpaceWireCommandList).
// A loop record owns the repetitions of its body in children.  Lists can hold
// millions of records and loops can nest hundreds of thousands deep, so
// nothing here recurses: destroying a record releases its whole chain and
// every nested child list iteratively.
#ifndef ZARK_STREAM_SPACEWIRE_SPACEWIRE_COMMAND_H
#define ZARK_STREAM_SPACEWIRE_SPACEWIRE_COMMAND_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/vantor_api.h"

enum SpaceWireCommandType : std::int32_t {
    SPACEWIRE_COMMAND_SEND = 1,
    SPACEWIRE_COMMAND_RECEIVE = 2,
    SPACEWIRE_COMMAND_LOOP = 3
};

struct SpaceWireCommand;
// The head of a list; empty for the empty list.
using SpaceWireCommandList = std::unique_ptr<SpaceWireCommand>;

struct SpaceWireCommand {
    SpaceWireCommand(SpaceWireCommandType command_type, std::int32_t command_number)
        : type(command_type), number(command_number)
    {
    }
    ~SpaceWireCommand();
    SpaceWireCommand(const SpaceWireCommand &) = delete;
    SpaceWireCommand &operator=(const SpaceWireCommand &) = delete;

    // Common head.
    SpaceWireCommandType type;
    std::int32_t number; // position in the list text, base commands counted; copies keep it

    // Send and receive.
    TransferStatus status = VANTOR_TRANSFER_NOT_STARTED;
    std::int32_t packet_count = 1;
    TransferId transfer_id = nullptr;
    // True once the library was asked to start the transfer, so that only
    // identifiers it handed out are ever waited on or released.
    bool submitted = false;
    // True once a failure of this command has been counted, so that one
    // command's failures count as one error.
    bool failure_counted = false;

    // Send: packet_count copies of one packet of data_length bytes, back to back.
    std::uint8_t end_with_eep = 0;
    std::vector<std::uint8_t> data;
    std::int32_t data_length = 0;
    // Built when a send of several packets is submitted.
    std::unique_ptr<unsigned int[]> packet_lengths;
    std::unique_ptr<void *[]> packet_pointers;

    // Receive.
    std::int32_t packet_length = -1; // -1 until l: is given
    std::unique_ptr<std::uint8_t[]> buffer;           // packet_count * packet_length bytes once submitted
    std::unique_ptr<PacketProperties[]> properties;   // packet_count entries once submitted
    std::string filename;                             // empty: received packets go to no data file

    // Loop.
    std::int32_t times_to_repeat = 0;
    std::int32_t number_to_repeat = 0;
    // After expansion of a loop with both counts above 0: times_to_repeat lists,
    // entry 0 the body itself, the others copies of it.
    std::vector<SpaceWireCommandList> children;

    // Link to the following command of the same list.
    SpaceWireCommandList next;
};

// Releases every record of the list and everything each owns.  Transfers
// are not touched; they must have been released through the library first.
void CS_FreeCommands(SpaceWireCommandList &list);

// True for a loop whose body was expanded into children.
inline bool HasRepetitions(const SpaceWireCommand &command)
{
    return command.type == SPACEWIRE_COMMAND_LOOP && !command.children.empty();
}

// Calls visit(record) for every record of an expanded list in execution
// order: a loop record itself, then its children 0, 1, ... each from head to
// end, then what follows the loop.  Iterative, whatever the nesting depth.
template <typename Visit>
void ForEachCommand(SpaceWireCommand *list, Visit visit)
{
    struct Repetition {
        SpaceWireCommand *loop;
        std::size_t next_child;
    };
    std::vector<Repetition> open_loops;
    SpaceWireCommand *current = list;
    for (;;) {
        if (current == nullptr) {
            if (open_loops.empty()) {
                return;
            }
            Repetition &innermost = open_loops.back();
            if (innermost.next_child < innermost.loop->children.size()) {
                current = innermost.loop->children[innermost.next_child++].get();
            } else {
                current = innermost.loop->next.get();
                open_loops.pop_back();
            }
            continue;
        }
        visit(*current);
        if (HasRepetitions(*current)) {
            open_loops.push_back(Repetition{current, 0});
            current = nullptr;
        } else {
            current = current->next.get();
        }
    }
}

#endif
