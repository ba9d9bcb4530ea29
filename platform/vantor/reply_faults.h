// The faulty far end: what becomes of a target reply chosen to be faulty
// (the kinds are described with reply_fault in sim_settings.h).
#ifndef ZARK_PLATFORM_VANTOR_REPLY_FAULTS_H
#define ZARK_PLATFORM_VANTOR_REPLY_FAULTS_H

#include <cstdint>
#include <vector>

#include "sim_settings.h"
#include "vantor_sim_control.h"

namespace vantor_sim {

// True when reply number `number` (counted from 1) is to be faulty.
bool IsFaultyReply(const Settings &settings, std::uint64_t number);

// The packets that arrive in place of reply, its reply path already taken
// off: none (drop), one, or two (duplicate).
std::vector<Packet> ApplyReplyFault(ReplyFault fault, std::vector<std::uint8_t> reply, bool has_data_field);

} // namespace vantor_sim

#endif
