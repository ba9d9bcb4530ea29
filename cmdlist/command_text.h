// Reading the raw text of one command-list file with its comments removed,
// and the length every command-list text must keep to.
#ifndef ZARK_CMDLIST_COMMAND_TEXT_H
#define ZARK_CMDLIST_COMMAND_TEXT_H

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

// Texts are counted in signed 32-bit numbers that include a terminator, so no
// text may be longer than this.
inline constexpr std::size_t kMaxCommandTextLength = 2147483646;

// The length actually enforced.  Only tests lower it, to reach the refusal
// without gigabytes of input.
inline std::size_t command_text_limit = kMaxCommandTextLength;

// True when a text of the given length may be built; otherwise prints the
// refusal and returns false.
bool CheckCommandTextLength(std::size_t length);
void PrintCommandTextTooLong();

// Bytes read from the file at a time; comment markers split between two reads
// are recognised all the same.
inline constexpr std::size_t kCommandReadBlock = 65536;

// Reads file from its current position to its end and returns the text with
// its comments removed (grammar in cmdlist/directives.h), or nothing after
// printing why: a comment left open, a NUL byte (command lists are text, and
// the text behind it would otherwise be lost), a read error, or a text longer
// than command_text_limit.
std::optional<std::string> ReadCommandText(std::FILE *file);

#endif
