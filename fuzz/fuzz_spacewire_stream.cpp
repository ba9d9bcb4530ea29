// The SpaceWire command-list parser and its loop expansion, on any text.
//
// Input: one control byte, then the (already preprocessed) command-list text.
//   bits 1..0  default_base: 0 -> 2, 1 -> 8, 2 -> 10, 3 -> 16
// Data values may name files: they resolve inside a scratch directory with a
// few small files, and texts holding '/' are refused.  Messages go to
// /dev/null.
//
// Beyond surviving, a parsed list must keep these properties:
// - command numbers rise; a send holds its packet count times its data length
//   bytes, the packet repeated; a receive has a length and fits 32-bit sizes;
//   loop counts hold 31 bits;
// - expansion succeeds exactly when every loop finds its whole body, and then
//   runs the commands in the order the loop rules give (fuzz/loop_model.h),
//   every copy equal to the command it copies.  Lists whose expansion could
//   build more than kMostRecords records or kMostBytes bytes on the way,
//   succeeding or not, are not expanded.
// A send holds all its packets at once, so "n:" values that could be above
// kMostPackets are refused before parsing: one such input would otherwise
// cost gigabytes, which is the program's right but no use to a fuzzer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings.h"
#include "common/command_chain.h"
#include "common/data_value.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/loop_model.h"
#include "stream_spacewire/cs_loop_expansion.h"
#include "stream_spacewire/cs_parser.h"

namespace {

constexpr std::uint64_t kMostRecords = 50000;
constexpr std::uint64_t kMostBytes = 16u << 20;
constexpr std::uint64_t kRecordBytes = sizeof(SpaceWireCommand);
constexpr std::uint32_t kMostPackets = 4096;

// Whether some "n:" could ask for more than kMostPackets packets: its value
// read in base 16, the largest base, is at least its value in any other as
// long as no more than 8 characters leave no room to wrap at 32 bits.
bool MayAskForManyPackets(std::string_view text)
{
    const int base = default_base;
    default_base = 16;
    bool many = false;
    for (std::size_t i = 0; i + 1 < text.size() && !many; ++i) {
        if ((text[i] != 'n' && text[i] != 'N') || text[i + 1] != ':') {
            continue;
        }
        std::size_t end = i + 2;
        while (end < text.size() && text[end] != ';' && text[end] != ' ' && text[end] != '\t' &&
               text[end] != '\r' && text[end] != '\n') {
            ++end;
        }
        const std::string_view token = text.substr(i + 2, end - i - 2);
        if (token.size() > 8) {
            many = true;
        } else if (const std::optional<DataValue> value = CreateDataFromString(token, true)) {
            many = value->first_value > kMostPackets;
        }
    }
    default_base = base;
    return many;
}

// What a record held before expansion moved it around.
struct Snapshot {
    SpaceWireCommandType type;
    std::vector<std::uint8_t> data;
    std::int32_t packet_count;
    std::int32_t packet_length;
    std::uint8_t end_with_eep;
    std::string filename;
};

bool SameAs(const SpaceWireCommand &command, const Snapshot &snapshot)
{
    return command.type == snapshot.type && command.data == snapshot.data &&
           command.packet_count == snapshot.packet_count && command.packet_length == snapshot.packet_length &&
           command.end_with_eep == snapshot.end_with_eep && command.filename == snapshot.filename;
}

void CheckRecord(const SpaceWireCommand &command)
{
    switch (command.type) {
    case SPACEWIRE_COMMAND_SEND: {
        FUZZ_CHECK(command.packet_count >= 1 && command.data_length >= 0);
        const auto length = static_cast<std::size_t>(command.data_length);
        FUZZ_CHECK(command.data.size() == length * static_cast<std::size_t>(command.packet_count));
        for (std::size_t i = length; i < command.data.size(); ++i) {
            FUZZ_CHECK(command.data[i] == command.data[i - length]);
        }
        FUZZ_CHECK(command.end_with_eep <= 1);
        break;
    }
    case SPACEWIRE_COMMAND_RECEIVE:
        FUZZ_CHECK(command.packet_count >= 1 && command.packet_length >= 1);
        FUZZ_CHECK(std::int64_t{command.packet_count} * command.packet_length <=
                   std::numeric_limits<std::int32_t>::max());
        break;
    case SPACEWIRE_COMMAND_LOOP: {
        constexpr auto kMostCount = static_cast<LoopCount>(std::numeric_limits<std::int32_t>::max());
        FUZZ_CHECK(command.times_to_repeat <= kMostCount && command.number_to_repeat <= kMostCount);
        FUZZ_CHECK(command.after_body == nullptr);
        break;
    }
    default:
        FUZZ_CHECK(false);
    }
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
    if (MayAskForManyPackets(text)) {
        return -1;
    }

    SpaceWireCommandList list;
    NumberBase output_base = default_base;
    const bool parsed = CS_ProcessCommands(text, list, output_base);
    FUZZ_CHECK(output_base == 2 || output_base == 8 || output_base == 10 || output_base == 16);

    std::vector<fuzz_support::FlatCommand> flat;
    std::map<std::int64_t, Snapshot> snapshots;
    std::int64_t previous = -1;
    for (const SpaceWireCommand *command = list.get(); command != nullptr; command = command->next.get()) {
        CheckRecord(*command);
        FUZZ_CHECK(command->number > previous);
        previous = command->number;
        fuzz_support::FlatCommand entry;
        entry.loop = command->type == SPACEWIRE_COMMAND_LOOP;
        entry.number = command->number;
        if (entry.loop) {
            entry.number_to_repeat = command->number_to_repeat;
            entry.times_to_repeat = command->times_to_repeat;
        }
        entry.weight = kRecordBytes + command->data.size() + command->filename.size();
        flat.push_back(entry);
        if (parsed) {
            snapshots.emplace(command->number,
                              Snapshot{command->type, command->data, command->packet_count, command->packet_length,
                                       command->end_with_eep, command->filename});
        }
    }
    if (!parsed) {
        return 0;
    }

    const fuzz_support::ExpectedExpansion expected =
        fuzz_support::ExpectExpansion(flat, kMostRecords, kMostBytes);
    if (expected.work_records > kMostRecords || expected.work_weight > kMostBytes) {
        return 0; // too large to expand here
    }
    const bool expanded = CS_DealWithLoopCommands(list);
    FUZZ_CHECK(expanded == expected.complete);
    if (expanded) {
        FUZZ_CHECK(expected.order_known);
        std::vector<std::int64_t> order;
        std::uint64_t records = 0;
        VisitInRunOrder(list.get(), [&](const SpaceWireCommand &command) {
            ++records;
            if (command.type == SPACEWIRE_COMMAND_LOOP) {
                return;
            }
            order.push_back(command.number);
            const auto snapshot = snapshots.find(command.number);
            FUZZ_CHECK(snapshot != snapshots.end() && SameAs(command, snapshot->second));
        });
        FUZZ_CHECK(order == expected.order);
        FUZZ_CHECK(records == expected.records);
    }
    default_base = 16;
    return 0;
}
