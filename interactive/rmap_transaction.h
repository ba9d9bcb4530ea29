// One interactive RMAP transaction: the header fields are asked, the command
// is built, its CRCs may be overwritten, it is sent and the reply is shown.
#ifndef ZARK_INTERACTIVE_RMAP_TRANSACTION_H
#define ZARK_INTERACTIVE_RMAP_TRANSACTION_H

#include "device/vantor_api.h"
#include "common/receive_buffer.h"
#include "common/reply_check.h"
#include "common/rmap_command_kind.h"


// A read/modify/write's mask comes from a 32-bit value, so its data is at most this long.
inline constexpr int kMostReadModifyWriteBytes = 4;

// Performs one transaction of the given kind.  False when standard input
// ended at one of its prompts (nothing is sent then).
bool IR_RequestCommand(int command, DeviceHandle device);

// Allocates the reply buffer and starts a read of one packet into it.  An
// empty buffer (after the message) when it cannot be allocated.
ReceiveBuffer IR_StartReceivingReply(DeviceHandle device, TransferId &id, PacketProperties &properties,
                                     TransferStatus &status);

// Waits for the reply, until a key is pressed, and shows it; a reply that
// does not answer the command (expected, when not null) is said to.
// Releases the read and the buffer.
void IR_ReceiveReply(DeviceHandle device, TransferId id, ReceiveBuffer buffer, PacketProperties &properties,
                     TransferStatus status, const ExpectedReply *expected = nullptr);

#endif
