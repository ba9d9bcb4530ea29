// The SpaceWire command-list parser: turns the preprocessed text of a command
// list (comments removed, directives resolved) into a flat list of
// SpaceWireCommand records.
//
// Grammar
// -------
// Commands follow one another with any white space (space, tab, CR, LF)
// before and between them.  A command is one letter, either case, directly
// followed by its body and ended by ";".  Every command, base commands
// included, takes the next number from 0; messages name commands by it.
//
//   S  send     properties n: e: in any order, then d: last
//   R  receive  properties l: n: f: in any order (l: required)
//   L  loop     properties n: t: in any order
//   B  input base   one or more base words; the last one wins
//   O  output base  one or more base words; the last one wins
//
// A property is its letter (either case) directly followed by ":" and its
// value; properties are separated by optional white space and may repeat
// (the last one wins); ";" may follow the last value directly.
//
//   n:  send: packets to send (1 or more, default 1); receive: packets to
//       receive (1 or more, default 1); loop: how many of the following
//       commands form the body (0 or more, default 0)
//   t:  loop: times to repeat the body (0 or more, default 0)
//   l:  receive: room for one packet in bytes (1 or more)
//   e:  send: one letter, E/Y/T for packets ending in an EEP, O/N/F for EOP
//       (the default); it must be followed by white space, ";" or the end
//   d:  send: the packet, in the data-value syntax, up to the next ";" (a ";"
//       can never be part of the data, not even inside quotes)
//   f:  receive: data file each received packet is appended to; unquoted up
//       to white space, ";" or the end, or quoted by any of " ' ` up to the
//       next of any of them (may then hold white space and ";")
//
// Numbers (n:, t:, l:) are single values: the text up to white space, ";" or
// the end, read as one data value in the current input base; an empty value
// reads as 0.  The input base starts as default_base and each B command
// changes it for the text behind it.  A value, file name or base word longer
// than 8,199 characters is rejected with the message of its property.  The
// packets of a command must fit 32-bit sizes: packet count times packet (or
// data) length at most 2,147,483,647 bytes.  A number written beyond what
// its field holds (31 bits for a count, 8 for a byte of d:) is cut to its
// low bits, with a warning naming the command and the letter as written, or
// with -strict refused with the property's message: n:100000001 is 1 packet
// (a count whose low 32 bits make 2^31 or more is refused as it stands).
//
// Worked example (input base 16 at the start):
//
//   B 10;                 command 0: numbers are decimal from here on
//   S n:2 e:y d:1 0x20;   command 1: 2 packets of bytes 01 20, each ending
//                         in an EEP; data holds 01 20 01 20
//   L n:1 t:3;            command 2: repeat the next command 3 times
//   R l:64 f:'rx 1.bin';  command 3: one packet of up to 64 bytes, appended
//                         to the file "rx 1.bin"
//   O h;                  command 4: received bytes are shown in hexadecimal
//
// gives the list send(1) -> loop(2) -> receive(3) and output base 16.
#ifndef ZARK_STREAM_SPACEWIRE_CS_PARSER_H
#define ZARK_STREAM_SPACEWIRE_CS_PARSER_H

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/number_base.h"
#include "stream_spacewire/spacewire_command.h"

// Parses the whole text.  list is emptied first and receives the records in
// text order; on failure (after one message) it keeps the records read before
// the failing command.  Prints "Command list file successfully processed."
// on success.
bool CS_ProcessCommands(std::string_view text, SpaceWireCommandList &list, NumberBase &output_base);

// Each reader starts with the cursor just behind the command letter.  On
// success the cursor stands just behind the command's ";"; on failure the
// message has been printed and nothing is returned.
SpaceWireCommandList CS_ReadSendCommand(std::string_view text, std::size_t &cursor, std::int32_t number);
SpaceWireCommandList CS_ReadReceiveCommand(std::string_view text, std::size_t &cursor, std::int32_t number);
SpaceWireCommandList CS_ReadLoopCommand(std::string_view text, std::size_t &cursor, std::int32_t number);

// Reads the base words of a B or O command; -1 after printing the message.
NumberBase CS_ReadBase(std::string_view text, std::size_t &cursor, std::int32_t number);

#endif
