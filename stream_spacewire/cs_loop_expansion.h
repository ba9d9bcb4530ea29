// Loop expansion of a parsed SpaceWire command list, and its deep copy.
//
// After parsing a loop record stands in front of its body: the
// number_to_repeat commands that follow it, where a loop together with its
// own body counts as one command.  Expansion walks the list once and, for
// every loop with number_to_repeat above 0:
//   - times_to_repeat above 0: the body is cut out of the list into
//     children[0] and children[1 .. times_to_repeat-1] become deep copies of
//     it (copies keep the command numbers); nested loops of the body are
//     expanded first, so every loop is expanded exactly once;
//   - times_to_repeat 0: the body is cut out and released.
// Loops with number_to_repeat 0 keep no children; the commands after them
// stay in the list.  Example: "L n:2 t:3; S d:1; R l:4; S d:2;" becomes
//   loop(children: [S1 R], [S1 R], [S1 R]) -> S2.
// Repetitions that together could never fit in the machine's memory are
// refused as children that cannot be allocated, before any is made.
// Nothing recurses, whatever the nesting depth.
#ifndef ZARK_STREAM_SPACEWIRE_CS_LOOP_EXPANSION_H
#define ZARK_STREAM_SPACEWIRE_CS_LOOP_EXPANSION_H

#include "stream_spacewire/spacewire_command.h"

// Expands every loop of the list.  On failure (after one message) the list
// can still be released with CS_FreeCommands.
bool CS_DealWithLoopCommands(SpaceWireCommandList &list);

// Builds a deep copy of the whole list from source, loop children included,
// without the execution state.  copy is emptied first; on failure it keeps
// what was copied so far.
bool CS_CopyList(SpaceWireCommandList &copy, const SpaceWireCommand *source);

#endif
