// Running an expanded SpaceWire command list against the adapter: submitting
// its sends and receives in list order, then collecting every result.
#ifndef ZARK_STREAM_SPACEWIRE_CS_EXECUTION_H
#define ZARK_STREAM_SPACEWIRE_CS_EXECUTION_H

#include <cstdint>
#include <cstdio>

#include "device/vantor_api.h"
#include "stream_spacewire/spacewire_command.h"

// Executes the list in order and returns the previous command as the walk
// leaves it (the given one when the list changes nothing).  Sends are
// submitted without waiting.  A receive first waits for the send just before
// it, if that is the previous command, then reads and waits for its read.
// A loop that repeats nothing (number_to_repeat 0) becomes the previous
// command itself, so a receive behind it waits for no send.  output, when
// there is one, also receives the error lines of sends.
SpaceWireCommand *CS_ExecuteCommandsInOrder(DeviceHandle device, SpaceWireCommand *list, std::FILE *output,
                                            std::int32_t &error_count, SpaceWireCommand *previous);

// Submit every send, respectively every receive, of the list.
void CS_ExecuteSendCommands(DeviceHandle device, SpaceWireCommand *list, std::FILE *output,
                            std::int32_t &error_count);
void CS_ExecuteReadCommands(DeviceHandle device, SpaceWireCommand *list, std::int32_t &error_count);

// Waits for every send still in flight and releases every send.  Failures
// go to the console and, by command number, to output when there is one.
void CS_WaitOnSends(DeviceHandle device, SpaceWireCommand *list, std::FILE *output, std::int32_t &error_count);

// Waits for every receive still in flight, writes what each received to
// stream (and appends it to the receive's data file), and releases it.
//   F <bytes> EOP|EEP     a packet that ended with a marker
//   P <bytes>             a packet without end marker ("T P" when the read
//                         timed out)
//   T                     the read timed out before all its packets arrived
//   E                     the read failed
// Bytes are written in default_base, each followed by one blank.
void CS_WaitOnReads(DeviceHandle device, SpaceWireCommand *list, std::FILE *stream, std::int32_t &error_count);

// Counts what the run did, for its summary, and writes one JSON Lines record
// per command it ran, in run order, when a record is kept.
void CS_RecordRun(const SpaceWireCommand *list);

#endif
