// What an RMAP target needs of the codec besides the program's interface:
// the CRC, decoding a command with every field, and building replies.
// Used by the simulated adapter's target; never by the program.
#ifndef ZARK_PLATFORM_QUILL_RMAP_TARGET_H
#define ZARK_PLATFORM_QUILL_RMAP_TARGET_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quill_rmap {

// The standard's CRC-8 over bytes, continuing from crc.
std::uint8_t Crc8(std::span<const std::uint8_t> bytes, std::uint8_t crc = 0);

// Outcome of decoding a command, in the order a target checks them.
enum class CommandCheck {
    Ok,
    NotACommand,        // too short for a command header, wrong protocol id or command bit clear
    HeaderCrcError,     // discard without reply
    InvalidCommandCode, // reply status 2 when a reply is requested
    EarlyEop,           // fewer data bytes than the data length (plus data CRC): status 5
    TooMuchData,        // more bytes than the data length plus data CRC: status 6
    DataCrcError,       // status 4
    RmwLengthError      // read/modify/write data length not 0, 2, 4, 6 or 8: status 11
};

// Every field of a command.  Spans point into the decoded packet.
struct Command {
    std::uint8_t target_logical_address = 0;
    std::uint8_t instruction = 0;
    std::uint8_t key = 0;
    std::span<const std::uint8_t> reply_address_field; // 0, 4, 8 or 12 bytes, padding included
    std::uint8_t initiator_logical_address = 0;
    std::uint16_t transaction_id = 0;
    std::uint8_t extended_address = 0;
    std::uint32_t address = 0;
    std::uint32_t data_length = 0;
    bool write = false;
    bool verify = false;
    bool reply = false;
    bool increment = false;
    bool read_modify_write = false;
    std::span<const std::uint8_t> data; // write: the data; read/modify/write: the data half
    std::span<const std::uint8_t> mask; // read/modify/write: the mask half
};

// Decodes a command that starts at its target logical address (path bytes
// already taken off).  Fields read before a failure are filled in, so that a
// reply with an error status can be built from them (the header was sound
// whenever the check is not NotACommand or HeaderCrcError).  The header
// fields are filled whenever the header is complete; data and mask once the
// bytes present match the data length, so also with DataCrcError (a
// read/modify/write's only for an allowed length).  Checked in this order: header complete, header CRC,
// instruction (a reserved packet type counts as an invalid command code),
// data length against the bytes present (a read followed by any byte is
// TooMuchData), data CRC, read/modify/write data length.
CommandCheck DecodeCommand(std::span<const std::uint8_t> packet, Command &command);

// The reply path of a command: its reply address field without leading zero
// padding; a field of zeros only is the path 00.  A reply travels with these
// bytes in front of it.
std::span<const std::uint8_t> ReplyPath(const Command &command);

// A write reply, with the reply path in front.
std::vector<std::uint8_t> BuildWriteReply(const Command &command, std::uint8_t status);

// A read or read/modify/write reply, with the reply path in front.  With a
// non-zero status the data is left out (data length 0).  Both builders mark
// the instruction as a reply (bits 7 and 6 cleared, the others kept).
std::vector<std::uint8_t> BuildReadReply(const Command &command, std::uint8_t status,
                                         std::span<const std::uint8_t> data);

// The same replies written into reply, replacing what it held: a target
// answering millions of commands reuses one buffer's room.
void BuildWriteReply(const Command &command, std::uint8_t status, std::vector<std::uint8_t> &reply);
void BuildReadReply(const Command &command, std::uint8_t status, std::span<const std::uint8_t> data,
                    std::vector<std::uint8_t> &reply);

} // namespace quill_rmap

#endif
