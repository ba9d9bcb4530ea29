// The simulated adapter's settings and the text they are read from.
//
// Grammar (the VANTOR_SIM environment variable, or ApplySettings in tests):
//
//   settings := item { ";" item }
//   item     := empty | name "=" value        (blanks around names and values are ignored)
//
//   devices=N:T,N:T...   attached devices: number 0..31 and signed decimal type code;
//                        an empty value means none attached          default 0:0
//                        N:T@HOST:PORT makes device N a bridge: a link over TCP
//                        to an SSDTP2 peer (HOST a name, an IPv4 address or an
//                        IPv6 address in brackets; PORT 1..65535)
//   unopenable=N,N...    device numbers whose opening fails          default none
//   version=X            driver version reported (decimal number)    default kOwnDriverVersion
//   far_end=both|target|loopback|silent                              default both
//   target=HH            target logical address, 20 to ff (hex)      default fe
//   key=HH               key the target demands                      default any key accepted
//   send_status=S        every send ends with status S (0..14)       default none
//   read_status=S        every read ends with status S (0..14)       default none
//   trace=PATH           append sent (">") and delivered ("<") packets to PATH
//   capture=PATH         write every packet sent and delivered, and every
//                        time-code, to PATH as a pcap file (capture.h)
//   packet_limit=BYTES   largest packet a bridge accepts from its peer
//                        (1 to 4294967295)                           default 16777216
//   idle_wait=S          a bridge's blocking wait for a read without time-out
//                        ends with status 6 after S seconds in which nothing
//                        was sent or arrived (S > 0, decimals)        default 1
//   stall_limit=S        a bridge whose peer sends nothing for S seconds in the
//                        middle of a frame or packet, or accepts nothing we
//                        send for S seconds, is broken               default 10
//   reply_fault=KIND     what goes wrong with the target's faulty replies:
//                        none, header_crc, data_crc, truncate, pad,
//                        transaction_id, eep, duplicate or drop     default none
//   reply_fault_every=N  the N-th, 2N-th, 3N-th... target reply is faulty
//                        (N decimal, 1 to 4294967295)               default 1
//   memory_map=PATH      the target's memory map (format in memory_map.h): its
//                        regions and rules, logical addresses and key   default
//                        none: every address of the 40-bit memory, every command
//
// Faulty replies.  Target replies are counted from 1 at the far end since the
// settings were applied, over all devices together, whether or not the device
// then receives them; loopback packets and commands answered without a reply
// are not counted.  Reply number k is faulty when k is a multiple of N.  A
// faulty reply is changed as it arrives, its reply path already taken off:
//   header_crc      the header CRC (last header byte) with every bit flipped
//   data_crc        the data CRC (last byte) with every bit flipped; only read
//                   and read/modify/write replies carry one (even with no data),
//                   a write reply arrives unchanged
//   truncate        the last byte (data CRC, or header CRC of a write reply) is
//                   missing
//   pad             one extra byte 0x00 follows the last byte
//   transaction_id  the transaction identifier plus 1, modulo 65536, with the
//                   header CRC made right again, so that only the identifier
//                   is wrong
//   eep             the bytes unchanged, ended by an EEP instead of an EOP
//   duplicate       arrives twice, the copies one after the other
//   drop            never arrives
// reply_fault_every without reply_fault changes nothing.
//
// Names, the far_end words and the reply_fault words are matched without
// regard to case.  A later
// setting of the same name replaces an earlier one.  An item that is not
// name=value, an unknown name or an unusable value is malformed: it is ignored
// (the setting keeps its default) and named in the complaint line.  A map
// file that cannot be read or holds a mistake is named with its first
// mistake: VANTOR_SIM: ignored malformed setting "memory_map=m.txt" (line 3:
// unknown rule "wrte").  The map's logical addresses and key replace target=
// and key=.
//
// Example: "devices=0:0,3:6; unopenable=3; key=20; far_end=target" attaches a
// Pelmar as device 0 and a Holbeck as device 3 that will not open; the target
// answers only commands carrying key 0x20 and other packets are not looped back.
// Example: "reply_fault=truncate; reply_fault_every=3" cuts the last byte off
// the 3rd, 6th, 9th... target reply.
// Example: "devices=0:0,1:6@127.0.0.1:10030,2:6@[::1]:10031" attaches an
// in-process device 0 and two bridges.  far_end, target, key, reply_fault,
// reply_fault_every, memory_map, send_status and read_status concern in-process
// devices only; trace records bridges' packets too.
#ifndef ZARK_PLATFORM_VANTOR_SIM_SETTINGS_H
#define ZARK_PLATFORM_VANTOR_SIM_SETTINGS_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor_sim {

// Reported by Vantor_GetDriverVersion unless version= says otherwise.
inline constexpr double kOwnDriverVersion = 4.01;

struct MemoryMap;

enum class FarEnd { Both, Target, Loopback, Silent };

enum class ReplyFault { None, HeaderCrc, DataCrc, Truncate, Pad, TransactionId, Eep, Duplicate, Drop };

struct AttachedDevice {
    int number = 0;
    int type = 0;
    std::string host;       // a bridge's peer; empty for an in-process device
    std::uint16_t port = 0; // non-zero for a bridge
};

struct Settings {
    std::vector<AttachedDevice> devices{AttachedDevice{0, 0, {}, 0}};
    std::uint32_t unopenable_mask = 0;
    double version = kOwnDriverVersion;
    FarEnd far_end = FarEnd::Both;
    std::uint8_t target_logical_address = 0xfe;
    std::optional<std::uint8_t> key;
    std::optional<int> send_status;
    std::optional<int> read_status;
    std::string trace_path;
    std::string capture_path;
    ReplyFault reply_fault = ReplyFault::None;
    std::uint32_t reply_fault_every = 1;
    std::uint64_t packet_limit = std::uint64_t{16} << 20;
    double idle_wait_seconds = 1.0;
    double stall_limit_seconds = 10.0;
    std::shared_ptr<const MemoryMap> memory_map; // none: the whole memory, every command
};

struct ParsedSettings {
    Settings settings;
    std::vector<std::string> malformed; // each offending item, as written
    std::vector<std::string> reasons;   // beside each: what is wrong with it, or empty
};

ParsedSettings ParseSettings(std::string_view text);

// HOST:PORT or [IPV6]:PORT, as a bridge device or the node names a TCP
// endpoint; port 0 only where zero_port allows it.
struct Endpoint {
    std::string host;
    std::uint16_t port = 0;
};
std::optional<Endpoint> ParseEndpoint(std::string_view text, bool zero_port = false);
// The endpoint written back as ParseEndpoint reads it.
std::string EndpointText(const std::string &host, std::uint16_t port);

// The one complaint line for the malformed items, each followed by its reason
// where there is one, with its line feed; empty when there are none.
std::string ComplaintLine(const std::vector<std::string> &malformed, const std::vector<std::string> &reasons = {});

} // namespace vantor_sim

#endif
