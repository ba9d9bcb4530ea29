// The reply path a reply carries in front as the target builds it, before the
// routers on the way back take it off.  What each command does to memory and
// what it answers, keys and the far-end choices are golden cases
// (tests/e2e/cases/far_end), which send commands built by hand.
#include "adapter_fixture.h"
#include "rmap_target.h"

namespace {

using namespace hand_rmap;

constexpr std::uint8_t kPlainWrite = kCommand | kWrite | kReply | kIncrement;

// A reply leaves the target with its reply path in front, for the routers on
// the way back to take off: a field of zeros only is the path 00.
TEST(TargetReply, ReplyPathInFront)
{
    const struct {
        Bytes field; // laid out as the reply path, padded to whole words
        Bytes path;
    } cases[] = {{{}, {}}, {{5, 9}, {5, 9}}, {{0}, {0}}, {Bytes(12, 0), {0}}, {{0, 0, 0, 7}, {7}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.field));
        const CommandFields write{.instruction = kPlainWrite, .reply_path = c.field, .address = 0x100};
        vantor_sim::TargetMemory memory;
        const auto reply = vantor_sim::ExecuteTargetCommand(WithData(write, {1}), VANTOR_EOP_EOP, {}, memory);
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(std::tuple(reply->bytes, reply->path_length), std::tuple(Cat({c.path, WriteReply(write, 0)}), c.path.size()));
    }
}

} // namespace
