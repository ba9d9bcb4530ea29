// The trace=PATH file: one line per packet over the link, for example
//   > fe 01 4c 00 EOP
// the sign (">" sent, "<" arrived), a blank, each byte in two-digit lower-case
// hexadecimal followed by a blank, then EOP, EEP or none.
#ifndef ZARK_PLATFORM_VANTOR_TRACE_H
#define ZARK_PLATFORM_VANTOR_TRACE_H

#include "sim_state.h"

namespace vantor_sim {

void TracePacket(SimState &state, char sign, const Packet &packet);

} // namespace vantor_sim

#endif
