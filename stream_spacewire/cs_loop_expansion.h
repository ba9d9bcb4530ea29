// Loop expansion of a parsed SpaceWire command list, as common/command_chain.h
// gives it for both modes.  Example: "L n:2 t:3; S d:1; R l:4; S d:2;" becomes
//   loop(children: [S1 R2], [S1 R2], [S1 R2]) -> S3.
#ifndef ZARK_STREAM_SPACEWIRE_CS_LOOP_EXPANSION_H
#define ZARK_STREAM_SPACEWIRE_CS_LOOP_EXPANSION_H

#include "common/command_chain.h"
#include "common/expansion_limit.h"
#include "stream_spacewire/spacewire_command.h"

// Expands every loop of the list.  On failure (after one message) the list
// can still be released as a whole.
inline bool CS_DealWithLoopCommands(SpaceWireCommandList &list) { return ExpandLoops(list.get(), ExpansionMemoryLimit()); }

#endif
