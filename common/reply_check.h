// Checking that a reply answers the command it was read for.  A reply that
// answers another command (a duplicate, a late one, another initiator's) is
// shown as it is, but must not pass as this command's result.
#ifndef ZARK_COMMON_REPLY_CHECK_H
#define ZARK_COMMON_REPLY_CHECK_H

#include <cstdint>
#include <cstdio>
#include <vector>

#include "device/quill_rmap.h"

// What the reply to a command repeats of it.
struct ExpectedReply {
    unsigned char command_code = 0;             // instruction bits 5 to 2: write, verify, acknowledge, increment
    std::uint8_t initiator_logical_address = 0; // last byte of the command's reply address
    std::uint8_t target_logical_address = 0;    // last byte of the command's target address
    std::uint16_t transaction_identifier = 0;
    long long data_length = -1; // data bytes a read or read/modify/write reply brings; -1 for a write
};

// The expectation for a command of the given packet type
// (RMAP_PACKET_TYPE_WRITE_COMMAND and so on), flags and data length (the
// length a read asks for, the data bytes of a read/modify/write).
ExpectedReply ExpectReplyTo(int command_type, unsigned char verify, unsigned char acknowledge,
                            unsigned char increment, const std::vector<std::uint8_t> &target_address,
                            const std::vector<std::uint8_t> &reply_address, std::uint16_t transaction_identifier,
                            long long data_length = -1);

// The command number of the one command the interactive mode sends at a time.
inline constexpr std::int32_t kTypedCommand = -1;

// Compares a reply that passed RMAP_CheckPacketValid with its expectation and
// prints one line per field that differs, naming the command ("command 4", or
// "the command" for kTypedCommand), and one for a status other than 0; the
// same lines go to output when it is not null.  True when the reply answers
// the command and says that it succeeded.
bool CheckReplyMatches(const RmapPacketInfo &reply, const ExpectedReply &expected, std::int32_t command,
                       std::FILE *output);

#endif
