#include "trace.h"

#include <string>

namespace vantor_sim {

void TracePacket(std::FILE *trace, char sign, const Packet &packet)
{
    if (trace == nullptr) {
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
    std::fwrite(line.data(), 1, line.size(), trace);
    // Flushed line by line so that the file can be read while the program runs.
    std::fflush(trace);
}

void TraceTimeCode(std::FILE *trace, std::uint8_t time_code)
{
    if (trace == nullptr) {
        return;
    }
    std::fprintf(trace, "t %02x\n", time_code);
    std::fflush(trace);
}

} // namespace vantor_sim
