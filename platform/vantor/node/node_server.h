// The node's server: listening sockets, one connection per link, and the far
// end that answers every packet that arrives.
//
// One thread serves everything with poll(), so the far end needs no locks and
// a slow or hostile client cannot stall the others beyond its own link.
// What one connection may hold is bounded: input is read only while the
// answers waiting to go out stay under kOutputHighWater and the packets
// decoded from the last read are all answered, so a client that never reads
// its replies is throttled by TCP itself.  At most that is kOutputHighWater,
// one answer (at most 16 MiB of data plus its header), one read's worth of
// decoded packets (kReadChunk bytes) and one unfinished packet (the packet
// limit).  A client that takes none of its replies for the stall limit is
// let go, so that a dead reader cannot hold a link for ever.
#ifndef ZARK_PLATFORM_VANTOR_NODE_SERVER_H
#define ZARK_PLATFORM_VANTOR_NODE_SERVER_H

#include <atomic>
#include <cstddef>
#include <string>

#include "node_options.h"

namespace vantor_node {

inline constexpr std::size_t kOutputHighWater = std::size_t{1} << 20;
inline constexpr std::size_t kReadChunk = std::size_t{64} << 10;

// Opens the listening sockets, prints one line per link on standard output
// ("link K listening on ADDR:PORT"), then serves until stop becomes true
// (checked at least every 100 ms) or, with once, until the first connection
// ends.  Returns the process's exit status; a failure to start is printed on
// standard error as one line.
int RunNode(const NodeOptions &options, const std::atomic<bool> &stop);

} // namespace vantor_node

#endif
