// The memory map on its own: what it allows at the edges of its regions and
// rules, the first content it lays out, and the sizes it refuses.  Every rule
// and mistake is also run end to end by the golden cases in
// tests/e2e/cases/memory_map/.
#include <gtest/gtest.h>

#include <filesystem>

#include "memory_map.h"
#include "support/scratch_dir.h"

namespace {

using vantor_sim::Access;
using vantor_sim::AccessKind;
using Bytes = std::vector<std::uint8_t>;

vantor_sim::ParsedMap MapOf(const ScratchDir &scratch, const std::string &text)
{
    scratch.Write("map.txt", text);
    return vantor_sim::ReadMemoryMap(scratch / "map.txt");
}

Access Rd(std::uint64_t address, std::uint32_t length, bool increment = true)
{
    return {AccessKind::Read, false, increment, address, length};
}
Access Wr(std::uint64_t address, std::uint32_t length, bool verify = false, bool increment = true)
{
    return {AccessKind::Write, verify, increment, address, length};
}
Access Rmw(std::uint64_t address, std::uint32_t length) { return {AccessKind::ReadModifyWrite, false, true, address, length}; }

TEST(MemoryMap, EachRuleAtItsEdges)
{
    ScratchDir scratch;
    const auto parsed = MapOf(scratch, "# one region per rule\r\n"
                                       "REGION 00:00001000 100 read Write RMW\r\n"
                                       "region 00:00002000 10 read increment   # a comment\n"
                                       "\tregion 00:00003000 10 write single verify=8\n"
                                       "region 00:00004000 20 read write align=4 size=4\n"
                                       "region 00:00005000 10 read write verify=8 fails\n"
                                       "region 00:00006000 10\n"
                                       "region ff:fffffff0 10 read\n"
                                       "logical_address FE 30\nlogical_address 31\nkey 2A\nunknown_address Status12\n");
    ASSERT_TRUE(parsed.map.has_value()) << parsed.problem;
    const vantor_sim::MemoryMap &map = *parsed.map;
    EXPECT_EQ(map.logical_addresses, (Bytes{0xfe, 0x30, 0x31}));
    EXPECT_TRUE(map.key == 0x2a && map.unknown_address == vantor_sim::UnknownAddress::Status12);
    const struct {
        const char *what;
        Access access;
        int status;
    } kRows[] = {
        {"before the first byte", Rd(0x0fff, 1), 10},
        {"from before into it", Rd(0x0fff, 2), 10},
        {"the whole region", Rd(0x1000, 0x100), 0},
        {"one byte beyond it", Rd(0x1000, 0x101), 10},
        {"its last byte", Rd(0x10ff, 1), 0},
        {"just after it", Rd(0x1100, 1), 10},
        {"nothing at its last byte", Rd(0x10ff, 0), 0},
        {"nothing just after it", Rd(0x1100, 0), 10},
        {"single-address touches one byte", Rd(0x10ff, 0x100, false), 0},
        {"rmw at its end", Rmw(0x10fe, 2), 0},
        {"rmw past its end", Rmw(0x10ff, 2), 10},
        {"write", Wr(0x1000, 0x100), 0},
        {"read-only: write", Wr(0x2000, 1), 10},
        {"read-only: rmw", Rmw(0x2000, 1), 10},
        {"increment only: single", Rd(0x2000, 1, false), 10},
        {"increment only: incrementing", Rd(0x2000, 0x10), 0},
        {"single only: incrementing", Wr(0x3000, 1), 10},
        {"single only: single", Wr(0x3000, 0x20, false, false), 0},
        {"write-only: read", Rd(0x3000, 1, false), 10},
        {"verified, the buffer exactly", Wr(0x3000, 8, true, false), 0},
        {"verified, a byte more", Wr(0x3000, 9, true, false), 9},
        {"aligned words", Rd(0x4004, 8), 0},
        {"misaligned", Rd(0x4002, 4), 10},
        {"not whole words", Rd(0x4004, 6), 10},
        {"no word at all", Rd(0x4004, 0), 10},
        {"rmw not allowed", Rmw(0x4004, 4), 10},
        {"failing: read", Rd(0x5000, 1), 1},
        {"failing: verified within the buffer", Wr(0x5000, 8, true), 1},
        {"failing: the buffer is judged first", Wr(0x5000, 9, true), 9},
        {"failing: rules are judged first", Rmw(0x5000, 1), 10},
        {"no rule: read", Rd(0x6000, 1), 10},
        {"no rule: write", Wr(0x6000, 1), 10},
        {"top of the 40-bit space", Rd(0xfffffffff0, 0x10), 0},
        {"past the top", Rd(0xffffffffff, 2), 10},
    };
    for (const auto &row : kRows) {
        EXPECT_EQ(vantor_sim::CheckAccess(map, row.access), row.status) << row.what;
    }
}

// Fills and loaded files, seen through reads, fresh pages and a fill so large
// that only a sparse memory can hold it.
TEST(MemoryMap, FirstContentLaidOut)
{
    ScratchDir scratch;
    std::filesystem::create_directory(scratch / "sub");
    scratch.Write("sub/four.bin", "\x5a\x5b\x5c\x5d");
    // Regions side by side, the middle one placed last.
    const auto parsed = MapOf(scratch, "region 00:00000010 8 read load=sub/four.bin\n"
                                       "region 00:00000000 8 read fill=ee load=sub/four.bin\n"
                                       "region 00:00000008 8 read\n"
                                       "region 00:00001004 8 read load=sub/four.bin fill=11\n"
                                       "region 01:00000000 ff00000000 read fill=a5\n");
    ASSERT_TRUE(parsed.map.has_value()) << parsed.problem;
    vantor_sim::TargetMemory memory;
    vantor_sim::LayOutMemory(*parsed.map, memory);
    Bytes low(0x18), mid(0x10), high(9);
    memory.ReadBlock(0, low);
    EXPECT_EQ(low, (Bytes{0x5a, 0x5b, 0x5c, 0x5d, 0xee, 0xee, 0xee, 0xee, 8, 9, 10, 11, 12, 13, 14, 15,
                          0x5a, 0x5b, 0x5c, 0x5d, 0x14, 0x15, 0x16, 0x17}));
    memory.ReadBlock(0x1000, mid);
    EXPECT_EQ(mid, (Bytes{0, 1, 2, 3, 0x5a, 0x5b, 0x5c, 0x5d, 0x11, 0x11, 0x11, 0x11, 0x0c, 0x0d, 0x0e, 0x0f}));
    EXPECT_EQ(std::tuple(memory.Read(0xffffffff), memory.Read(0x100000000), memory.Read(0xffffffffff)),
              std::tuple(0xff, 0xa5, 0xa5));
    memory.Write(0x7700000007, 0x01); // a page of its own, made from the fill
    memory.ReadBlock(0x7700000000, high);
    EXPECT_EQ(high, (Bytes{0xa5, 0xa5, 0xa5, 0xa5, 0xa5, 0xa5, 0xa5, 0x01, 0xa5}));
}

// The map file may hold 1 MiB, the files it loads 16 MiB together.
TEST(MemoryMap, SizesAtTheirLimits)
{
    ScratchDir scratch;
    const std::string line = "region 00:00000000 1000001 read load=big.bin\n";
    const std::string padded = line + "#" + std::string((1u << 20) - line.size() - 2, 'x') + "\n";
    std::filesystem::create_directory(scratch / "folder");
    const struct {
        std::string map;
        std::uintmax_t big; // bytes of big.bin
        std::string problem;
    } kRows[] = {
        {padded, 16u << 20, ""},
        {padded + " ", 16u << 20, "longer than 1 MiB"},
        {line, (16u << 20) + 1, "line 1: the loaded files hold more than 16 MiB"},
        {line + "region 02:00000000 1 read load=big.bin\n", 16u << 20,
         "line 2: the loaded files hold more than 16 MiB"},
        {"region 00:00000000 1 read load=folder\n", 0, "line 1: cannot read \"folder\""},
    };
    for (const auto &row : kRows) {
        scratch.Write("big.bin", "");
        std::filesystem::resize_file(scratch / "big.bin", row.big);
        const auto parsed = MapOf(scratch, row.map);
        EXPECT_EQ(parsed.problem, row.problem) << row.map.substr(0, 60);
        EXPECT_EQ(parsed.map.has_value(), row.problem.empty());
    }
    EXPECT_EQ(vantor_sim::ReadMemoryMap(scratch / "folder").problem, "cannot be read");
}

} // namespace
