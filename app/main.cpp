#include <cstdio>
#include <cstdlib>

#include "app/arguments.h"
#include "app/device_opening.h"
#include "app/mode_selection.h"
#include "app/settings.h"
#include "common/run_outcome.h"
#include "common/stream_files.h"
#include "common/stream_run.h"
#include "device/vantor_api.h"
#include "interactive/interactive_rmap.h"
#include "interactive/interactive_spacewire.h"
#include "stream_rmap/cr_command_loop.h"
#include "stream_spacewire/cs_command_loop.h"

namespace {

constexpr double kProgramVersion = ZARK_PROGRAM_VERSION; // from project() in CMakeLists.txt

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

RunOutcome RunMode(OperatingMode mode, DeviceHandle device, StreamFiles &files)
{
    switch (mode) {
    case MODE_INTERACTIVE_SPACEWIRE:
        IS_RequestCommand(device);
        return RUN_SUCCEEDED;
    case MODE_INTERACTIVE_RMAP:
        IR_MenuLoop(device);
        return RUN_SUCCEEDED;
    case MODE_SPACEWIRE_STREAM:
        return CS_CommandLoop(device, files);
    case MODE_RMAP_STREAM:
        return CR_CommandLoop(device, files);
    default:
        return RUN_SUCCEEDED;
    }
}

} // namespace

int main(int argc, char **argv)
{
    PrintBanner();
    ProcessArguments(argc, argv);
    DeviceHandle device = OpenDevice(specified_device);
    const OperatingMode mode = GetMode(specified_mode);

    StreamFiles files;
    if ((mode & MODE_FLAG_STREAM) != 0) {
        files.command_list = GetInputCommandFile(specified_input_file);
        files.output_path = GetOutputCommandFile(specified_output_file);
        files.dump_path = GetDumpCommandOutputFile(specified_dump_output_file);
        if (specified_json_file != nullptr && *specified_json_file != '\0') {
            files.json_path = specified_json_file;
        }
    }

    // Output or dump files naming the list (or each other) refuse the run
    // before anything is opened for writing.
    RunOutcome outcome = (mode & MODE_FLAG_STREAM) != 0 && !StreamFilesAreDistinct(files)
                             ? RUN_LIST_REFUSED
                             : RunMode(mode, device, files);

    CloseIfOpen(files.command_list);
    if (!CloseStreamFiles(files) && outcome == RUN_SUCCEEDED) {
        outcome = RUN_COUNTED_ERRORS;
    }
    std::fflush(stdout);
    if (const int signal_number = StreamRunSignal(); signal_number != 0) {
        return 128 + signal_number;
    }
    return strict_mode ? outcome : 0;
}
