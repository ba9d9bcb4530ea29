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

// Sends and receives of the list, and how many of them have been run.
struct RunCount {
    long long run = 0;
    long long in_list = 0;
};

RunCount CountRun(const SpaceWireCommand *list)
{
    RunCount count;
    VisitInRunOrder(list, [&count](const SpaceWireCommand &command) {
        if (command.type == SPACEWIRE_COMMAND_LOOP) {
            return;
        }
        ++count.in_list;
        if (Submitted(command) || command.status != VANTOR_TRANSFER_NOT_STARTED) {
            ++count.run;
        }
    });
    return count;
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
    RunCount count;
    {
        const ReceiveRegistration receiving(device);
        CS_ExecuteCommandsInOrder(device, list.get(), output, error_count, nullptr);
        // Which commands ran is read from the transfers the collection below
        // releases, and only a run cut short while sending needs it: one
        // stopped later ran all.
        cut_short = StreamRunInterrupted();
        if (cut_short) {
            count = CountRun(list.get());
        }
        CS_WaitOnSends(device, list.get(), output, error_count);
        std::FILE *stream = output != nullptr ? output : stdout;
        {
            ConsoleGuard console(stream == stdout);
            std::fputs(BaseComment(default_base), stream);
        }
        CS_WaitOnReads(device, list.get(), stream, error_count);
    }
    StreamRunEnd();
    if (JournalOn() || strict_mode) {
        CS_RecordRun(list.get());
    }
    if (!cut_short && StreamRunInterrupted()) {
        count.in_list = CountRun(list.get()).in_list;
        count.run = count.in_list;
    }
    list.reset();

    if (StreamRunInterrupted()) {
        ReportInterruption(count.run, count.in_list);
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
