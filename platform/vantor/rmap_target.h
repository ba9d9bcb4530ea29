// The RMAP target at the far end of the simulated link.
#ifndef ZARK_PLATFORM_VANTOR_RMAP_TARGET_H
#define ZARK_PLATFORM_VANTOR_RMAP_TARGET_H

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim_settings.h"
#include "target_memory.h"

namespace vantor_sim {

// A reply as it leaves the target: the reply path bytes, then the reply itself.
struct TargetReply {
    std::vector<std::uint8_t> bytes;
    std::size_t path_length = 0;
    bool has_data_field = false; // read and read/modify/write replies: data and data CRC follow the header
};

// True when packet, its path bytes already skipped, is a command for the
// target: protocol identifier 1, an instruction with the command bit, and the
// target's logical address (settings.target_logical_address) in front.  With
// a memory map every RMAP command is the target's, whatever its address: the
// target itself discards or refuses those to addresses it does not have.
bool IsTargetCommand(std::span<const std::uint8_t> packet, const Settings &settings);

// Executes the command on the memory.  Returns its reply, or nothing when the
// command asks for none or is discarded (bad header CRC, too short, a logical
// address the memory map does not give the target).
//
// Checks, in this order, with the status answered: command code (2); with a
// memory map, a logical address the target does not have (12, or discarded
// as the map says); the key when settings.key or the map's key is set (3);
// with a memory map, the command's access (10, 9 or 1, see CheckAccess); an
// EEP ending (7), missing data (5), bytes beyond the data CRC (6), data CRC
// (4), read/modify/write data length (11).  Authorisation comes before any
// data, as a target must decide before a write streams into memory.  A
// command with a non-zero status changes nothing, except a write without
// verification whose whole data field arrived (status 4, 6 or 7): its data
// went to memory as it streamed in, before the fault showed.
// The reply is built in room, whose allocation it takes over.
std::optional<TargetReply> ExecuteTargetCommand(std::span<const std::uint8_t> packet, int eop,
                                                const Settings &settings, TargetMemory &memory,
                                                std::vector<std::uint8_t> room = {});

} // namespace vantor_sim

#endif
