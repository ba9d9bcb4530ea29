// The SpaceWire command-stream mode.
#ifndef ZARK_STREAM_SPACEWIRE_CS_COMMAND_LOOP_H
#define ZARK_STREAM_SPACEWIRE_CS_COMMAND_LOOP_H

#include "common/run_outcome.h"
#include "common/stream_files.h"
#include "device/vantor_api.h"

// Reads, parses and runs the command list; the dump and output files are
// opened on the way (see StreamFiles).
RunOutcome CS_CommandLoop(DeviceHandle device, StreamFiles &files);

#endif
