// The loops of a parsed RMAP command chain, checked and linked to their
// bodies as common/command_chain.h does it for both modes.
#ifndef ZARK_STREAM_RMAP_RMAP_LOOPS_H
#define ZARK_STREAM_RMAP_RMAP_LOOPS_H

#include "common/command_chain.h"
#include "common/expansion_limit.h"
#include "stream_rmap/rmap_command.h"

// False after printing why the chain cannot run.
inline bool CR_DealWithLoopCommands(RmapCommand *chain) { return PrepareLoops(chain, ExpansionMemoryLimit()); }

#endif
