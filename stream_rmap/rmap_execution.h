// Running an expanded RMAP command chain: every command is built and sent,
// each with its reply read started just before; then every reply is awaited
// in the same order and shown.
#ifndef ZARK_STREAM_RMAP_RMAP_EXECUTION_H
#define ZARK_STREAM_RMAP_RMAP_EXECUTION_H

#include <cstdio>

#include "device/vantor_api.h"
#include "stream_rmap/rmap_command.h"

// The first sweep.  A command whose packet cannot be built is reported, counted
// and not sent.  errors grows by one per failure.  Stops sending once the run
// is interrupted; returns how many commands it went through.
long long CR_ExecuteCommands(DeviceHandle device, RmapCommand *chain, std::FILE *output, int &errors);

// The second sweep: collects each send's final status (a failed send is
// reported and counted, and its reply not waited for), then waits for each
// expected reply and shows it on output (or
// standard output when output is null), appending read data to the command's
// file.  A reply that does not answer its command is shown and counted.  Once
// the run is interrupted, only replies that have already come are shown.
// Every reply read is released here; the sends go with the chain.
void CR_WaitOnResponses(DeviceHandle device, RmapCommand *chain, std::FILE *output, int &errors);

#endif
