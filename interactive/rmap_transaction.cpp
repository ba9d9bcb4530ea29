#include "interactive/rmap_transaction.h"

#include <array>
#include <cstdio>
#include <memory>
#include <span>
#include <variant>

#include "common/display.h"
#include "common/reply_check.h"
#include "device/quill_rmap.h"
#include "interactive/exchange.h"
#include "interactive/rmap_field_entry.h"
#include "interactive/rmap_field_store.h"

namespace {

// One question of a transaction: the field it fills and, for a value, the
// bits the packet has for it.  A data length keeps all 32 bits entered, so
// that one beyond the 24 a packet carries cannot be built rather than being cut.
struct Prompt {
    const char *name;
    std::variant<RmapFlag RmapFieldStore::*, RmapValue RmapFieldStore::*, RmapBytes RmapFieldStore::*> field;
    FieldWidth width{};
};

constexpr Prompt kDestinationAddress{"Destination Address", &RmapFieldStore::destination_address};
constexpr Prompt kVerifyData{"Verify Data", &RmapFieldStore::verify_data};
constexpr Prompt kAcknowledge{"Acknowledge", &RmapFieldStore::acknowledge};
constexpr Prompt kIncrementAddress{"Increment Address", &RmapFieldStore::increment_address};
constexpr Prompt kDestinationKey{"Destination Key", &RmapFieldStore::destination_key, {8, 8}};
constexpr Prompt kSourceAddress{"Source Address", &RmapFieldStore::source_address};
constexpr Prompt kTransactionIdentifier{"Transaction Identifier", &RmapFieldStore::transaction_identifier, {16, 16}};
constexpr Prompt kExtendedAddress{"Extended Read/Write Address", &RmapFieldStore::extended_read_write_address,
                                  {8, 8}};
constexpr Prompt kAddress{"Read/Write Address", &RmapFieldStore::read_write_address, {32, 32}};
constexpr Prompt kDataLength{"Data length", &RmapFieldStore::data_length, {24, 32}};
constexpr Prompt kData{"Data", &RmapFieldStore::data};
constexpr Prompt kMask{"Mask", &RmapFieldStore::mask, {32, 32}};
constexpr Prompt kHeaderCrc{"Header CRC", &RmapFieldStore::header_crc, {8, 8}};
constexpr Prompt kDataCrc{"Data CRC", &RmapFieldStore::data_crc, {8, 8}};
constexpr Prompt kDataAndMaskCrc{"Data and Mask CRC", &RmapFieldStore::data_crc, {8, 8}};

constexpr std::array kReadFields{
    &kDestinationAddress, &kIncrementAddress, &kDestinationKey, &kSourceAddress,
    &kTransactionIdentifier, &kExtendedAddress, &kAddress, &kDataLength,
};
constexpr std::array kWriteFields{
    &kDestinationAddress, &kVerifyData, &kAcknowledge, &kIncrementAddress, &kDestinationKey,
    &kSourceAddress, &kTransactionIdentifier, &kExtendedAddress, &kAddress, &kData,
};
constexpr std::array kReadModifyWriteFields{
    &kDestinationAddress, &kDestinationKey, &kSourceAddress, &kTransactionIdentifier,
    &kExtendedAddress, &kAddress, &kData, &kMask,
};

bool Ask(const Prompt &prompt, RmapFlag &field) { return IR_ReadTrueOrFalse(prompt.name, field); }
bool Ask(const Prompt &prompt, RmapValue &field) { return IR_ReadDataValue(prompt.name, prompt.width, field); }
bool Ask(const Prompt &prompt, RmapBytes &field) { return IR_ReadData(prompt.name, field); }

bool AskFields(std::span<const Prompt *const> prompts, RmapFieldStore &store)
{
    for (const Prompt *prompt : prompts) {
        if (!std::visit([&](auto member) { return Ask(*prompt, store.*member); }, prompt->field)) {
            return false;
        }
    }
    return true;
}

struct PacketRelease {
    void operator()(unsigned char *packet) const { RMAP_FreeBuffer(packet); }
};
using BuiltPacket = std::unique_ptr<unsigned char, PacketRelease>;

// The mask's bytes in memory order, least significant first.
std::array<unsigned char, kMostReadModifyWriteBytes> MaskBytes(std::uint32_t mask)
{
    return {static_cast<unsigned char>(mask), static_cast<unsigned char>(mask >> 8),
            static_cast<unsigned char>(mask >> 16), static_cast<unsigned char>(mask >> 24)};
}

BuiltPacket Build(int command, const RmapFieldStore &f, unsigned int &length, RmapPacketInfo &info)
{
    const std::vector<std::uint8_t> &destination = f.destination_address.value;
    const std::vector<std::uint8_t> &source = f.source_address.value;
    const std::vector<std::uint8_t> &data = f.data.value;
    const auto destination_count = static_cast<unsigned int>(destination.size());
    const auto source_count = static_cast<unsigned char>(source.size());
    const auto key = static_cast<unsigned char>(f.destination_key.value);
    const auto transaction = static_cast<unsigned short>(f.transaction_identifier.value);
    const auto extended = static_cast<unsigned char>(f.extended_read_write_address.value);
    const std::uint32_t address = f.read_write_address.value;
    switch (command) {
    case RMAP_COMMAND_READ:
        return BuiltPacket(RMAP_BuildReadCommandPacket(destination.data(), destination_count, source.data(),
                                                       source_count, f.increment_address.value, key, transaction,
                                                       address, extended, f.data_length.value, &length, &info, 1));
    case RMAP_COMMAND_WRITE:
        return BuiltPacket(RMAP_BuildWriteCommandPacket(
            destination.data(), destination_count, source.data(), source_count, f.verify_data.value,
            f.acknowledge.value, f.increment_address.value, key, transaction, address, extended, data.data(),
            static_cast<unsigned int>(data.size()), &length, &info, 1));
    case RMAP_COMMAND_READ_MODIFY_WRITE: {
        const auto mask = MaskBytes(f.mask.value);
        return BuiltPacket(RMAP_BuildReadModifyWriteCommandPacket(
            destination.data(), destination_count, source.data(), source_count, key, transaction, address,
            extended, static_cast<unsigned char>(2 * data.size()), data.data(), mask.data(), &length, &info, 1));
    }
    default:
        return nullptr;
    }
}

// Offers the freshly computed CRC and writes the answer into the packet.
bool AskCrc(const Prompt &prompt, unsigned char computed, RmapFieldStore &store, unsigned char *location)
{
    RmapValue &field = store.*std::get<RmapValue RmapFieldStore::*>(prompt.field);
    field.value = computed;
    field.set = true;
    if (!Ask(prompt, field)) {
        return false;
    }
    if (location != nullptr) {
        *location = static_cast<unsigned char>(field.value);
    }
    return true;
}

constexpr ExchangeStyle kCommandReply{
    .no_buffer = "Could not allocate a buffer to receive the reply",
    .send_failed = "Error sending packet: ",
    .sent = "",
    .waiting = "Command successfully sent, waiting for reply. Press any key to stop.",
    .read_failed = "Error reading reply: ",
    .monitor = false,
};

} // namespace

bool IR_RequestCommand(int command, DeviceHandle device)
{
    RmapFieldStore &f = rmap_fields;
    std::span<const Prompt *const> prompts;
    switch (command) {
    case RMAP_COMMAND_READ:
        prompts = kReadFields;
        break;
    case RMAP_COMMAND_WRITE:
        prompts = kWriteFields;
        break;
    case RMAP_COMMAND_READ_MODIFY_WRITE:
        prompts = kReadModifyWriteFields;
        break;
    default:
        return true;
    }
    // Each command offers the identifier after the last one, within 16 bits.
    if (f.transaction_identifier.set && ++f.transaction_identifier.value == 65536) {
        f.transaction_identifier.value = 0;
    }
    if (!AskFields(prompts, f)) {
        return false;
    }
    if (command == RMAP_COMMAND_READ_MODIFY_WRITE && f.data.value.size() > kMostReadModifyWriteBytes) {
        // The mask has only the 4 bytes of its 32-bit value to pair with the data.
        std::printf("Error building RMAP packet: a read/modify/write carries at most %d data bytes\n",
                    kMostReadModifyWriteBytes);
        return true;
    }

    unsigned int length = 0;
    RmapPacketInfo info{};
    const BuiltPacket packet = Build(command, f, length, info);
    if (!packet) {
        std::puts("Error building RMAP packet");
        return true;
    }
    if (!AskCrc(kHeaderCrc, RMAP_GetHeaderCRC(&info), f, info.header_crc_location)) {
        return false;
    }
    if (command != RMAP_COMMAND_READ && !AskCrc(command == RMAP_COMMAND_WRITE ? kDataCrc : kDataAndMaskCrc,
                                                RMAP_GetDataCRC(&info), f, info.data_crc_location)) {
        return false;
    }

    const std::span<const std::uint8_t> bytes(packet.get(), length);
    if (command == RMAP_COMMAND_WRITE && f.acknowledge.value == 0) {
        SendPacket(device, bytes, kCommandReply);
        return true;
    }
    const ExpectedReply expected = ExpectReplyTo(
        command, f.verify_data.value, f.acknowledge.value, f.increment_address.value, f.destination_address.value,
        f.source_address.value, static_cast<std::uint16_t>(f.transaction_identifier.value),
        command == RMAP_COMMAND_READ ? static_cast<long long>(f.data_length.value)
                                     : static_cast<long long>(f.data.value.size()));
    ExchangePacket(device, bytes, kCommandReply, [&expected](const std::uint8_t *reply, int length, int end_type) {
        ReplyDisplayed shown;
        if (DisplayReceivedRMAPReply(reply, length, end_type, stdout, nullptr, &shown)) {
            CheckReplyMatches(shown.record, expected, kTypedCommand, nullptr);
        }
    });
    return true;
}
