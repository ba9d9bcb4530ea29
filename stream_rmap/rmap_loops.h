// Loop expansion of a parsed RMAP command chain.
//
// A loop command with NumberToRepeat N and TimesToRepeat T repeats the N
// commands that follow it T times; a loop inside that body counts, with its
// own body, as one command.  Writing L(N, T) for a loop and X, Y, Z for other
// commands:
//
//   L(2, 3) X Y Z          X Y X Y X Y Z
//   L(2, 1) X Y            X Y
//   L(2, 0) X Y Z          Z                (X and Y are released unsent)
//   L(0, 5) X              X
//   L(2, 2) L(1, 3) X Y    X X X Y X X X Y
//
// After expansion a loop with N and T non-zero holds T chains (children): the
// body cut out of the chain, then T - 1 deep copies of it, and the loop's next
// is the command that followed the body.  Copies keep the numbers of the
// commands they copy, and carry every property including the CRCs and the
// file name, so each repetition sends what the user wrote.
#ifndef ZARK_STREAM_RMAP_RMAP_LOOPS_H
#define ZARK_STREAM_RMAP_RMAP_LOOPS_H

#include "stream_rmap/rmap_command.h"

// Expands every loop of the chain; false after printing why (the chain can
// then still be released as a whole).
bool CR_DealWithLoopCommands(RmapCommand *chain);

// Makes copy a deep copy of the chain starting at source, loop repetitions
// included.  False after printing why; what was copied stays in copy.
bool CR_CopyList(RmapCommandPtr &copy, const RmapCommand *source);

#endif
