// The data-value syntax shared by every prompt and command list, and the
// boolean words.  Nothing here prints; failure is the caller's to report.
//
// Data values
// -----------
// Items separated by runs of white space (space, tab, CR, LF); white space
// before the first and after the last item is allowed; the empty text is an
// empty value.  An item is one of:
//
//   number     [prefix] digits
//              prefix: i or 0b (base 2), o or 0o (8), n or 0d (10), h or 0x (16),
//              either case, at most one, only at the start of the item.  A "0"
//              is a prefix only when b, o, d or x follows.  Without a prefix the
//              digits are in default_base.  The value is accumulated modulo 2^32
//              and contributes one byte, its low 8 bits.
//   text       a quote (" ' or `), then every character up to the next quote of
//              any of the three kinds, taken as bytes unchanged.  A text that
//              runs to the end of the line keeps what it collected.
//   file       "-" then a file name up to the next white space, or "-" then a
//              quoted name (which may hold white space); every byte of the file.
//
// Digits written directly behind a closing quote (of text or of a file name)
// are a number in default_base that contributes one more byte.
//
// The first value is the full 32-bit value of the first number when the
// first byte comes from a number, otherwise that first byte.
//
// An item made of a prefix alone, or of an empty pair of quotes, is skipped
// when it ends at white space after some byte has been produced (a prefix
// alone with a note, since 0b and 0d look like the bytes 0x0b and 0x0d); anywhere
// else (first item, or last in the text) it makes the text invalid.  So are
// a digit outside the item's base, any other character inside a number, "-"
// without a name, an empty or unclosed quoted file name, a file that is not a
// readable regular file, and a NUL character anywhere.
//
// Single-value mode: once an item that ends at white space leaves at least
// one byte in the result, only white space may follow.
//
// A number that does not fit where it goes is kept as its low bits, with a
// note (common/value_notes.h) for the caller to report: outside single-value
// mode each number worth more than a byte ("256" in base 10 gives the byte 0
// and a note); in single-value mode the caller asks FirstValueNotes with its
// field's width.
//
// Worked example, default_base 16, file "f" holding the bytes 41 42:
//   "0x1234  'a b'  i101 -f 7"  ->  34 61 20 62 05 41 42 07, first value 0x1234
//   "'' 12"                     ->  invalid (empty quotes before any byte)
//   "12 '' 34"                  ->  12 34
//   "12 0x"                     ->  invalid (bare prefix at the end)
#ifndef ZARK_COMMON_DATA_VALUE_H
#define ZARK_COMMON_DATA_VALUE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/value_notes.h"

// A number item as it was typed, for telling the user what became of it.
struct NumberItem {
    std::string text;              // prefix and digits
    std::size_t prefix_length = 0; // 0 without a prefix
    int base = 16;
    std::uint32_t value = 0;       // modulo 2^32
    bool beyond_32_bits = false;   // the digits were worth 2^32 or more
};

struct DataValue {
    std::vector<std::uint8_t> bytes; // one byte per number (its low 8 bits), text and file bytes as they are
    std::uint32_t first_value = 0;   // the first item's value in full (a quoted or file byte: that byte)
    std::optional<NumberItem> first_number; // the item behind first_value, when a number gave the first byte
    std::vector<ValueNote> notes;    // outside single-value mode: each number that does not fit its byte, each prefix alone
};

// Converts text in the data-value syntax, reading numbers without a prefix in
// default_base.  With single_value set, exactly one item that produces data is
// allowed.  No result means the text is not valid (including a file reference
// that cannot be read).
std::optional<DataValue> CreateDataFromString(std::string_view text, bool single_value);

// The note about the first value going into a field that holds width bits
// and keeps the low kept_bits of what it is given (kept_bits may exceed
// width when a field holds more than its use can carry, so that the value
// used is the value as read); none when it fits or was no number.
std::vector<ValueNote> FirstValueNotes(const DataValue &value, int width, int kept_bits);

// Accepts any non-empty leading part of "false", "no", "true" or "yes" (case
// ignored, leading white space skipped, nothing after it).  On success sets
// flag to 0 or 1 and returns true; otherwise leaves flag untouched.
bool CreateBooleanFromString(std::string_view text, unsigned char &flag);

#endif
