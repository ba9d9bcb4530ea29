// The parser of RMAP command lists: preprocessed text (comments removed,
// INCLUDELIST and ALIAS applied) in, a chain of command records out.
//
// Grammar
// -------
//   list      := { blank } { command { blank } }
//   command   := [ label ] type ";" rest-of-line { property-line } end
//   label     := any prefix of "CommandType" (case ignored, empty allowed) ":" { blank }
//   type      := r (read) | w (write) | m (read/modify/write) | l (loop) | b (base),
//                either case, directly followed by ";"
//   end       := an empty line, a line of white space only, or the end of the text
//   property  := name ":" value ";"
//
// Blanks are space, tab, CR and LF; a line ends at CR, LF, CR LF or LF CR.
// After "type;" the rest of its line may hold the first properties; if it
// holds no colon it is ignored.  A line may hold several properties; a value
// may run over several lines, which are joined with nothing between them
// (so "Data: 01 02" at the end of one line and "03;" on the next give 01 0203).
// Anything but white space after the last property of a line is an error, so
// commands must be separated by a blank line.  Names and values: see
// rmap_properties.h.  A base command (b) takes only InputBase and OutputBase.
//
// Commands are numbered from 0 in text order, base commands included.  Each
// read, write, read/modify/write or loop command takes every property it lacks
// from the command before it in the chain (base commands are not in the chain)
// except the CRCs and the file name.  Loops stay flat: a loop command is
// followed by the commands it repeats.
//
// Required properties (given or taken from the command before):
//   read               DestinationAddress SourceAddress IncrementTarget DestinationKey
//                      TransactionIdentifier ReadWriteAddress ExtendedReadWriteAddress DataLength
//   write              DestinationAddress SourceAddress Data VerifyBeforeWrite Acknowledge
//                      IncrementTarget DestinationKey TransactionIdentifier ReadWriteAddress
//                      ExtendedReadWriteAddress
//   read/modify/write  DestinationAddress SourceAddress Data Mask DestinationKey
//                      TransactionIdentifier ReadWriteAddress ExtendedReadWriteAddress;
//                      its data at most 4 bytes, its mask at least as long as its data
//   loop               TimesToRepeat NumberToRepeat
//
// Worked example (five commands, numbers 0 to 4):
//
//   b;
//   InputBase: 16;
//   OutputBase: 10;
//
//   w;
//   DestinationAddress: FE;
//   SourceAddress: 20;
//   VerifyBeforeWrite: false; Acknowledge: true;
//   IncrementTarget: true;
//   DestinationKey: 0; TransactionIdentifier: 1;
//   ReadWriteAddress: 1000; ExtendedReadWriteAddress: 0;
//   Data: 01 02 03 04;
//
//   r;
//   TransactionIdentifier: 2;
//   Filename: 'read.bin';
//
//   l;
//   TimesToRepeat: 3;
//   NumberToRepeat: 1;
//
//   r;
//   TransactionIdentifier: 3;
//
// Values after command 0 are hexadecimal and replies are shown in decimal.
// Read 2 takes the addresses, flags, key, memory address and the length 4 of
// the write's data from command 1 and appends what it reads to read.bin.  Loop
// 3 runs read 4 three times; read 4 takes what it lacks, through the loop,
// from read 2, but not its file name.
//
// Every error names the command by number, releases what was built and
// rejects the whole list.
#ifndef ZARK_STREAM_RMAP_RMAP_PARSER_H
#define ZARK_STREAM_RMAP_RMAP_PARSER_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "stream_rmap/rmap_command.h"

// The whole list.  The first command of the chain; none when the list holds
// no command or on an error (after its message).  *output_base receives the
// base of an OutputBase property.  *refused, when given, tells an error from
// a list without commands.
RmapCommandPtr CR_ProcessCommands(std::string_view text, int *output_base, bool *refused = nullptr);

// One command of each type, its "type;" already consumed; previous is the
// last command of the chain so far, or null.  None after printing why.
RmapCommandPtr CR_ProcessReadCommand(std::string_view text, std::size_t &position, std::int32_t number,
                                     const RmapCommand *previous);
RmapCommandPtr CR_ProcessWriteCommand(std::string_view text, std::size_t &position, std::int32_t number,
                                      const RmapCommand *previous);
RmapCommandPtr CR_ProcessReadModifyWriteCommand(std::string_view text, std::size_t &position,
                                                std::int32_t number, const RmapCommand *previous);
RmapCommandPtr CR_ProcessLoopCommand(std::string_view text, std::size_t &position, std::int32_t number,
                                     const RmapCommand *previous);
bool CR_ProcessBaseCommand(std::string_view text, std::size_t &position, int *output_base, std::int32_t number);

// The property lines of command number, applied to a new record of the type
// (base: to the bases, the record then carries nothing).  None on an error;
// only a value that does not fit its field is told of here.
RmapCommandPtr CR_GetCommandProperties(std::string_view text, std::size_t &position, RmapCommandType type,
                                       std::int32_t number, int *output_base);

// The next line without its ending; none at the end of the text.
std::optional<std::string> ReadLine(std::string_view text, std::size_t &position);

#endif
