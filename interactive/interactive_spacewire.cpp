#include "interactive/interactive_spacewire.h"

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include <strings.h>

#include "app/settings.h"
#include "common/console_input.h"
#include "common/data_value.h"
#include "common/display.h"
#include "common/key_press.h"
#include "common/number_base.h"
#include "common/value_notes.h"

namespace {

bool StartsWithIgnoringCase(std::string_view text, std::string_view start)
{
    return text.size() >= start.size() && strncasecmp(text.data(), start.data(), start.size()) == 0;
}

void ChangeBase(std::string_view word)
{
    const NumberBase base = GetBase(word);
    if (base == -1) {
        std::puts("Invalid base type entered.");
        return;
    }
    default_base = base;
    std::puts("Base updated.");
}

TransferStatus StartRead(DeviceHandle device, const ReceiveBuffer &buffer, PacketProperties &properties,
                         TransferId &id)
{
    return Vantor_ReadPackets(device, buffer.data(), buffer.size, 1, 0, &properties, &id);
}

// One packet typed: listen, send, show what comes back.
void Exchange(DeviceHandle device, const std::vector<std::uint8_t> &packet)
{
    Vantor_RegisterReceiveOnAllPorts(device);
    TransferId id = nullptr;
    PacketProperties properties{};
    TransferStatus status = VANTOR_TRANSFER_NOT_STARTED;
    ReceiveBuffer buffer = IS_StartReadingResponse(device, id, properties, status);
    if (!packet.empty()) {
        IS_SendCommand(device, packet);
    }
    if (buffer) {
        IS_ReadResponse(device, id, std::move(buffer), properties, status);
    }
    Vantor_UnregisterReceiveOnAllPorts(device);
}

// Reads the next line; none when the console has no more to give, which
// ends the mode (a read error is named first, since it is not the user's doing).
std::optional<std::string> ReadCommandLine()
{
    std::optional<std::string> line = ReadFromKeyboard();
    if (!line && std::ferror(stdin) != 0 && std::feof(stdin) == 0) {
        std::puts("Error reading command");
    }
    return line;
}

} // namespace

ReceiveBuffer IS_StartReadingResponse(DeviceHandle device, TransferId &id, PacketProperties &properties,
                                      TransferStatus &status)
{
    ReceiveBuffer buffer = AllocateReceiveBuffer(static_cast<std::uint64_t>(receive_buffer_size));
    if (!buffer) {
        std::puts("Could not allocate a buffer to receive packets");
        return buffer;
    }
    status = StartRead(device, buffer, properties, id);
    return buffer;
}

bool IS_SendCommand(DeviceHandle device, std::span<const std::uint8_t> data)
{
    TransferId id = nullptr;
    const TransferStatus status = Vantor_SendPacket(device, const_cast<std::uint8_t *>(data.data()),
                                                    static_cast<unsigned int>(data.size()), 1, &id);
    Vantor_FreeSend(device, id);
    if (status != VANTOR_TRANSFER_SUCCESS) {
        std::printf("Error sending command: %s\n", DisplayStatus(status));
        return false;
    }
    std::fputs("Command successfully sent.  ", stdout);
    return true;
}

void IS_ReadResponse(DeviceHandle device, TransferId id, ReceiveBuffer buffer, PacketProperties &properties,
                     TransferStatus status)
{
    bool key_pressed = false;
    SingleKeyMode single_key_mode;
    for (;;) {
        std::puts("Waiting for replies.  Press any key to stop.");
        std::fflush(stdout);
        WaitOnKeyPressOrReadCompleting(device, id, &status, &key_pressed);
        Vantor_FreeRead(device, id);
        if (status == VANTOR_TRANSFER_SUCCESS) {
            std::fputs("Received packet: ", stdout);
            DisplayData(buffer.data(), ReceivedLength(buffer, properties.len), properties.eop, stdout);
            std::putchar('\n');
            if (key_pressed) {
                break;
            }
            StartRead(device, buffer, properties, id);
            continue;
        }
        if (!key_pressed) {
            std::printf("Error reading packet: %s\n", DisplayStatus(status));
        }
        break;
    }
    std::fflush(stdout);
}

void IS_RequestCommand(DeviceHandle device)
{
    for (;;) {
        DiscardPendingInput();
        std::fputs("\n\nEnter the bytes to be sent, \"base=\" followed by a base "
                   "type to change the default or \"x\" to exit:\n",
                   stdout);
        std::fflush(stdout);
        const std::optional<std::string> line = ReadCommandLine();
        if (!line) {
            return;
        }
        const std::string_view text = *line;
        if (StartsWithIgnoringCase(text, "base=")) {
            ChangeBase(text.substr(5));
        } else if (StartsWithIgnoringCase(text, "b=")) {
            ChangeBase(text.substr(2));
        } else if (text.size() == 1 && (text[0] == 'x' || text[0] == 'X')) {
            return;
        } else if (std::optional<DataValue> packet = CreateDataFromString(text, false)) {
            // The prompt names what it asks for "the bytes to be sent".
            if (ReportPromptValueNotes("Bytes to be sent", packet->notes)) {
                Exchange(device, packet->bytes);
            }
        } else {
            std::puts("There was an error in the command entered");
        }
    }
}
