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
// Each operation returns false when standard input has ended, and sets the
// field (value, set, fixed) from what was accepted.
#ifndef ZARK_INTERACTIVE_RMAP_FIELD_ENTRY_H
#define ZARK_INTERACTIVE_RMAP_FIELD_ENTRY_H

#include "interactive/rmap_field_store.h"

// Bits a value field has in the packet, and how many of an entry's bits the
// packet is built from.
struct FieldWidth {
    int bits = 32;
    int kept_bits = 32;
};

// A yes/no field.
bool IR_ReadTrueOrFalse(const char *name, RmapFlag &field);

// A single value of up to 32 bits.
bool IR_ReadDataValue(const char *name, FieldWidth width, RmapValue &field);

// A byte string; a new entry replaces the bytes.
bool IR_ReadData(const char *name, RmapBytes &field);

#endif
