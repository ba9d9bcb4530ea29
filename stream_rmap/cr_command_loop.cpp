#include "stream_rmap/cr_command_loop.h"

#include <optional>
#include <string>

#include "app/settings.h"
#include "cmdlist/read_commands.h"
#include "stream_rmap/rmap_execution.h"
#include "stream_rmap/rmap_loops.h"
#include "stream_rmap/rmap_parser.h"

void CR_CommandLoop(DeviceHandle device, std::FILE *command_list, std::FILE *output, std::FILE *dump)
{
    int output_base = -1;
    int errors = 0;
    IncludeChain include_files;

    std::optional<std::string> text = ReadCommands(command_list, &include_files, 0);
    if (!text) {
        std::puts("There was an error reading the command list file.");
        return;
    }
    if (dump != nullptr && !text->empty()) {
        std::fwrite(text->data(), 1, text->size(), dump);
    }

    RmapCommandPtr chain = CR_ProcessCommands(*text, &output_base);
    text.reset();
    if (!chain) {
        return;
    }
    if (!CR_DealWithLoopCommands(chain.get())) {
        CR_FreeCommands(std::move(chain));
        return;
    }

    // Replies are shown in the list's output base, whatever base its values were read in.
    default_base = output_base > 0 ? output_base : 16;

    Vantor_RegisterReceiveOnAllPorts(device);
    CR_ExecuteCommands(device, chain.get(), output, errors);
    CR_WaitOnResponses(device, chain.get(), output, errors);
    Vantor_UnregisterReceiveOnAllPorts(device);

    if (errors != 0) {
        std::printf("There were %d errors encountered performing the command list\n", errors);
    } else {
        std::puts("The command list was successfully executed.");
    }
    CR_ReleaseCommands(device, std::move(chain));
}
