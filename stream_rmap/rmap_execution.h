// Running a prepared RMAP command chain: every command is built and sent,
// each with its reply read started just before; then every reply is awaited
// in the same order and shown.
#ifndef ZARK_STREAM_RMAP_RMAP_EXECUTION_H
#define ZARK_STREAM_RMAP_RMAP_EXECUTION_H

#include <cstdint>
#include <cstdio>

#include "common/receive_buffer.h"
#include "common/run_store.h"
#include "device/vantor_api.h"
#include "stream_rmap/rmap_command.h"

// What one execution of a command holds until its reply is collected; a
// repeated command has one of these for every time it runs.
struct RmapRun {
    TransferId send = nullptr;
    TransferId read = nullptr;
    std::uint8_t *reply = nullptr; // in the runs' arena
    PacketProperties reply_properties{};
    TransferStatus send_status = VANTOR_TRANSFER_NOT_STARTED;
    TransferStatus read_status = VANTOR_TRANSFER_NOT_STARTED;
};

// Gives back the transfers an execution still holds.
void ReleaseTransfers(DeviceHandle device, RmapRun &run);

// The executions of one run, in run order, and their reply buffers.  Every
// transfer identifier still held is given back when this goes.
struct RmapRuns : DeviceRuns<RmapRun> {
    using DeviceRuns::DeviceRuns;
    RmapRuns(const RmapRuns &) = delete;
    RmapRuns &operator=(const RmapRuns &) = delete;
    ~RmapRuns() { ReleaseAll(); } // before the reply buffers go

    ReceiveArena replies;
};

// The first sweep.  A command whose packet cannot be built is reported, counted
// and not sent.  errors grows by one per failure.  Stops sending once the run
// is interrupted; returns how many commands it went through.
long long CR_ExecuteCommands(RmapRuns &runs, RmapCommand *chain, std::FILE *output, int &errors);

// The second sweep: collects each send's final status (a failed send is
// reported and counted, and its reply not waited for), then waits for each
// expected reply and shows it on output (or
// standard output when output is null), appending read data to the command's
// file.  A reply that does not answer its command is shown and counted.  Once
// the run is interrupted, only replies that have already come are shown.
// Every transfer is released here.
void CR_WaitOnResponses(RmapRuns &runs, RmapCommand *chain, std::FILE *output, int &errors);

#endif
