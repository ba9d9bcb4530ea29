#include "interactive/interactive_spacewire.h"

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <strings.h>

#include "app/settings.h"
#include "common/console_input.h"
#include "common/data_value.h"
#include "common/display.h"
#include "common/number_base.h"
#include "common/value_notes.h"
#include "interactive/exchange.h"

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

constexpr ExchangeStyle kMonitor{
    .no_buffer = "Could not allocate a buffer to receive packets",
    .send_failed = "Error sending command: ",
    .sent = "Command successfully sent.  ",
    .waiting = "Waiting for replies.  Press any key to stop.",
    .read_failed = "Error reading packet: ",
    .monitor = true,
};

void ShowPacket(const std::uint8_t *bytes, int length, int end_type)
{
    std::fputs("Received packet: ", stdout);
    DisplayData(bytes, length, end_type, stdout);
    std::putchar('\n');
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
                ExchangePacket(device, packet->bytes, kMonitor, ShowPacket);
            }
        } else {
            std::puts("There was an error in the command entered");
        }
    }
}
