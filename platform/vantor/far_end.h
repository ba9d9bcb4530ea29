// What sits at the far end of a link: the RMAP target with its memory, the
// loopback plug and the faulty-reply model.  The in-process link and the
// standalone node both answer packets through here, so a link over TCP
// behaves exactly like the in-process one.
#ifndef ZARK_PLATFORM_VANTOR_FAR_END_H
#define ZARK_PLATFORM_VANTOR_FAR_END_H

#include <cstdint>
#include <span>
#include <vector>

#include "sim_settings.h"
#include "target_memory.h"
#include "vantor_sim_control.h"

namespace vantor_sim {

struct FarEndState {
    TargetMemory memory;
    std::uint64_t replies_sent = 0; // target replies so far, for reply_fault_every
    // The bytes of a reply already delivered, whose room the next reply takes.
    std::vector<std::uint8_t> spare_reply;
};

// Back to the start: no replies counted, the memory as new and laid out as
// the settings' memory map says.
void ResetFarEnd(const Settings &settings, FarEndState &far_end);

// The packets that come back over the link for one packet sent into it,
// appended to answers in the order they arrive: the target's reply (none,
// one, or two when duplicated), or the packet itself from the loopback.
void AnswerPacket(const Settings &settings, FarEndState &far_end, Packet sent, std::vector<Packet> &answers);

// The same for a packet the caller keeps: the target's replies are appended
// to answers, and Loopback says that the packet itself comes back, for the
// caller to pass on from its own copy.
enum class Answer { Replies, Loopback };
Answer AnswerPacket(const Settings &settings, FarEndState &far_end, std::span<const std::uint8_t> sent, int eop,
                    std::vector<Packet> &answers);

} // namespace vantor_sim

#endif
