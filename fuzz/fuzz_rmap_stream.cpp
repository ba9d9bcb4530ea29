// The RMAP command-list parser and its loop expansion, on any text.
//
// Input: one control byte, then the (already preprocessed) command-list text.
//   bits 1..0  default_base: 0 -> 2, 1 -> 8, 2 -> 10, 3 -> 16
// Data values may name files: they resolve inside a scratch directory with a
// few small files, and texts holding '/' are refused.  Messages go to
// /dev/null.
//
// Beyond surviving, a parsed chain must keep these properties:
// - only reads, writes, read/modify/writes and loops, numbered rising, each
//   with every property its type requires; read/modify/write data at most 4
//   bytes and a mask at least as long;
// - expansion succeeds exactly when every loop finds its whole body, and then
//   runs the commands in the order the loop rules give (fuzz/loop_model.h),
//   every copy carrying every property of the command it copies.  Chains
//   whose expansion could build more than kMostRecords records or kMostBytes
//   bytes on the way, succeeding or not, are not expanded.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings.h"
#include "common/command_chain.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/loop_model.h"
#include "stream_rmap/rmap_loops.h"
#include "stream_rmap/rmap_parser.h"

namespace {

constexpr std::uint64_t kMostRecords = 50000;
constexpr std::uint64_t kMostBytes = 16u << 20;

using Bytes = std::optional<std::vector<std::uint8_t>>;

// What a command held before expansion moved it around.
struct Snapshot {
    RmapCommandType type;
    Bytes destination_address;
    Bytes source_address;
    Bytes data;
    Bytes mask;
    std::uint8_t verify_before_write, acknowledge, increment_target, destination_key;
    std::uint16_t transaction_identifier;
    std::uint32_t address;
    std::uint8_t extended_address;
    std::uint32_t data_length;
    std::uint8_t header_crc, data_crc;
    std::uint32_t given_flags;
    std::optional<std::string> filename;

    static Bytes Held(const RmapBytes &bytes) { return bytes ? Bytes(*bytes) : Bytes(); }

    explicit Snapshot(const RmapCommand &c)
        : type(c.type), destination_address(Held(c.destination_address)), source_address(Held(c.source_address)),
          data(Held(c.data)), mask(Held(c.mask)), verify_before_write(c.verify_before_write), acknowledge(c.acknowledge),
          increment_target(c.increment_target), destination_key(c.destination_key),
          transaction_identifier(c.transaction_identifier), address(c.address),
          extended_address(c.extended_address), data_length(c.data_length), header_crc(c.header_crc),
          data_crc(c.data_crc), given_flags(c.given_flags),
          filename(c.filename ? std::optional<std::string>(*c.filename) : std::nullopt)
    {
    }

    bool SameAs(const RmapCommand &c) const
    {
        return type == c.type && destination_address == Held(c.destination_address) &&
               source_address == Held(c.source_address) && data == Held(c.data) && mask == Held(c.mask) &&
               verify_before_write == c.verify_before_write && acknowledge == c.acknowledge &&
               increment_target == c.increment_target && destination_key == c.destination_key &&
               transaction_identifier == c.transaction_identifier && address == c.address &&
               extended_address == c.extended_address && data_length == c.data_length &&
               header_crc == c.header_crc && data_crc == c.data_crc &&
               (type == RMAP_COMMAND_LOOP || given_flags == c.given_flags) &&
               filename == (c.filename ? std::optional<std::string>(*c.filename) : std::nullopt);
    }
};

constexpr std::uint32_t kHeaderFlags =
    GIVEN_DESTINATION_KEY | GIVEN_TRANSACTION_IDENTIFIER | GIVEN_ADDRESS | GIVEN_EXTENDED_ADDRESS;

bool HasAll(const RmapCommand &c, std::uint32_t flags) { return (c.given_flags & flags) == flags; }

void CheckCommand(const RmapCommand &c)
{
    FUZZ_CHECK(c.after_body == nullptr);
    switch (c.type) {
    case RMAP_COMMAND_READ:
        FUZZ_CHECK(c.destination_address && c.source_address);
        FUZZ_CHECK(HasAll(c, kHeaderFlags | GIVEN_INCREMENT_TARGET | GIVEN_DATA_LENGTH));
        break;
    case RMAP_COMMAND_WRITE:
        FUZZ_CHECK(c.destination_address && c.source_address && c.data);
        FUZZ_CHECK(HasAll(c, kHeaderFlags | GIVEN_VERIFY_BEFORE_WRITE | GIVEN_ACKNOWLEDGE | GIVEN_INCREMENT_TARGET));
        break;
    case RMAP_COMMAND_READ_MODIFY_WRITE:
        FUZZ_CHECK(c.destination_address && c.source_address && c.data && c.mask);
        FUZZ_CHECK(HasAll(c, kHeaderFlags));
        FUZZ_CHECK(c.data->size() <= 4 && c.mask->size() >= c.data->size());
        break;
    case RMAP_COMMAND_LOOP:
        FUZZ_CHECK(HasAll(c, GIVEN_TIMES_TO_REPEAT | GIVEN_NUMBER_TO_REPEAT));
        break;
    default:
        FUZZ_CHECK(false);
    }
}

std::uint64_t Weight(const RmapCommand &c)
{
    auto size = [](const RmapBytes &bytes) { return bytes ? bytes->size() : 0; };
    return sizeof(RmapCommand) + size(c.destination_address) + size(c.source_address) + size(c.data) +
           size(c.mask) + (c.filename ? c.filename->size() : 0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_support::DataFiles();
    fuzz_support::SilenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const fuzz_support::TextInput input(data, size);
    if (!input.usable()) {
        return input.refusal();
    }
    const std::string_view text = input.text();

    int output_base = 0;
    RmapCommandPtr chain = CR_ProcessCommands(text, &output_base);
    FUZZ_CHECK(output_base == 0 || output_base == 2 || output_base == 8 || output_base == 10 || output_base == 16);

    std::vector<fuzz_support::FlatCommand> flat;
    std::map<std::int64_t, Snapshot> snapshots;
    std::int64_t previous = -1;
    for (const RmapCommand *command = chain.get(); command != nullptr; command = command->next.get()) {
        CheckCommand(*command);
        FUZZ_CHECK(command->number > previous);
        previous = command->number;
        fuzz_support::FlatCommand entry;
        entry.loop = command->type == RMAP_COMMAND_LOOP;
        entry.number = command->number;
        entry.number_to_repeat = command->number_to_repeat;
        entry.times_to_repeat = command->times_to_repeat;
        entry.weight = Weight(*command);
        flat.push_back(entry);
        snapshots.emplace(command->number, Snapshot(*command));
    }

    const fuzz_support::ExpectedExpansion expected =
        fuzz_support::ExpectExpansion(flat, kMostRecords, kMostBytes);
    if (!chain || expected.work_records > kMostRecords || expected.work_weight > kMostBytes) {
        return 0; // too large to expand here
    }
    const bool expanded = CR_DealWithLoopCommands(chain.get());
    FUZZ_CHECK(expanded == expected.complete);
    if (expanded) {
        FUZZ_CHECK(expected.order_known);
        std::vector<std::int64_t> order;
        std::uint64_t records = 0;
        VisitInRunOrder(static_cast<const RmapCommand *>(chain.get()), [&](const RmapCommand &command) {
            ++records;
            const auto snapshot = snapshots.find(command.number);
            FUZZ_CHECK(snapshot != snapshots.end() && snapshot->second.SameAs(command));
            if (command.type != RMAP_COMMAND_LOOP) {
                order.push_back(command.number);
            }
        });
        FUZZ_CHECK(order == expected.order);
        FUZZ_CHECK(records == expected.records);
    }
    default_base = 16;
    return 0;
}
