// Running a prepared SpaceWire command list against the adapter: submitting
// its sends and receives in run order, then collecting every result.
#ifndef ZARK_STREAM_SPACEWIRE_CS_EXECUTION_H
#define ZARK_STREAM_SPACEWIRE_CS_EXECUTION_H

#include <cstdint>
#include <cstdio>
#include <memory>

#include "common/run_store.h"
#include "device/vantor_api.h"
#include "stream_spacewire/spacewire_command.h"

// What one execution of a send or receive holds until it is collected; a
// repeated command has one of these for every time it runs.
struct SpaceWireRun {
    enum Transfer : std::uint8_t { NONE, SEND, READ };

    TransferId transfer = nullptr;
    std::unique_ptr<std::uint8_t[]> buffer;         // receive: packet_count * packet_length bytes
    std::unique_ptr<PacketProperties[]> properties; // receive: packet_count entries
    TransferStatus status = VANTOR_TRANSFER_NOT_STARTED;
    // Set once the library was asked to start the transfer, so that only
    // identifiers it handed out are ever waited on.
    Transfer submitted = NONE;
    // Set once a failure of this execution has been counted, so that one
    // execution's failures count as one error.
    bool failure_counted = false;
};

// Gives back the transfer identifier an execution holds, if it holds one.
void ReleaseTransfers(DeviceHandle device, SpaceWireRun &run);

// The executions of one run, in run order.  Every transfer identifier still
// held is given back when this goes.
using SpaceWireRuns = DeviceRuns<SpaceWireRun>;

// Executes the list in run order.  Sends are submitted without waiting.  A
// receive first waits for the send just before it, if that is the previous
// command, then reads and waits for its read.  A loop that repeats nothing
// (number_to_repeat 0) becomes the previous command itself, so a receive
// behind it waits for no send.  output, when there is one, also receives the
// error lines of sends.  Stops once the run is interrupted.
void CS_ExecuteCommandsInOrder(SpaceWireRuns &runs, SpaceWireCommand *list, std::FILE *output,
                               std::int32_t &error_count);

// Waits for every send still in flight and releases every send.  Failures
// go to the console and, by command number, to output when there is one.
void CS_WaitOnSends(SpaceWireRuns &runs, SpaceWireCommand *list, std::FILE *output, std::int32_t &error_count);

// Waits for every receive still in flight, writes what each received to
// stream (and appends it to the receive's data file), and releases it.
//   F <bytes> EOP|EEP     a packet that ended with a marker
//   P <bytes>             a packet without end marker ("T P" when the read
//                         timed out)
//   T                     the read timed out before all its packets arrived
//   E                     the read failed
// Bytes are written in default_base, each followed by one blank.
void CS_WaitOnReads(SpaceWireRuns &runs, SpaceWireCommand *list, std::FILE *stream, std::int32_t &error_count);

// Counts what the run did, for its summary, and writes one JSON Lines record
// per command it ran, in run order, when a record is kept.
void CS_RecordRun(SpaceWireRuns &runs, const SpaceWireCommand *list);

#endif
