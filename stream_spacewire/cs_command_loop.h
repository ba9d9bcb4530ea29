// The SpaceWire command-stream mode.
#ifndef ZARK_STREAM_SPACEWIRE_CS_COMMAND_LOOP_H
#define ZARK_STREAM_SPACEWIRE_CS_COMMAND_LOOP_H

#include <cstdio>

#include "device/vantor_api.h"

// Reads, parses and runs the command list; output and dump may be null.
void CS_CommandLoop(DeviceHandle device, std::FILE *command_list, std::FILE *output, std::FILE *dump);

#endif
