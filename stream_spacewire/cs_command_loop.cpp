#include "stream_spacewire/cs_command_loop.h"

#include <cstdint>
#include <optional>
#include <string>

#include "app/settings.h"
#include "cmdlist/read_commands.h"
#include "common/number_base.h"
#include "stream_spacewire/cs_execution.h"
#include "stream_spacewire/cs_loop_expansion.h"
#include "stream_spacewire/cs_parser.h"
#include "stream_spacewire/spacewire_command.h"

namespace {

const char *BaseComment(int base)
{
    switch (base) {
    case 2:
        return "/* Base = Binary */\n\n";
    case 8:
        return "/* Base = Octal */\n\n";
    case 10:
        return "/* Base = Decimal */\n\n";
    default:
        return "/* Base = Hexadecimal */\n\n";
    }
}

} // namespace

void CS_CommandLoop(DeviceHandle device, std::FILE *command_list, std::FILE *output, std::FILE *dump)
{
    SpaceWireCommandList list;
    NumberBase output_base = -1;
    std::int32_t error_count = 0;
    IncludeChain include_chain;

    std::optional<std::string> text = ReadCommands(command_list, &include_chain, 0);
    if (!text) {
        std::puts("There was an error reading the command list file.");
        return;
    }
    // Written before parsing, so that a list that fails to parse can be inspected.
    if (dump != nullptr) {
        std::fwrite(text->data(), 1, text->size(), dump);
    }
    const bool parsed = CS_ProcessCommands(*text, list, output_base);
    text.reset();
    if (!parsed || !CS_DealWithLoopCommands(list)) {
        CS_FreeCommands(list);
        return;
    }

    // From here on the base is the one received data is shown in.
    default_base = output_base > 0 ? output_base : 16;
    Vantor_RegisterReceiveOnAllPorts(device);
    CS_ExecuteCommandsInOrder(device, list.get(), output, error_count, nullptr);
    CS_WaitOnSends(device, list.get(), output, error_count);
    std::FILE *stream = output != nullptr ? output : stdout;
    std::fputs(BaseComment(default_base), stream);
    CS_WaitOnReads(device, list.get(), stream, error_count);
    CS_FreeCommands(list);
    Vantor_UnregisterReceiveOnAllPorts(device);

    if (error_count != 0) {
        std::printf("There were %d errors encountered performing the command list\n", error_count);
    } else {
        std::puts("The command list was successfully executed.");
    }
    Vantor_EnableSendEEPs(device, 0);
}
