// One interactive RMAP transaction: the header fields are asked, the command
// is built, its CRCs may be overwritten, it is sent and the reply is shown.
#ifndef ZARK_INTERACTIVE_RMAP_TRANSACTION_H
#define ZARK_INTERACTIVE_RMAP_TRANSACTION_H

#include "device/vantor_api.h"
#include "common/rmap_command_kind.h"

// A read/modify/write's mask comes from a 32-bit value, so its data is at most this long.
inline constexpr int kMostReadModifyWriteBytes = 4;

// Performs one transaction of the given kind.  False when standard input
// ended at one of its prompts (nothing is sent then).
bool IR_RequestCommand(int command, DeviceHandle device);

#endif
