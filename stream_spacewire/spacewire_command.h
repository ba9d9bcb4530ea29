// The record of one command of a SpaceWire command list.
//
// A list is a singly linked chain owned by its head (SpaceWireCommandList);
// a loop record owns the repetitions of its body in children.  Release, the
// walk in run order and loop expansion are common/command_chain.h's.
#ifndef ZARK_STREAM_SPACEWIRE_SPACEWIRE_COMMAND_H
#define ZARK_STREAM_SPACEWIRE_SPACEWIRE_COMMAND_H

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "common/command_chain.h"
#include "common/transfer_guard.h"
#include "device/vantor_api.h"

enum SpaceWireCommandType : std::int32_t {
    SPACEWIRE_COMMAND_SEND = 1,
    SPACEWIRE_COMMAND_RECEIVE = 2,
    SPACEWIRE_COMMAND_LOOP = 3
};

struct SpaceWireCommand;
// The head of a list; empty for the empty list.
using SpaceWireCommandList = std::unique_ptr<SpaceWireCommand>;

// The links, the number and the loop counts are the chain's; copies keep the number.
struct SpaceWireCommand : ChainLinks<SpaceWireCommand> {
    SpaceWireCommand(SpaceWireCommandType command_type, std::int32_t command_number) : type(command_type)
    {
        number = command_number;
    }

    SpaceWireCommandType type;

    // Send and receive.
    TransferStatus status = VANTOR_TRANSFER_NOT_STARTED;
    std::int32_t packet_count = 1;

    // Send: packet_count copies of one packet of data_length bytes, back to back.
    std::int32_t data_length = 0;
    std::vector<std::uint8_t> data;
    // Built when a send of several packets is submitted.
    std::unique_ptr<unsigned int[]> packet_lengths;
    std::unique_ptr<void *[]> packet_pointers;

    // Receive.
    std::unique_ptr<std::uint8_t[]> buffer;           // packet_count * packet_length bytes once submitted
    std::unique_ptr<PacketProperties[]> properties;   // packet_count entries once submitted
    std::string filename;                             // empty: received packets go to no data file
    std::int32_t packet_length = -1;                  // -1 until l: is given

    std::uint8_t end_with_eep = 0; // send
    // True once a failure of this command has been counted, so that one
    // command's failures count as one error.
    bool failure_counted = false;

    // Set once the library was asked to start the transfer, so that only
    // identifiers it handed out are ever waited on; released before the
    // buffers above that it uses.
    std::variant<std::monostate, OwnedSend, OwnedRead> transfer;
};

inline bool Submitted(const SpaceWireCommand &command) { return command.transfer.index() != 0; }

// What the chain machinery asks of a record.
inline bool IsLoop(const SpaceWireCommand &command) { return command.type == SPACEWIRE_COMMAND_LOOP; }
inline std::uint64_t HeldBytes(const SpaceWireCommand &command) { return command.data.size() + command.filename.size(); }
SpaceWireCommandList CopyRecordFields(const SpaceWireCommand &source);
void ReportCopyOutOfMemory(const SpaceWireCommand &at);
void ReportExpansionOutOfMemory(const SpaceWireCommand &loop);

#endif
