// Pieces of text shared by the command readers of the SpaceWire command-list
// parser (grammar in cs_parser.h): property letters, single values and file
// names.  Nothing here prints; the readers report with their own messages.
#ifndef ZARK_STREAM_SPACEWIRE_CS_PROPERTY_TEXT_H
#define ZARK_STREAM_SPACEWIRE_CS_PROPERTY_TEXT_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "common/value_notes.h"

// Longest property value, file name or base word: the 8,200-byte working
// buffer less its terminator.
inline constexpr std::size_t kLongestPropertyText = 8199;

// True when the text at cursor is the property letter (either case) directly
// followed by ":".
bool IsPropertyAt(std::string_view text, std::size_t cursor, char letter);

// True at white space, ";" or the end of the text: where a value ends.
bool EndsValue(std::string_view text, std::size_t cursor);

// A count or length, with a note when the value written does not fit the 31
// bits a non-negative count holds (it is then its low 32 bits, and negative
// from 2^31 on).
struct SingleValue {
    std::int32_t value = 0;
    std::vector<ValueNote> notes;
};

// Reads the single value that starts at cursor and runs to white space, ";"
// or the end, in the current input base; the cursor is left on that
// delimiter.  An empty value is 0.  The first value is taken as a signed
// 32-bit number.  Nothing when the text is not one valid value or is too long.
std::optional<SingleValue> ReadSingleValue(std::string_view text, std::size_t &cursor);

// Reads a receive command's file name starting at cursor (see cs_parser.h).
// Unquoted, the cursor is left on the delimiter behind it; quoted, just
// behind the closing quote.  Nothing for an empty, unterminated or too long name.
std::optional<std::string_view> ReadFileName(std::string_view text, std::size_t &cursor);

#endif
