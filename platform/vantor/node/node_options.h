// The command line of spacewire_zark_node, the far end served over TCP.
//
//   spacewire_zark_node [--listen=ADDR:PORT] [--links=N] [--far-end=WHAT]
//                       [--target=HH] [--key=HH] [--memory-map=PATH]
//                       [--reply-fault=KIND] [--reply-fault-every=N]
//                       [--trace=PATH] [--capture=PATH] [--packet-limit=BYTES]
//                       [--stall-limit=S] [--once]
//
// ADDR is an IPv4 address, an IPv6 address in brackets or a host name;
// PORT 0 lets the system choose a free port for every link.  With N links
// and PORT p, link k listens on p + k.  The far-end options take the values
// of the device library's settings of the same name (far_end, target, key,
// memory_map, reply_fault, reply_fault_every, packet_limit, stall_limit); a
// memory map the node cannot use stops it, naming its first mistake.
//
// Example: spacewire_zark_node --listen=0.0.0.0:10030 --links=2 --key=20
#ifndef ZARK_PLATFORM_VANTOR_NODE_OPTIONS_H
#define ZARK_PLATFORM_VANTOR_NODE_OPTIONS_H

#include <cstdint>
#include <optional>
#include <string>

#include "sim_settings.h"

namespace vantor_node {

struct NodeOptions {
    std::string host = "127.0.0.1";
    std::uint16_t port = 10030;
    int links = 1;
    vantor_sim::Settings far_end; // far_end, target, key, memory map, reply faults, packet and stall limits
    std::string trace_path;
    std::string capture_path; // pcap file of every packet and time-code (capture.h)
    bool once = false;
};

enum class ParseOutcome { Run, Exit, Fail };

struct ParsedOptions {
    ParseOutcome outcome = ParseOutcome::Run;
    NodeOptions options;
    std::string message; // what to print: the manual, the version, or the one-line reason
};

inline constexpr int kMostLinks = 32;

ParsedOptions ParseNodeOptions(int argc, char **argv);

} // namespace vantor_node

#endif
