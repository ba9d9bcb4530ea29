// The simulated RMAP target's memory map: the regions a real device decodes,
// each with its access rules and first content, and the target's logical
// addresses and key.  Read from the file the setting memory_map=PATH (the
// node's --memory-map=PATH) names.
//
// One item a line; "#" starts a comment running to the end of the line; words
// are separated by blanks or tabs, keywords matched without regard to case;
// every number is hexadecimal, without prefix.
//
//   region EXT:ADDRESS LENGTH RULE...   LENGTH bytes (1 to 10000000000) from the
//                                       40-bit address EXT:ADDRESS (EXT 0 to ff,
//                                       ADDRESS 0 to ffffffff); no further than
//                                       2^40, overlapping no other region
//   logical_address LA...               the target's logical addresses (20 to ff);
//                                       several lines add up    default: target=
//   key KEY                             the key the target demands  default: key=
//   unknown_address discard|status12    what a command to a logical address the
//                                       target does not have gets  default: discard
//
// Rules of a region; without read, write or rmw nothing is allowed:
//   read, write, rmw   reads, writes, read/modify/writes allowed
//   increment          incrementing commands only (a read/modify/write is one)
//   single             single-address commands only
//   align=N            the address a multiple of N (a power of two)
//   size=N             the data length a non-zero multiple of N (1 to ffffff);
//                      of a read/modify/write, the bytes of memory it touches
//   verify=N           a verified write of more than N bytes (0 to ffffff) gets
//                      status 9                          default: any length
//   fill=BB            bytes never written read as BB    default: the low 8 bits
//                                                        of their own address
//   load=PATH          the region begins with the bytes of the file PATH
//                      (relative to the map's folder; no blanks), over any fill
//   fails              every command on the region gets status 1
//
// A map needs at least one region.  The map file may hold 1 MiB, the files it
// loads 16 MiB together.  A later key or unknown_address line replaces an
// earlier one.  A command with data length n touches the addresses from its
// address to address + n - 1 when incrementing, its address alone otherwise
// (also when n is 0); they must all lie in one region.
//
// Example, a small instrument:
//
//   # Identification: read-only, 4-byte words, preset from a file.
//   region 00:00000000 20     read increment align=4 size=4 load=ident.bin
//   # Control registers: 4-byte words at 4-byte addresses, nothing verified longer than 8.
//   region 00:00001000 100    read write rmw align=4 size=4 verify=8
//   # A FIFO register: single-address writes only.
//   region 00:00002000 4      write single size=4
//   # Science memory, 16 MiB, empty.
//   region 01:00000000 1000000 read write increment fill=00
//   # A broken heater block.
//   region 00:00003000 10     read write fails
//   logical_address fe 42
//   unknown_address status12
#ifndef ZARK_PLATFORM_VANTOR_MEMORY_MAP_H
#define ZARK_PLATFORM_VANTOR_MEMORY_MAP_H

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "target_memory.h"

namespace vantor_sim {

enum class Addressing { Any, IncrementOnly, SingleOnly };
enum class UnknownAddress { Discard, Status12 };

struct Region {
    std::uint64_t start = 0;  // 40-bit address
    std::uint64_t length = 0; // at least 1; start + length at most 2^40
    bool read = false;
    bool write = false;
    bool rmw = false;
    Addressing addressing = Addressing::Any;
    std::uint64_t align = 1;
    std::uint32_t size = 0; // 0: any data length
    std::optional<std::uint32_t> verify;
    std::optional<std::uint8_t> fill;
    std::vector<std::uint8_t> load;
    bool fails = false;
};

struct MemoryMap {
    std::vector<Region> regions; // in address order
    std::vector<std::uint8_t> logical_addresses; // empty: the target= setting's
    std::optional<std::uint8_t> key;             // none: the key= setting's
    UnknownAddress unknown_address = UnknownAddress::Discard;
};

struct ParsedMap {
    std::optional<MemoryMap> map;
    std::string problem; // without a map, why: "line 7: unknown rule \"wrte\""
};

ParsedMap ReadMemoryMap(const std::filesystem::path &path);

enum class AccessKind { Read, Write, ReadModifyWrite };

struct Access {
    AccessKind kind = AccessKind::Read;
    bool verify = false; // a write verified before it is made
    bool increment = true;
    std::uint64_t address = 0; // 40-bit
    std::uint32_t length = 0;  // bytes of data; of a read/modify/write, half its data length
};

// What the map says of an access, as the target's status: 0 when it may
// happen; 10 when it touches an address outside every region or breaks a
// region's rule; 9 for a verified write longer than the region's verify
// buffer; 1 on a failing region.  Judged in that order.
std::uint8_t CheckAccess(const MemoryMap &map, const Access &access);

// Lays the map's first content (fills and loaded files) into a fresh memory.
void LayOutMemory(const MemoryMap &map, TargetMemory &memory);

} // namespace vantor_sim

#endif
