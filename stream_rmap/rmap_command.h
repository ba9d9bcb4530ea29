// One command of an RMAP command list: what the user gave (or what it took
// from the command before it), and the packet every execution of it sends.
#ifndef ZARK_STREAM_RMAP_RMAP_COMMAND_H
#define ZARK_STREAM_RMAP_RMAP_COMMAND_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "device/quill_rmap.h"
#include "device/vantor_api.h"
#include "common/command_chain.h"
#include "common/rmap_command_kind.h"

using RmapCommandType = std::int32_t;
inline constexpr RmapCommandType RMAP_COMMAND_LOOP = 254;
// Stands for a base command while it is parsed; never a record in a list.
inline constexpr RmapCommandType RMAP_COMMAND_BASE = -1;

// The properties whose presence is a flag; the byte-list properties are
// present when their buffer is.
enum RmapGivenFlag : std::uint32_t {
    GIVEN_VERIFY_BEFORE_WRITE = 1u << 0,
    GIVEN_ACKNOWLEDGE = 1u << 1,
    GIVEN_INCREMENT_TARGET = 1u << 2,
    GIVEN_DESTINATION_KEY = 1u << 3,
    GIVEN_TRANSACTION_IDENTIFIER = 1u << 4,
    GIVEN_ADDRESS = 1u << 5,
    GIVEN_EXTENDED_ADDRESS = 1u << 6,
    GIVEN_DATA_LENGTH = 1u << 7,
    GIVEN_TIMES_TO_REPEAT = 1u << 8,
    GIVEN_NUMBER_TO_REPEAT = 1u << 9,
    GIVEN_HEADER_CRC = 1u << 10,
    GIVEN_DATA_CRC = 1u << 11
};

// A list of bytes as parsed.  Commands that take it from the command before
// them share it, so that long lists of commands hold each value once.  One
// pointer wide, where a shared_ptr takes two: a million-command list holds
// four of these a command.  The count is plain, as a list is parsed and run
// on one thread.
class RmapBytes {
public:
    RmapBytes() = default;
    // Throws std::bad_alloc when memory runs out.
    explicit RmapBytes(std::vector<std::uint8_t> bytes) : held_(new Held{std::move(bytes), 1}) {}
    RmapBytes(const RmapBytes &other) noexcept : held_(other.held_)
    {
        if (held_ != nullptr) {
            ++held_->users;
        }
    }
    RmapBytes(RmapBytes &&other) noexcept : held_(std::exchange(other.held_, nullptr)) {}
    RmapBytes &operator=(RmapBytes other) noexcept
    {
        std::swap(held_, other.held_);
        return *this;
    }
    ~RmapBytes() { reset(); }

    void reset() noexcept
    {
        if (held_ != nullptr && --held_->users == 0) {
            delete held_;
        }
        held_ = nullptr;
    }
    explicit operator bool() const { return held_ != nullptr; }
    const std::vector<std::uint8_t> &operator*() const { return held_->bytes; }
    const std::vector<std::uint8_t> *operator->() const { return &held_->bytes; }

private:
    struct Held {
        std::vector<std::uint8_t> bytes;
        std::size_t users;
    };
    Held *held_ = nullptr;
};

struct RmapPacketDeleter {
    void operator()(unsigned char *packet) const;
};
using RmapPacket = std::unique_ptr<unsigned char, RmapPacketDeleter>;

struct RmapCommand;
// A chain is owned by its first command; each command owns the one after it.
using RmapCommandPtr = std::unique_ptr<RmapCommand>;

// The links, the number and the loop counts are the chain's (common/command_chain.h).
struct RmapCommand : ChainLinks<RmapCommand> {
    // Ordered by alignment, so that the millions of records a list can
    // expand to carry no padding between fields.
    RmapCommandType type = RMAP_COMMAND_READ;
    RmapBytes destination_address;
    RmapBytes source_address;
    // Write and read/modify/write data; a read holds some only when it took
    // them as a default.
    RmapBytes data;
    RmapBytes mask;
    // Held apart, as most commands name no data file.
    std::unique_ptr<const std::string> filename;
    // Built when the command first runs: nothing in it changes between
    // repetitions, so every execution sends these bytes.
    RmapPacket packet;
    std::uint32_t address = 0;
    // Bytes of data; for a read, the number of bytes to read.
    std::uint32_t data_length = 0;
    unsigned int packet_length = 0;
    std::uint32_t given_flags = 0;
    std::uint16_t transaction_identifier = 0;
    std::uint8_t verify_before_write = 0;
    std::uint8_t acknowledge = 0;
    std::uint8_t increment_target = 0;
    std::uint8_t destination_key = 0;
    std::uint8_t extended_address = 0;
    std::uint8_t header_crc = 0;
    std::uint8_t data_crc = 0;
    bool packet_tried = false; // built, or found not to build

    bool Given(std::uint32_t flag) const { return (given_flags & flag) != 0; }
};

// A new record of the type with nothing given; none when memory runs out.
RmapCommandPtr CR_AllocateCommand(RmapCommandType type);

// What the chain machinery asks of a record.
inline bool IsLoop(const RmapCommand &command) { return command.type == RMAP_COMMAND_LOOP; }
std::uint64_t RunBytes(const RmapCommand &command);

// Whether running the command waits for a reply: reads, read/modify/writes
// and acknowledged writes.
bool CR_ExpectsReply(const RmapCommand &command);

#endif
