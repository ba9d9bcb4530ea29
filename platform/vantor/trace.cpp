#include "trace.h"

#include <string>

namespace vantor_sim {

void TracePacket(SimState &state, char sign, const Packet &packet)
{
    if (!state.trace) {
        return;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string line;
    line.reserve(packet.bytes.size() * 3 + 8);
    line += sign;
    line += ' ';
    for (std::uint8_t byte : packet.bytes) {
        line += kDigits[byte >> 4];
        line += kDigits[byte & 0x0f];
        line += ' ';
    }
    line += packet.eop == VANTOR_EOP_EOP ? "EOP" : packet.eop == VANTOR_EOP_EEP ? "EEP" : "none";
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), state.trace.get());
    // Flushed line by line so that the file can be read while the program runs.
    std::fflush(state.trace.get());
}

} // namespace vantor_sim
