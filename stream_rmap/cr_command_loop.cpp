#include "stream_rmap/cr_command_loop.h"

#include <optional>
#include <string>

#include "app/settings.h"
#include "cmdlist/read_commands.h"
#include "common/command_chain.h"
#include "common/stream_journal.h"
#include "common/stream_run.h"
#include "common/transfer_guard.h"
#include "stream_rmap/rmap_execution.h"
#include "stream_rmap/rmap_loops.h"
#include "stream_rmap/rmap_parser.h"

RunOutcome CR_CommandLoop(DeviceHandle device, StreamFiles &files)
{
    int output_base = -1;
    int errors = 0;
    IncludeChain include_files;

    std::optional<std::string> text = ReadCommands(files.command_list, &include_files, 0);
    if (!text) {
        std::puts("There was an error reading the command list file.");
        return RUN_LIST_REFUSED;
    }
    WriteStreamDump(files, *text);

    bool refused = false;
    RmapCommandPtr chain = CR_ProcessCommands(*text, &output_base, &refused);
    text.reset();
    if (!chain) {
        // A list without commands is accepted: it runs nothing, and says nothing more.
        if (!refused) {
            OpenStreamOutput(files);
        }
        return refused ? RUN_LIST_REFUSED : RUN_SUCCEEDED;
    }
    if (!CR_DealWithLoopCommands(chain.get())) {
        return RUN_LIST_REFUSED;
    }

    // Replies are shown in the list's output base, whatever base its values were read in.
    default_base = output_base > 0 ? output_base : 16;
    std::FILE *output = OpenStreamOutput(files);

    StreamRunBegin(output);
    JournalBegin(files.json);
    long long run = 0;
    // What the executions hold is given back once receiving has stopped.
    RmapRuns runs(device);
    {
        const ReceiveRegistration receiving(device);
        run = CR_ExecuteCommands(runs, chain.get(), output, errors);
        CR_WaitOnResponses(runs, chain.get(), output, errors);
    }
    StreamRunEnd();

    if (StreamRunInterrupted()) {
        ReportInterruption(run, static_cast<long long>(CountRuns(static_cast<const RmapCommand *>(chain.get()))));
    } else if (errors != 0) {
        std::printf("There were %d errors encountered performing the command list\n", errors);
    } else {
        std::puts("The command list was successfully executed.");
    }
    JournalCount().commands = run;
    JournalCount().errors = errors;
    JournalEnd(StreamRunInterrupted());
    return errors != 0 ? RUN_COUNTED_ERRORS : RUN_SUCCEEDED;
}
