// The target with a memory map: where the map's statuses fall among the
// target's other checks, that a refused command changes nothing, and what
// becomes of commands to logical addresses the target does not have.
#include "adapter_fixture.h"
#include "support/scratch_dir.h"

namespace {

using namespace hand_rmap;
using vantor_sim::Address40;

constexpr std::uint8_t kPlainWrite = kCommand | kWrite | kReply | kIncrement;
constexpr std::uint8_t kVerifiedWrite = kPlainWrite | kVerify;

Bytes Intact(Bytes bytes) { return bytes; }
Bytes BadDataCrc(Bytes bytes) { return Flip(bytes, bytes.size() - 1, 0x01); }
Bytes CutTwo(Bytes bytes) { return First(bytes, bytes.size() - 2); }
Bytes OneMore(Bytes bytes) { return Cat({bytes, {0x00}}); }

class MappedTarget : public Adapter {
protected:
    void Map(const std::string &map, const std::string &more = "")
    {
        scratch_.Write("map.txt", map);
        Start("memory_map=" + (scratch_ / "map.txt").string() + more);
    }
    ScratchDir scratch_;
};

// Each row breaks two checks at once and must get the status of the earlier
// one: code (2), logical address (12), key (3), the map (10, 9, 1), EEP (7),
// early EOP (5), too much (6), data CRC (4), rmw length (11).  Nothing is
// written by a refused command, not even a write whose data streamed in.
TEST_F(MappedTarget, MapStatusesComeWhereTheStandardPutsThem)
{
    Map("region 00:00001000 100 read write rmw verify=4\n"
        "region 00:00002000 10 read write verify=4 fails\n"
        "logical_address fe 40\nkey 20\nunknown_address status12\n",
        ";key=aa;target=30");
    const struct {
        const char *what;
        CommandFields f;
        std::optional<Bytes> data;
        int status;
        Bytes (*spoil)(Bytes) = Intact;
        bool eep = false;
    } kRows[] = {
        {"code, not address", {.target = 0x31, .instruction = kCommand | kVerify | kReply, .key = 0x20, .length = 1}, {}, 2},
        {"address, not key", {.target = 0x30, .key = 0xaa, .address = 0x1000, .length = 1}, {}, 12},
        {"key= replaced by the map's", {.key = 0xaa, .address = 0x1000, .length = 1}, {}, 3},
        {"key, not region", {.target = 0x40, .key = 0x21, .address = 0x3000, .length = 1}, {}, 3},
        {"second address", {.target = 0x40, .key = 0x20, .address = 0x1000, .length = 2}, {}, 0},
        {"region, not buffer", {.instruction = kVerifiedWrite, .key = 0x20, .address = 0x10fe}, Bytes(5, 0xee), 10},
        {"buffer, not failing", {.instruction = kVerifiedWrite, .key = 0x20, .address = 0x2000}, Bytes(5, 0xee), 9},
        {"failing", {.instruction = kVerifiedWrite, .key = 0x20, .address = 0x2000}, Bytes(4, 0xee), 1},
        {"buffer overrun", {.instruction = kVerifiedWrite, .key = 0x20, .address = 0x1000}, Bytes(5, 0xee), 9},
        {"region, not EEP", {.key = 0x20, .address = 0x3000, .length = 1}, {}, 10, Intact, true},
        {"EEP", {.key = 0x20, .address = 0x1000, .length = 1}, {}, 7, Intact, true},
        {"region, not early EOP", {.instruction = kPlainWrite, .key = 0x20, .address = 0x3000}, Bytes(3, 0xee), 10, CutTwo},
        {"region, not too much", {.instruction = kPlainWrite, .key = 0x20, .address = 0x3000}, Bytes(3, 0xee), 10, OneMore},
        {"region, not data CRC", {.instruction = kPlainWrite, .key = 0x20, .address = 0x3000}, Bytes(3, 0xee), 10, BadDataCrc},
        {"failing, not data CRC", {.instruction = kPlainWrite, .key = 0x20, .address = 0x2000}, Bytes(3, 0xee), 1, BadDataCrc},
        {"region, not rmw length", {.instruction = kReadModifyWrite, .key = 0x20, .address = 0x3000}, Bytes(3, 0xee), 10},
        {"rmw length", {.instruction = kReadModifyWrite, .key = 0x20, .address = 0x1000}, Bytes(3, 0xee), 11},
        // Its data length counts the mask too: two bytes of memory, the last two of the region.
        {"rmw at the end", {.instruction = kReadModifyWrite, .key = 0x20, .address = 0x10fe}, Bytes{1, 2, 0, 0}, 0},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.what);
        ASSERT_NE(Vantor_EnableSendEEPs(device_, row.eep ? 1 : 0), 0);
        const Bytes command = row.spoil(row.data ? WithData(row.f, *row.data) : Header(row.f));
        const auto status = static_cast<std::uint8_t>(row.status);
        const auto low = static_cast<std::uint8_t>(row.f.address); // a read returns two unwritten bytes
        const Bytes data = row.status == 0 ? Bytes{low, static_cast<std::uint8_t>(low + 1)} : Bytes{};
        EXPECT_EQ(Exchange(command), row.f.instruction & kWrite ? WriteReply(row.f, status) : ReadReply(row.f, status, data));
    }
    for (std::uint8_t page : {0x10, 0x20, 0x30}) {
        Bytes unwritten(0x100);
        for (std::size_t i = 0; i < unwritten.size(); ++i) unwritten[i] = static_cast<std::uint8_t>(i);
        EXPECT_EQ(vantor_sim::ReadTargetMemory(Address40(0, page * 0x100u), 0x100), unwritten) << int{page};
    }
}

// Without unknown_address status12 a command to another logical address is
// discarded: the map makes every RMAP command the target's, so it is not
// looped back either.  Other packets still are.
TEST_F(MappedTarget, CommandsToOtherAddressesDiscardedOtherPacketsLoopedBack)
{
    Map("region 00:00000000 100 read\n");
    const Bytes to_fe = Header({.address = 0x10, .length = 2}), to_31 = Header({.target = 0x31, .length = 1});
    const Bytes not_commands[] = {Flip(to_31, 1, 0x03), Flip(to_31, 2, kCommand), {0x31, 0x01}};
    EXPECT_EQ(Exchange(to_fe), ReadReply({.address = 0x10, .length = 2}, 0, {0x10, 0x11}));
    EXPECT_EQ(Exchange(to_31), std::nullopt);
    for (const Bytes &packet : not_commands) EXPECT_EQ(Exchange(packet), packet);
    Map("region 00:00000000 100 read\n", ";far_end=loopback"); // the map is the target's, and the target is away
    EXPECT_EQ(Exchange(to_31), to_31);
}

} // namespace
