#include "rmap_target.h"

#include <algorithm>
#include <array>

#include "device/vantor_api.h"
#include "memory_map.h"
#include "quill_rmap_target.h"
#include "vantor_sim_control.h"

namespace vantor_sim {
namespace {

using quill_rmap::Command;
using quill_rmap::CommandCheck;

constexpr std::uint8_t kProtocolIdentifier = 0x01;
constexpr std::uint8_t kCommandBit = 0x40;
// Target logical address through header CRC, without the reply address field.
constexpr std::size_t kCommandHeaderBytes = 16;

Access AccessOf(const Command &command)
{
    Access access;
    access.kind = command.write               ? AccessKind::Write
                  : command.read_modify_write ? AccessKind::ReadModifyWrite
                                              : AccessKind::Read;
    access.verify = command.verify;
    access.increment = command.increment;
    access.address = Address40(command.extended_address, command.address);
    // A read/modify/write's data length counts the mask too.
    access.length = command.read_modify_write ? command.data_length / 2 : command.data_length;
    return access;
}

bool HasLogicalAddress(const MemoryMap &map, const Settings &settings, std::uint8_t address)
{
    if (map.logical_addresses.empty()) {
        return address == settings.target_logical_address;
    }
    return std::find(map.logical_addresses.begin(), map.logical_addresses.end(), address) !=
           map.logical_addresses.end();
}

// The status of the reply, or nothing when the command is discarded.
std::optional<std::uint8_t> StatusFor(CommandCheck check, const Command &command, int eop, const Settings &settings)
{
    if (check == CommandCheck::InvalidCommandCode) {
        return 2;
    }
    const MemoryMap *map = settings.memory_map.get();
    if (map != nullptr && !HasLogicalAddress(*map, settings, command.target_logical_address)) {
        if (map->unknown_address == UnknownAddress::Discard) {
            return std::nullopt;
        }
        return 12;
    }
    const std::optional<std::uint8_t> key = map != nullptr && map->key ? map->key : settings.key;
    if (key && command.key != *key) {
        return 3;
    }
    if (map != nullptr) {
        if (std::uint8_t status = CheckAccess(*map, AccessOf(command)); status != 0) {
            return status;
        }
    }
    if (eop == VANTOR_EOP_EEP) {
        return 7;
    }
    switch (check) {
    case CommandCheck::EarlyEop:
        return 5;
    case CommandCheck::TooMuchData:
        return 6;
    case CommandCheck::DataCrcError:
        return 4;
    case CommandCheck::RmwLengthError:
        return 11;
    default:
        return 0;
    }
}

// The data field of a write, when every byte of it arrived.
std::optional<std::span<const std::uint8_t>> WholeDataField(std::span<const std::uint8_t> packet,
                                                            const Command &command)
{
    std::size_t start = kCommandHeaderBytes + command.reply_address_field.size();
    if (packet.size() < start || packet.size() - start < command.data_length) {
        return std::nullopt;
    }
    return packet.subspan(start, command.data_length);
}

void WriteData(const Command &command, std::span<const std::uint8_t> data, TargetMemory &memory)
{
    std::uint64_t address = Address40(command.extended_address, command.address);
    if (command.increment) {
        memory.WriteBlock(address, data);
    } else if (!data.empty()) {
        // Every byte goes to the same address; the last one stays.
        memory.Write(address, data.back());
    }
}

// Reads count bytes into small when they fit, which most reads do, else into large.
std::span<std::uint8_t> ReadData(const Command &command, std::size_t count, const TargetMemory &memory,
                                 std::span<std::uint8_t> small, std::vector<std::uint8_t> &large)
{
    std::span<std::uint8_t> data = small.first(std::min(count, small.size()));
    if (count > small.size()) {
        large.resize(count);
        data = large;
    }
    std::uint64_t address = Address40(command.extended_address, command.address);
    if (command.increment) {
        memory.ReadBlock(address, data);
    } else {
        std::fill(data.begin(), data.end(), memory.Read(address));
    }
    return data;
}

} // namespace

bool IsTargetCommand(std::span<const std::uint8_t> packet, const Settings &settings)
{
    return packet.size() >= 3 && (settings.memory_map || packet[0] == settings.target_logical_address) &&
           packet[1] == kProtocolIdentifier && (packet[2] & kCommandBit) != 0;
}

std::optional<TargetReply> ExecuteTargetCommand(std::span<const std::uint8_t> packet, int eop,
                                                const Settings &settings, TargetMemory &memory,
                                                std::vector<std::uint8_t> room)
{
    Command command;
    CommandCheck check = quill_rmap::DecodeCommand(packet, command);
    if (check == CommandCheck::NotACommand || check == CommandCheck::HeaderCrcError) {
        return std::nullopt;
    }
    const std::optional<std::uint8_t> judged = StatusFor(check, command, eop, settings);
    if (!judged) {
        return std::nullopt;
    }
    const std::uint8_t status = *judged;
    std::array<std::uint8_t, 256> small_data;
    std::vector<std::uint8_t> large_data;
    std::span<std::uint8_t> read_data;
    if (command.write) {
        if (status == 0) {
            WriteData(command, command.data, memory);
        } else if (!command.verify && (status == 4 || status == 6 || status == 7)) {
            if (auto data = WholeDataField(packet, command)) {
                WriteData(command, *data, memory);
            }
        }
    } else if (status == 0 && command.read_modify_write) {
        read_data = ReadData(command, command.data.size(), memory, small_data, large_data);
        std::vector<std::uint8_t> updated(read_data.size());
        for (std::size_t i = 0; i < updated.size(); ++i) {
            updated[i] = static_cast<std::uint8_t>((command.data[i] & command.mask[i]) |
                                                   (read_data[i] & ~command.mask[i]));
        }
        memory.WriteBlock(Address40(command.extended_address, command.address), updated);
    } else if (status == 0) {
        read_data = ReadData(command, command.data_length, memory, small_data, large_data);
    }
    if (!command.reply) {
        return std::nullopt;
    }
    TargetReply reply;
    reply.bytes = std::move(room);
    if (command.write) {
        quill_rmap::BuildWriteReply(command, status, reply.bytes);
    } else {
        quill_rmap::BuildReadReply(command, status, read_data, reply.bytes);
    }
    reply.path_length = quill_rmap::ReplyPath(command).size();
    reply.has_data_field = !command.write;
    return reply;
}

} // namespace vantor_sim
