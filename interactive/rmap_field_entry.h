// Reading one RMAP header field at the console.
//
// A fixed field is shown as "<name> (FIXED): <value>" and not asked.
// Otherwise the prompt is "<name> (<default>): " ("<name>: " without a
// default) and the answer is a line:
//   empty              keeps the default (asks again when there is none)
//   <value>            a new value: a flag is any leading part of yes, true,
//                      yes f, true f (1) or no, false, no f, false f (0), case
//                      ignored; a value is one item of the data-value syntax;
//                      bytes are any number of items
//   <value>x, x        as above, and the field is fixed from now on
// Example: "20x" for "Destination Key" takes 20 and fixes it; the next
// command shows "Destination Key (FIXED): 20".
//
// A number beyond what its field carries (a byte: 8 bits; the fields named
// like Destination Key: their packet width) is taken with a warning, and its
// low bits go into the packet; with -strict it is refused and asked again.
//
// Each operation returns none (false) when standard input has ended.
#ifndef ZARK_INTERACTIVE_RMAP_FIELD_ENTRY_H
#define ZARK_INTERACTIVE_RMAP_FIELD_ENTRY_H

#include <cstdint>
#include <optional>
#include <vector>

// A yes/no field; sets set once a value is accepted.
std::optional<unsigned char> IR_ReadTrueOrFalse(const char *name, unsigned char current, unsigned char &set,
                                                unsigned char &fixed);

// A single value of up to 32 bits; sets set once a value is accepted.
std::optional<std::uint32_t> IR_ReadDataValue(const char *name, std::uint32_t current, unsigned char &set,
                                              unsigned char &fixed);

// A byte string; bytes is replaced by the new entry, kept when the default is taken.
bool IR_ReadData(const char *name, std::vector<std::uint8_t> &bytes, unsigned char &fixed);

#endif
