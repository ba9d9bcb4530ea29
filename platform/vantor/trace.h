// The trace=PATH file: one line per packet over the link, for example
//   > fe 01 4c 00 EOP
// the sign (">" sent, "<" arrived), a blank, each byte in two-digit lower-case
// hexadecimal followed by a blank, then EOP, EEP or none.  A time-code that a
// bridge's peer sent has a line of its own: "t", a blank, the time-code byte,
// for example
//   t 3f
#ifndef ZARK_PLATFORM_VANTOR_TRACE_H
#define ZARK_PLATFORM_VANTOR_TRACE_H

#include <cstdint>
#include <cstdio>

#include "vantor_sim_control.h"

namespace vantor_sim {

// Both write nothing when trace is null.
void TracePacket(std::FILE *trace, char sign, const Packet &packet);
void TraceTimeCode(std::FILE *trace, std::uint8_t time_code);

} // namespace vantor_sim

#endif
