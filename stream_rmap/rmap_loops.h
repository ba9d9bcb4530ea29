// Loop expansion of a parsed RMAP command chain, as common/command_chain.h
// gives it for both modes.
#ifndef ZARK_STREAM_RMAP_RMAP_LOOPS_H
#define ZARK_STREAM_RMAP_RMAP_LOOPS_H

#include "common/command_chain.h"
#include "common/expansion_limit.h"
#include "stream_rmap/rmap_command.h"

// Expands every loop of the chain; false after printing why (the chain can
// then still be released as a whole).
inline bool CR_DealWithLoopCommands(RmapCommand *chain) { return ExpandLoops(chain, ExpansionMemoryLimit()); }

#endif
