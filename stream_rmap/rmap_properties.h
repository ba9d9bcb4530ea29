// The named properties of RMAP commands: applying one from its text, the
// number bases of a base command, and taking missing properties from another
// command.  The parser reports per command; here only a number that does not
// fit its field is told of, as a warning (or with -strict an error that fails
// the property) naming the command's number and the property as written.
//
// A name is matched after leading white space, case ignored, as any prefix of
// the full name at least as long as the shortest form; nothing may follow it
// (not even a blank).  Names are tried in this order and the first match wins,
// even when the command's type does not accept that property:
//
//   property (other name)               shortest  accepted in  value
//   DestinationAddress                  2         r w m        byte list
//   SourceAddress                       2         r w m        byte list
//   VerifyBeforeWrite                   2         w            boolean
//   Acknowledge                         2         w            boolean
//   IncrementTarget                     2         r w          boolean
//   DestinationKey (Key)                12 (2)    r w m        number, low 8 bits
//   TransactionIdentifier               2         r w m        number, low 16 bits
//   ReadWriteAddress (Address)          2 (2)     r w m        number, 32 bits
//   ExtendedReadWriteAddress            2         r w m        number, low 8 bits
//   Data                                2         w m          byte list (m: at most 4)
//   Mask                                2         m            byte list, at most 4
//   DataLength (Length)                 5 (2)     r            number, 32 bits (24 sent)
//   HeaderCRC                           2         r w m        number, low 8 bits
//   DataCRC (CRC)                       5 (2)     w m          number, low 8 bits
//   TimesToRepeat                       2         l            number, 32 bits
//   NumberToRepeat                      2         l            number, 32 bits
//   Filename                            2         r m          text
//
// (r read, w write, m read/modify/write, l loop.)  So "De" is
// DestinationAddress, "DestinationK" DestinationKey, "Da" Data (refused by a
// read), "DataL" DataLength and "DataC" DataCRC.
//
// Byte lists and numbers use the data-value syntax in the input base of the
// moment; a number is the value of the one item given, cut to the width (the
// data length is kept in 32 bits; more than 24 cannot be sent).  An
// empty byte list is present with no bytes; an empty number is 0.  Booleans
// are the boolean words with nothing after them.  A file name may be quoted
// with " ' or ` (the same quote at both ends, white space after the closing
// one ignored); unquoted, it is the text as written, trailing blanks included.
//
// A base command takes InputBase and OutputBase (shortest form 2), each a base
// word (2 i 0b, 8 o 0o, 10 n 0d, 16 h 0x) after optional leading white space
// and with nothing after it.  InputBase changes default_base at once.
#ifndef ZARK_STREAM_RMAP_RMAP_PROPERTIES_H
#define ZARK_STREAM_RMAP_RMAP_PROPERTIES_H

#include <string_view>

#include "stream_rmap/rmap_command.h"

// Applies one property to the command; false when the name is unknown, the
// command's type does not take it, or the value is not valid (with -strict:
// also when it does not fit).  Notes name command.number.
bool CR_SetFieldValue(RmapCommand &command, std::string_view name, std::string_view value);

// Applies one property of a base command: InputBase sets default_base,
// OutputBase sets *output_base (when output_base is not null).
bool CR_SetFieldValueBase(std::string_view name, std::string_view value, int *output_base);

// Fills in every property that command lacks and source has (none when
// source is null); never the type, number, CRCs, file name, loop repetitions
// or what running produced.  Byte lists are shared, not copied.
void CR_CopyDefaultFields(RmapCommand &command, const RmapCommand *source);

#endif
