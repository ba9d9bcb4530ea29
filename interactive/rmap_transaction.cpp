#include "interactive/rmap_transaction.h"

#include <array>
#include <cstdio>
#include <memory>
#include <span>

#include "app/settings.h"
#include "common/display.h"
#include "common/receive_buffer.h"
#include "common/key_press.h"
#include "device/quill_rmap.h"
#include "interactive/rmap_field_entry.h"
#include "interactive/rmap_field_store.h"

namespace {

enum class Field {
    DestinationAddress,
    VerifyData,
    Acknowledge,
    IncrementAddress,
    DestinationKey,
    SourceAddress,
    TransactionIdentifier,
    ExtendedAddress,
    ReadWriteAddress,
    DataLength,
    Data,
    Mask,
};

constexpr std::array kReadFields{
    Field::DestinationAddress, Field::IncrementAddress, Field::DestinationKey,  Field::SourceAddress,
    Field::TransactionIdentifier, Field::ExtendedAddress, Field::ReadWriteAddress, Field::DataLength,
};
constexpr std::array kWriteFields{
    Field::DestinationAddress, Field::VerifyData,      Field::Acknowledge,
    Field::IncrementAddress,   Field::DestinationKey,  Field::SourceAddress,
    Field::TransactionIdentifier, Field::ExtendedAddress, Field::ReadWriteAddress,
    Field::Data,
};
constexpr std::array kReadModifyWriteFields{
    Field::DestinationAddress, Field::DestinationKey,  Field::SourceAddress, Field::TransactionIdentifier,
    Field::ExtendedAddress,    Field::ReadWriteAddress, Field::Data,         Field::Mask,
};

bool AskFlag(const char *name, unsigned char &value, unsigned char &set, unsigned char &fixed)
{
    const std::optional<unsigned char> answer = IR_ReadTrueOrFalse(name, value, set, fixed);
    if (answer) {
        value = *answer;
    }
    return answer.has_value();
}

bool AskValue(const char *name, std::uint32_t &value, unsigned char &set, unsigned char &fixed)
{
    const std::optional<std::uint32_t> answer = IR_ReadDataValue(name, value, set, fixed);
    if (answer) {
        value = *answer;
    }
    return answer.has_value();
}

bool AskField(Field field, RmapFieldStore &f)
{
    switch (field) {
    case Field::DestinationAddress:
        return IR_ReadData("Destination Address", f.destination_address, f.destination_address_fixed);
    case Field::VerifyData:
        return AskFlag("Verify Data", f.verify_data, f.verify_data_set, f.verify_data_fixed);
    case Field::Acknowledge:
        return AskFlag("Acknowledge", f.acknowledge, f.acknowledge_set, f.acknowledge_fixed);
    case Field::IncrementAddress:
        return AskFlag("Increment Address", f.increment_address, f.increment_address_set,
                       f.increment_address_fixed);
    case Field::DestinationKey:
        return AskValue("Destination Key", f.destination_key, f.destination_key_set, f.destination_key_fixed);
    case Field::SourceAddress:
        return IR_ReadData("Source Address", f.source_address, f.source_address_fixed);
    case Field::TransactionIdentifier:
        // Each command offers the identifier after the last one, within 16 bits.
        if (f.transaction_identifier_set != 0) {
            ++f.transaction_identifier;
            if (f.transaction_identifier == 65536) {
                f.transaction_identifier = 0;
            }
        }
        return AskValue("Transaction Identifier", f.transaction_identifier, f.transaction_identifier_set,
                        f.transaction_identifier_fixed);
    case Field::ExtendedAddress:
        return AskValue("Extended Read/Write Address", f.extended_read_write_address,
                        f.extended_read_write_address_set, f.extended_read_write_address_fixed);
    case Field::ReadWriteAddress:
        return AskValue("Read/Write Address", f.read_write_address, f.read_write_address_set,
                        f.read_write_address_fixed);
    case Field::DataLength:
        return AskValue("Data length", f.data_length, f.data_length_set, f.data_length_fixed);
    case Field::Data:
        return IR_ReadData("Data", f.data, f.data_fixed);
    case Field::Mask:
        return AskValue("Mask", f.mask, f.mask_set, f.mask_fixed);
    }
    return false;
}

bool AskFields(std::span<const Field> fields, RmapFieldStore &store)
{
    for (Field field : fields) {
        if (!AskField(field, store)) {
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
    const auto destination_count = static_cast<unsigned int>(f.destination_address.size());
    const auto source_count = static_cast<unsigned char>(f.source_address.size());
    const auto key = static_cast<unsigned char>(f.destination_key);
    const auto transaction = static_cast<unsigned short>(f.transaction_identifier);
    const auto extended = static_cast<unsigned char>(f.extended_read_write_address);
    switch (command) {
    case RMAP_COMMAND_READ:
        return BuiltPacket(RMAP_BuildReadCommandPacket(
            f.destination_address.data(), destination_count, f.source_address.data(), source_count,
            f.increment_address, key, transaction, f.read_write_address, extended, f.data_length, &length,
            &info, 1));
    case RMAP_COMMAND_WRITE:
        return BuiltPacket(RMAP_BuildWriteCommandPacket(
            f.destination_address.data(), destination_count, f.source_address.data(), source_count, f.verify_data,
            f.acknowledge, f.increment_address, key, transaction, f.read_write_address, extended, f.data.data(),
            static_cast<unsigned int>(f.data.size()), &length, &info, 1));
    case RMAP_COMMAND_READ_MODIFY_WRITE: {
        const auto mask = MaskBytes(f.mask);
        return BuiltPacket(RMAP_BuildReadModifyWriteCommandPacket(
            f.destination_address.data(), destination_count, f.source_address.data(), source_count, key,
            transaction, f.read_write_address, extended, static_cast<unsigned char>(2 * f.data.size()),
            f.data.data(), mask.data(), &length, &info, 1));
    }
    default:
        return nullptr;
    }
}

// Offers the freshly computed CRC and writes the answer into the packet.
bool AskCrc(const char *name, unsigned char computed, std::uint32_t &value, unsigned char &set,
            unsigned char &fixed, unsigned char *location)
{
    value = computed;
    set = 1;
    if (!AskValue(name, value, set, fixed)) {
        return false;
    }
    if (location != nullptr) {
        *location = static_cast<unsigned char>(value);
    }
    return true;
}

TransferStatus StartRead(DeviceHandle device, const ReceiveBuffer &buffer, PacketProperties &properties,
                         TransferId &id)
{
    return Vantor_ReadPackets(device, buffer.data(), buffer.size, 1, 0, &properties, &id);
}

// False, after saying why, when the packet did not go out.
bool Send(DeviceHandle device, BuiltPacket packet, unsigned int length)
{
    TransferId id = nullptr;
    const TransferStatus status = Vantor_SendPacket(device, packet.get(), length, 1, &id);
    Vantor_FreeSend(device, id);
    packet.reset();
    if (status != VANTOR_TRANSFER_SUCCESS) {
        std::printf("Error sending packet: %s\n", DisplayStatus(status));
        return false;
    }
    return true;
}

} // namespace

ReceiveBuffer IR_StartReceivingReply(DeviceHandle device, TransferId &id, PacketProperties &properties,
                                     TransferStatus &status)
{
    ReceiveBuffer buffer = AllocateReceiveBuffer(static_cast<std::uint64_t>(receive_buffer_size));
    if (!buffer) {
        std::puts("Could not allocate a buffer to receive the reply");
        return buffer;
    }
    status = StartRead(device, buffer, properties, id);
    return buffer;
}

void IR_ReceiveReply(DeviceHandle device, TransferId id, ReceiveBuffer buffer, PacketProperties &properties,
                     TransferStatus status, const ExpectedReply *expected)
{
    bool key_pressed = false;
    {
        // Single-key mode before the message, so that a key pressed as soon as
        // it shows is neither echoed nor left for the next prompt.
        SingleKeyMode single_key_mode;
        std::puts("Command successfully sent, waiting for reply. Press any key to stop.");
        std::fflush(stdout);
        WaitOnKeyPressOrReadCompleting(device, id, &status, &key_pressed);
        Vantor_FreeRead(device, id);
        ReplyDisplayed shown;
        if (status == VANTOR_TRANSFER_SUCCESS) {
            if (DisplayReceivedRMAPReply(buffer.data(), ReceivedLength(buffer, properties.len), properties.eop,
                                         stdout, nullptr, &shown) &&
                expected != nullptr) {
                CheckReplyMatches(shown.record, *expected, kTypedCommand, nullptr);
            }
        } else if (!key_pressed) {
            std::printf("Error reading reply: %s\n", DisplayStatus(status));
        }
        buffer = ReceiveBuffer{};
    }
    std::fflush(stdout);
}

bool IR_RequestCommand(int command, DeviceHandle device)
{
    RmapFieldStore &f = rmap_fields;
    std::span<const Field> fields;
    switch (command) {
    case RMAP_COMMAND_READ:
        fields = kReadFields;
        break;
    case RMAP_COMMAND_WRITE:
        fields = kWriteFields;
        break;
    case RMAP_COMMAND_READ_MODIFY_WRITE:
        fields = kReadModifyWriteFields;
        break;
    default:
        return true;
    }
    if (!AskFields(fields, f)) {
        return false;
    }
    if (command == RMAP_COMMAND_READ_MODIFY_WRITE && f.data.size() > kMostReadModifyWriteBytes) {
        // The mask has only the 4 bytes of its 32-bit value to pair with the data.
        std::printf("Error building RMAP packet: a read/modify/write carries at most %d data bytes\n",
                    kMostReadModifyWriteBytes);
        return true;
    }

    unsigned int length = 0;
    RmapPacketInfo info{};
    BuiltPacket packet = Build(command, f, length, info);
    if (!packet) {
        std::puts("Error building RMAP packet");
        return true;
    }
    if (!AskCrc("Header CRC", RMAP_GetHeaderCRC(&info), f.header_crc, f.header_crc_set, f.header_crc_fixed,
                info.header_crc_location)) {
        return false;
    }
    if (command != RMAP_COMMAND_READ &&
        !AskCrc(command == RMAP_COMMAND_WRITE ? "Data CRC" : "Data and Mask CRC", RMAP_GetDataCRC(&info),
                f.data_crc, f.data_crc_set, f.data_crc_fixed, info.data_crc_location)) {
        return false;
    }

    const bool reply_expected = command != RMAP_COMMAND_WRITE || f.acknowledge != 0;
    if (!reply_expected) {
        Send(device, std::move(packet), length);
        return true;
    }
    Vantor_RegisterReceiveOnAllPorts(device);
    TransferId id = nullptr;
    PacketProperties properties{};
    TransferStatus status = VANTOR_TRANSFER_NOT_STARTED;
    ReceiveBuffer buffer = IR_StartReceivingReply(device, id, properties, status);
    if (!Send(device, std::move(packet), length)) {
        // No reply can come for a command that never went out.
        if (buffer) {
            Vantor_FreeRead(device, id);
        }
    } else if (buffer) {
        const ExpectedReply expected =
            ExpectReplyTo(command, f.verify_data, f.acknowledge, f.increment_address, f.destination_address,
                          f.source_address, static_cast<std::uint16_t>(f.transaction_identifier),
                          command == RMAP_COMMAND_READ ? static_cast<long long>(f.data_length)
                                                       : static_cast<long long>(f.data.size()));
        IR_ReceiveReply(device, id, std::move(buffer), properties, status, &expected);
    }
    Vantor_UnregisterReceiveOnAllPorts(device);
    return true;
}
