#include <cstdio>

#include "app/arguments.h"
#include "app/device_opening.h"
#include "app/mode_selection.h"
#include "app/settings.h"
#include "device/vantor_api.h"
#include "interactive/interactive_rmap.h"
#include "interactive/interactive_spacewire.h"
#include "stream_rmap/cr_command_loop.h"
#include "stream_spacewire/cs_command_loop.h"

namespace {

constexpr double kProgramVersion = 2.3;

void PrintBanner()
{
    std::printf("\n\n                      SpaceWire ZARK Software Version %1.2f\n", kProgramVersion);
    std::puts("                         Raw SpaceWire packets and RMAP transactions");
    std::puts("                             for the spacecraft test bench");
    std::printf("                   Using SpaceWire USB Driver version %1.2f\n", Vantor_GetDriverVersion());
    std::puts("\n");
}

void CloseIfOpen(std::FILE *file)
{
    if (file != nullptr) {
        std::fclose(file);
    }
}

} // namespace

int main(int argc, char **argv)
{
    PrintBanner();
    ProcessArguments(argc, argv);
    DeviceHandle device = OpenDevice(specified_device);
    const OperatingMode mode = GetMode(specified_mode);

    std::FILE *command_list = nullptr;
    std::FILE *output = nullptr;
    std::FILE *dump = nullptr;
    if ((mode & MODE_FLAG_STREAM) != 0) {
        command_list = GetInputCommandFile(specified_input_file);
        output = GetOutputCommandFile(specified_output_file);
        dump = GetDumpCommandOutputFile(specified_dump_output_file);
    }

    switch (mode) {
    case MODE_INTERACTIVE_SPACEWIRE:
        IS_RequestCommand(device);
        break;
    case MODE_INTERACTIVE_RMAP:
        IR_MenuLoop(device);
        break;
    case MODE_SPACEWIRE_STREAM:
        CS_CommandLoop(device, command_list, output, dump);
        break;
    case MODE_RMAP_STREAM:
        CR_CommandLoop(device, command_list, output, dump);
        break;
    default:
        break;
    }

    CloseIfOpen(command_list);
    CloseIfOpen(output);
    CloseIfOpen(dump);
    return 0;
}
