// Console input: whole lines, single words, and discarding typed-ahead input.
#ifndef ZARK_COMMON_CONSOLE_INPUT_H
#define ZARK_COMMON_CONSOLE_INPUT_H

#include <optional>
#include <string>

// One line of any length from standard input, without its line feed.
// Nothing at end of input when no character was read; a last line without a
// line feed is returned as it is.
std::optional<std::string> ReadFromKeyboard();

// One white-space-delimited word (empty lines are passed over), then the rest
// of its line is discarded.  Nothing at end of input.
std::optional<std::string> ReadWord();

// Drops console input typed ahead and not yet read.  Only a terminal has such
// input: scripted input on a pipe or file is kept, since it cannot be told
// apart from what is still to be asked for.
void DiscardPendingInput();

bool StandardInputIsTerminal();

#endif
