// The record of one command of a SpaceWire command list.
//
// A list is a singly linked chain owned by its head (SpaceWireCommandList);
// a loop record stands in front of the body it repeats.  Release, the walk in
// run order and the loop checks are common/command_chain.h's; what each
// execution holds is the run's (cs_execution.h).
#ifndef ZARK_STREAM_SPACEWIRE_SPACEWIRE_COMMAND_H
#define ZARK_STREAM_SPACEWIRE_SPACEWIRE_COMMAND_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/command_chain.h"
#include "device/vantor_api.h"

enum SpaceWireCommandType : std::int32_t {
    SPACEWIRE_COMMAND_SEND = 1,
    SPACEWIRE_COMMAND_RECEIVE = 2,
    SPACEWIRE_COMMAND_LOOP = 3
};

struct SpaceWireCommand;
// The head of a list; empty for the empty list.
using SpaceWireCommandList = std::unique_ptr<SpaceWireCommand>;

// The links, the number and the loop counts are the chain's.
struct SpaceWireCommand : ChainLinks<SpaceWireCommand> {
    SpaceWireCommand(SpaceWireCommandType command_type, std::int32_t command_number) : type(command_type)
    {
        number = command_number;
    }

    SpaceWireCommandType type;

    // Send and receive.
    std::int32_t packet_count = 1;

    // Send: packet_count copies of one packet of data_length bytes, back to back.
    std::int32_t data_length = 0;
    std::vector<std::uint8_t> data;
    // Built when a send of several packets is first submitted, and used by
    // every execution of it.
    std::unique_ptr<unsigned int[]> packet_lengths;
    std::unique_ptr<void *[]> packet_pointers;

    // Receive.
    std::string filename;            // empty: received packets go to no data file
    std::int32_t packet_length = -1; // -1 until l: is given

    std::uint8_t end_with_eep = 0; // send
};

// What the chain machinery asks of a record.
inline bool IsLoop(const SpaceWireCommand &command) { return command.type == SPACEWIRE_COMMAND_LOOP; }
std::uint64_t RunBytes(const SpaceWireCommand &command);

#endif
