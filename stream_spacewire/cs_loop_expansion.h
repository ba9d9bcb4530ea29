// The loops of a parsed SpaceWire command list, checked and linked to their
// bodies as common/command_chain.h does it for both modes.  Example:
// "L n:2 t:3; S d:1; R l:4; S d:2;" runs S1 R2 S1 R2 S1 R2 S3.
#ifndef ZARK_STREAM_SPACEWIRE_CS_LOOP_EXPANSION_H
#define ZARK_STREAM_SPACEWIRE_CS_LOOP_EXPANSION_H

#include "common/command_chain.h"
#include "common/expansion_limit.h"
#include "stream_spacewire/spacewire_command.h"

// False after printing why the list cannot run; it can still be released as a whole.
inline bool CS_DealWithLoopCommands(SpaceWireCommandList &list) { return PrepareLoops(list.get(), ExpansionMemoryLimit()); }

#endif
