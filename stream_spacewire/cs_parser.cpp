#include "stream_spacewire/cs_parser.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <utility>

#include "app/settings.h"
#include "common/white_space.h"
#include "common/data_value.h"
#include "common/value_notes.h"
#include "stream_spacewire/cs_property_text.h"

namespace {

constexpr std::int64_t kLargestTransferBytes = std::numeric_limits<std::int32_t>::max();

bool AtEnd(std::string_view text, std::size_t cursor) { return cursor >= text.size(); }

bool IsSpaceAt(std::string_view text, std::size_t cursor)
{
    return !AtEnd(text, cursor) && IsWhiteSpace(static_cast<unsigned char>(text[cursor]));
}

bool IsSemicolonAt(std::string_view text, std::size_t cursor) { return !AtEnd(text, cursor) && text[cursor] == ';'; }

// The device calls take 32-bit sizes, and every buffer of a command holds
// all of its packets.
bool FitsTransfer(std::int32_t packet_count, std::int32_t packet_length)
{
    return static_cast<std::int64_t>(packet_count) * packet_length <= kLargestTransferBytes;
}

SpaceWireCommandList NewRecord(SpaceWireCommandType type, std::int32_t number)
{
    return SpaceWireCommandList(new (std::nothrow) SpaceWireCommand(type, number));
}

// Reads the value of e: at cursor; false after printing the message.
bool ReadEndMarker(std::string_view text, std::size_t &cursor, std::uint8_t &end_with_eep)
{
    if (AtEnd(text, cursor)) {
        // No letter at all: the message shows none rather than a NUL byte.
        std::printf("Error in EOP type .\n");
        return false;
    }
    const char letter = text[cursor];
    switch (std::toupper(static_cast<unsigned char>(letter))) {
    case 'E':
    case 'Y':
    case 'T':
        end_with_eep = 1;
        break;
    case 'O':
    case 'N':
    case 'F':
        end_with_eep = 0;
        break;
    default:
        std::printf("Error in EOP type %c.\n", letter);
        return false;
    }
    ++cursor;
    if (!EndsValue(text, cursor)) {
        std::puts("Error in EOP type argument.");
        return false;
    }
    return true;
}

// Reads the data of d: at cursor, leaving the cursor on the ";" that ends it.
bool ReadSendData(std::string_view text, std::size_t &cursor, SpaceWireCommand &command)
{
    const std::size_t end = text.find(';', cursor);
    if (end == std::string_view::npos) {
        std::printf("Error, no semi-colon in data field of send command %d.\n", command.number);
        return false;
    }
    const std::string_view field = text.substr(cursor, end - cursor);
    std::optional<DataValue> converted;
    if (field.size() <= kLongestPropertyText) {
        converted = CreateDataFromString(field, false);
    }
    if (!converted || converted->bytes.size() > static_cast<std::size_t>(kLargestTransferBytes) ||
        !ReportListValueNotes(command.number, text.substr(cursor - 2, 1), converted->notes)) {
        std::printf("Error in data of send command %d.\n", command.number);
        return false;
    }
    command.data = std::move(converted->bytes);
    command.data_length = static_cast<std::int32_t>(command.data.size());
    cursor = end;
    return true;
}

// Makes data hold packet_count copies of the packet, back to back.
bool ReplicatePacket(SpaceWireCommand &command)
{
    if (command.packet_count < 2) {
        return true;
    }
    const auto packet = static_cast<std::size_t>(command.data_length);
    const auto count = static_cast<std::size_t>(command.packet_count);
    try {
        command.data.resize(packet * count);
    } catch (const std::bad_alloc &) {
        return false;
    } catch (const std::length_error &) {
        return false;
    }
    // Doubling the filled part keeps the copies few however small the packet.
    const std::size_t total = packet * count;
    for (std::size_t filled = packet; filled < total;) {
        const std::size_t chunk = std::min(filled, total - filled);
        std::copy_n(command.data.begin(), chunk, command.data.begin() + static_cast<std::ptrdiff_t>(filled));
        filled += chunk;
    }
    return true;
}

// A count or length property, its letter just behind: a single value of at
// least minimum, or the property's message naming the command.  A value
// written too large is told of only when what is left of it would be taken.
template <typename Field>
bool ReadCount(std::string_view text, std::size_t &cursor, std::int32_t minimum, const char *message,
               std::int32_t number, Field &field)
{
    const std::string_view letter = text.substr(cursor - 2, 1);
    const std::optional<SingleValue> value = ReadSingleValue(text, cursor);
    if (!value || value->value < minimum || !ReportListValueNotes(number, letter, value->notes)) {
        std::printf(message, number);
        return false;
    }
    field = static_cast<Field>(value->value); // at least minimum, which is not negative
    return true;
}

} // namespace

SpaceWireCommandList CS_ReadSendCommand(std::string_view text, std::size_t &cursor, std::int32_t number)
{
    SpaceWireCommandList command = NewRecord(SPACEWIRE_COMMAND_SEND, number);
    if (!command) {
        std::printf("Error, allocating memory for the send structure for command %d\n", number);
        return nullptr;
    }
    bool have_data = false;
    while (!AtEnd(text, cursor) && !IsSemicolonAt(text, cursor)) {
        if (IsSpaceAt(text, cursor)) {
            ++cursor;
        } else if (IsPropertyAt(text, cursor, 'n')) {
            cursor += 2;
            if (!ReadCount(text, cursor, 1, "Error in number of packets specified in send command %d.\n", number, command->packet_count)) {
                return nullptr;
            }
        } else if (IsPropertyAt(text, cursor, 'e')) {
            cursor += 2;
            if (!ReadEndMarker(text, cursor, command->end_with_eep)) {
                return nullptr;
            }
        } else if (IsPropertyAt(text, cursor, 'd')) {
            cursor += 2;
            if (!ReadSendData(text, cursor, *command)) {
                return nullptr;
            }
            have_data = true;
        } else {
            std::printf("Unexpected property type in send command %d.\n", number);
            return nullptr;
        }
    }
    if (!have_data) {
        std::printf("No data was specified in send command %d.\n", number);
        return nullptr;
    }
    ++cursor;
    if (!FitsTransfer(command->packet_count, command->data_length)) {
        std::printf("Error in number of packets specified in send command %d.\n", number);
        return nullptr;
    }
    if (!ReplicatePacket(*command)) {
        std::printf("Error, allocating memory for the data for send command %d\n", number);
        return nullptr;
    }
    return command;
}

SpaceWireCommandList CS_ReadReceiveCommand(std::string_view text, std::size_t &cursor, std::int32_t number)
{
    SpaceWireCommandList command = NewRecord(SPACEWIRE_COMMAND_RECEIVE, number);
    if (!command) {
        std::printf("Error, not enough memory to allocate the receive structure for command %d\n", number);
        return nullptr;
    }
    for (;;) {
        if (AtEnd(text, cursor) || IsSemicolonAt(text, cursor)) {
            if (command->packet_length < 0) {
                std::printf("No packet length specified in receive command %d.\n", number);
                return nullptr;
            }
            if (AtEnd(text, cursor)) {
                std::printf("Receive command %d was not terminated by a semi-colon.\n", number);
                return nullptr;
            }
            ++cursor;
            break;
        }
        if (IsSpaceAt(text, cursor)) {
            ++cursor;
        } else if (IsPropertyAt(text, cursor, 'n')) {
            cursor += 2;
            if (!ReadCount(text, cursor, 1, "Error in number of packets specified in receive command %d.\n", number, command->packet_count)) {
                return nullptr;
            }
        } else if (IsPropertyAt(text, cursor, 'l')) {
            cursor += 2;
            if (!ReadCount(text, cursor, 1, "Error in packet length specified in receive command %d.\n", number, command->packet_length)) {
                return nullptr;
            }
        } else if (IsPropertyAt(text, cursor, 'f')) {
            cursor += 2;
            const std::optional<std::string_view> name = ReadFileName(text, cursor);
            if (!name) {
                std::printf("Error in filename specified in receive command %d.\n", number);
                return nullptr;
            }
            try {
                command->filename.assign(*name);
            } catch (const std::bad_alloc &) {
                std::printf("Error allocating memory for filename in receive command %d.\n", number);
                return nullptr;
            }
        } else {
            std::printf("Unexpected property type in receive command %d.\n", number);
            return nullptr;
        }
    }
    if (!FitsTransfer(command->packet_count, command->packet_length)) {
        std::printf("Error in number of packets specified in receive command %d.\n", number);
        return nullptr;
    }
    return command;
}

SpaceWireCommandList CS_ReadLoopCommand(std::string_view text, std::size_t &cursor, std::int32_t number)
{
    SpaceWireCommandList command = NewRecord(SPACEWIRE_COMMAND_LOOP, number);
    if (!command) {
        std::printf("Error, not enough memory to allocate the loop structure for command %d\n", number);
        return nullptr;
    }
    for (;;) {
        if (AtEnd(text, cursor)) {
            std::printf("Loop command %d was not terminated by a semi-colon.\n", number);
            return nullptr;
        }
        if (IsSemicolonAt(text, cursor)) {
            ++cursor;
            return command;
        }
        if (IsSpaceAt(text, cursor)) {
            ++cursor;
        } else if (IsPropertyAt(text, cursor, 'n')) {
            cursor += 2;
            if (!ReadCount(text, cursor, 0, "Error in number to repeat specified in loop command %d.\n", number, command->number_to_repeat)) {
                return nullptr;
            }
        } else if (IsPropertyAt(text, cursor, 't')) {
            cursor += 2;
            if (!ReadCount(text, cursor, 0, "Error in times to repeat specified in loop command %d.\n", number, command->times_to_repeat)) {
                return nullptr;
            }
        } else {
            std::printf("Unexpected property type in loop command %d.\n", number);
            return nullptr;
        }
    }
}

NumberBase CS_ReadBase(std::string_view text, std::size_t &cursor, std::int32_t number)
{
    NumberBase base = -1;
    for (;;) {
        if (AtEnd(text, cursor) || IsSemicolonAt(text, cursor)) {
            if (base < 0) {
                std::printf("No base specified in base command %d.\n", number);
                return -1;
            }
            if (AtEnd(text, cursor)) {
                std::printf("Base command %d was not terminated by a semi-colon.\n", number);
                return -1;
            }
            ++cursor;
            return base;
        }
        if (IsSpaceAt(text, cursor)) {
            ++cursor;
            continue;
        }
        const std::size_t start = cursor;
        while (!EndsValue(text, cursor)) {
            ++cursor;
        }
        if (AtEnd(text, cursor)) {
            std::printf("Missing semi-colon in base command %d.\n", number);
            return -1;
        }
        const std::string_view word = text.substr(start, cursor - start);
        const NumberBase read = word.size() <= kLongestPropertyText ? GetBase(word) : -1;
        if (read < 0) {
            std::printf("Invalid base specified in base command %d.\n", number);
            return -1;
        }
        base = read;
    }
}

bool CS_ProcessCommands(std::string_view text, SpaceWireCommandList &list, NumberBase &output_base)
{
    list.reset();
    SpaceWireCommandList *tail = &list;
    std::int32_t number = 0;
    std::size_t cursor = 0;
    for (;;) {
        while (IsSpaceAt(text, cursor)) {
            ++cursor;
        }
        if (AtEnd(text, cursor)) {
            std::puts("Command list file successfully processed.");
            return true;
        }
        const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[cursor])));
        ++cursor;
        SpaceWireCommandList record;
        switch (letter) {
        case 'S':
            record = CS_ReadSendCommand(text, cursor, number);
            break;
        case 'R':
            record = CS_ReadReceiveCommand(text, cursor, number);
            break;
        case 'L':
            record = CS_ReadLoopCommand(text, cursor, number);
            break;
        case 'B':
        case 'O': {
            const NumberBase base = CS_ReadBase(text, cursor, number);
            if (base < 2) {
                return false;
            }
            // The input base governs every value read from here on.
            (letter == 'B' ? default_base : output_base) = base;
            ++number;
            continue;
        }
        default:
            std::printf("Error in command list file at command %d.\n", number);
            return false;
        }
        if (!record) {
            return false;
        }
        ++number;
        *tail = std::move(record);
        tail = &(*tail)->next;
    }
}
