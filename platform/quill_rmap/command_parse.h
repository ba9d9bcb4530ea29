// The one command decoder behind DecodeCommand and RMAP_CheckPacketValid.
#ifndef ZARK_PLATFORM_QUILL_RMAP_COMMAND_PARSE_H
#define ZARK_PLATFORM_QUILL_RMAP_COMMAND_PARSE_H

#include <cstddef>
#include <span>

#include "quill_rmap_target.h"

namespace quill_rmap::detail {

// Returned when the instruction is a reply's (command bit clear).
inline constexpr int kNotACommand = -1;

// Decodes a command that starts at its target logical address, checking in
// the order a target must: header present, header CRC, instruction, data
// length against the bytes present, data CRC, read/modify/write length.
// Returns RMAP_CHECK_OK or the RMAP_CHECK_* fault found first (kNotACommand
// for a reply).  Header fields are filled whenever the header is complete;
// data and mask once the bytes present match the data length (data and mask
// of a read/modify/write only for an allowed length).  header_length is the
// bytes from target logical address through header CRC once known, else 0.
int ParseCommand(std::span<const std::uint8_t> packet, Command &command, std::size_t &header_length);

} // namespace quill_rmap::detail

#endif
