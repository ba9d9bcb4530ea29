#include "stream_spacewire/cs_command_loop.h"

#include <cstdint>
#include <optional>
#include <string>

#include "app/settings.h"
#include "cmdlist/read_commands.h"
#include "common/command_chain.h"
#include "common/number_base.h"
#include "common/stream_journal.h"
#include "common/stream_run.h"
#include "common/transfer_guard.h"
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

RunOutcome CS_CommandLoop(DeviceHandle device, StreamFiles &files)
{
    SpaceWireCommandList list;
    NumberBase output_base = -1;
    std::int32_t error_count = 0;
    IncludeChain include_chain;

    std::optional<std::string> text = ReadCommands(files.command_list, &include_chain, 0);
    if (!text) {
        std::puts("There was an error reading the command list file.");
        return RUN_LIST_REFUSED;
    }
    // Written before parsing, so that a list that fails to parse can be inspected.
    WriteStreamDump(files, *text);
    const bool parsed = CS_ProcessCommands(*text, list, output_base);
    text.reset();
    if (!parsed || !CS_DealWithLoopCommands(list)) {
        return RUN_LIST_REFUSED;
    }

    // From here on the base is the one received data is shown in.
    default_base = output_base > 0 ? output_base : 16;
    std::FILE *output = OpenStreamOutput(files);
    StreamRunBegin(output);
    JournalBegin(files.json);
    bool cut_short = false;
    // What the executions hold is given back once receiving has stopped.
    SpaceWireRuns runs(device);
    {
        const ReceiveRegistration receiving(device);
        CS_ExecuteCommandsInOrder(runs, list.get(), output, error_count);
        // A run stopped after sending ran every command.
        cut_short = StreamRunInterrupted();
        CS_WaitOnSends(runs, list.get(), output, error_count);
        std::FILE *stream = output != nullptr ? output : stdout;
        {
            ConsoleGuard console(stream == stdout);
            std::fputs(BaseComment(default_base), stream);
        }
        CS_WaitOnReads(runs, list.get(), stream, error_count);
    }
    StreamRunEnd();
    if (JournalOn() || strict_mode) {
        CS_RecordRun(runs, list.get());
    }

    if (StreamRunInterrupted()) {
        const auto in_list = static_cast<long long>(CountRuns(static_cast<const SpaceWireCommand *>(list.get())));
        ReportInterruption(cut_short ? static_cast<long long>(runs.runs.size()) : in_list, in_list);
    } else if (error_count != 0) {
        std::printf("There were %d errors encountered performing the command list\n", error_count);
    } else {
        std::puts("The command list was successfully executed.");
    }
    JournalCount().errors = error_count;
    JournalEnd(StreamRunInterrupted());
    Vantor_EnableSendEEPs(device, 0);
    return error_count != 0 ? RUN_COUNTED_ERRORS : RUN_SUCCEEDED;
}
