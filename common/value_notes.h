// Doubts about a value the user typed, reported the same way in every mode:
// a warning that lets the value stand, or with -strict an error that refuses
// it.  The doubts: an item that does not fit the field it goes into (its low
// bits would be used), and an item that is a base prefix alone (it adds no
// byte, though 0b and 0d read like the hex bytes engineers mean by them).
//
// In a command list (the number is the command's, the property as written):
//   Warning: command 2, Key: 1ab does not fit in 8 bits; ab is used.
//   Error: command 2, Key: 1ab does not fit in 8 bits.
// At a prompt (the field as the prompt names it):
//   Warning: Destination Key: 0x1ab does not fit in 8 bits; 0xab is used.
//   Error: Destination Key: 0x1ab does not fit in 8 bits; please enter it again.
// A bare prefix:
//   Warning: command 2, Data: 0b is a base prefix alone and adds no byte; the byte is written 0x0b.
//   Warning: command 2, Data: 0x is a base prefix alone and adds no byte.
#ifndef ZARK_COMMON_VALUE_NOTES_H
#define ZARK_COMMON_VALUE_NOTES_H

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

struct ValueNote {
    std::string item; // the item as typed, prefix included
    std::string used; // the value used instead, in the item's base and with its prefix;
                      // for a bare prefix, the way to write the byte it looks like (or empty)
    int width = 0;    // bits of the field the item goes into; 0 for a bare prefix
};

// Prints one line per note of a value read from command number's property.
// True when the value stands: no notes, or warnings only.
bool ReportListValueNotes(std::int32_t number, std::string_view property, std::span<const ValueNote> notes);

// Any other doubt about what a command list says, as one line, with what is
// done about it when the list goes on (may be empty):
//   Warning: command 2, ReadWriteAddress: the value is empty; 0 is used.
//   Error: command 2, ReadWriteAddress: the value is empty.
// where may be empty (the doubt is about the command as a whole).  True when
// the list may go on: always without -strict.
bool ReportListDoubt(std::int32_t number, std::string_view where, const std::string &doubt,
                     const std::string &outcome);

// The same for a value typed at the prompt of field; false asks for it again.
bool ReportPromptValueNotes(std::string_view field, std::span<const ValueNote> notes);

#endif
