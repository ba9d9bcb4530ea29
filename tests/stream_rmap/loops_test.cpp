#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/settings.h"
#include "stream_rmap/rmap_loops.h"
#include "stream_rmap/rmap_parser.h"
#include "support/capture_stdout.h"

namespace {

// A read with every property; the ones after it need only "r;".
const std::string kFirstRead = "r;\nDestinationAddress: FE; SourceAddress: 20; IncrementTarget: true; Key: 0;\n"
                               "TransactionIdentifier: 1; Address: 0; ExtendedReadWriteAddress: 0; Length: 4;\n";

// A list from a shape such as "L(2,3) X Y Z": L(N,T) is a loop, any other
// word a read.  Commands are numbered from 0 in the order written.
std::string ListOf(const std::string &shape)
{
    std::string text;
    bool first_read = true;
    std::size_t position = 0;
    while (position < shape.size()) {
        const std::size_t end = std::min(shape.find(' ', position), shape.size());
        const std::string word = shape.substr(position, end - position);
        position = end + 1;
        if (word.empty()) {
            continue;
        }
        if (word[0] == 'L') {
            const std::size_t comma = word.find(',');
            text += "l;\nNumberToRepeat: n" + word.substr(2, comma - 2) + "; TimesToRepeat: n" +
                    word.substr(comma + 1, word.size() - comma - 2) + ";\n\n";
        } else if (first_read) {
            text += kFirstRead + "\n";
            first_read = false;
        } else {
            text += "r;\n\n";
        }
    }
    return text;
}

// The numbers of the commands that run, in order: each loop's repetitions
// one after the other in its place.  Walked with a stack of chains to visit.
std::vector<std::int32_t> RunOrder(const RmapCommand *chain)
{
    std::vector<std::int32_t> order;
    std::vector<const RmapCommand *> pending{chain};
    while (!pending.empty()) {
        const RmapCommand *command = pending.back();
        pending.pop_back();
        for (; command != nullptr; command = command->next.get()) {
            if (command->type != RMAP_COMMAND_LOOP) {
                order.push_back(command->number);
                continue;
            }
            if (command->number_to_repeat != 0 && command->times_to_repeat != 0) {
                pending.push_back(command->next.get());
                for (auto child = command->children.rbegin(); child != command->children.rend(); ++child) {
                    pending.push_back(child->get());
                }
                break;
            }
        }
    }
    return order;
}

struct Expanded {
    RmapCommandPtr chain;
    bool expanded = false;
    std::string out; // of the expansion alone
};

Expanded Expand(const std::string &text)
{
    Expanded e;
    {
        CaptureStdout parse_capture;
        int output_base = -1;
        e.chain = CR_ProcessCommands(text, &output_base);
        const std::string parse_out = parse_capture.Take();
        EXPECT_EQ(parse_out, "Command list file successfully processed.\n") << text;
    }
    CaptureStdout capture;
    e.expanded = CR_DealWithLoopCommands(e.chain.get());
    e.out = capture.Take();
    return e;
}

class LoopsTest : public testing::Test {
protected:
    void SetUp() override { default_base = 16; }
    void TearDown() override { default_base = 16; }
};

TEST_F(LoopsTest, EveryShapeRunsItsBodyAsOften)
{
    const struct {
        const char *shape;
        std::vector<std::int32_t> runs;
    } cases[] = {
        {"X", {0}},
        {"L(2,3) X Y Z", {1, 2, 1, 2, 1, 2, 3}},
        {"L(2,1) X Y", {1, 2}},
        {"L(2,0) X Y Z", {3}},
        {"L(0,5) X", {1}},
        {"L(0,0) X", {1}},
        {"X L(0,5)", {0}},
        {"L(2,2) L(1,3) X Y", {2, 2, 2, 3, 2, 2, 2, 3}},
        {"L(1,2) L(1,2) X L(1,2) Y", {2, 2, 2, 2, 4, 4}},
        {"L(1,0) L(2,4) X Y Z", {4}},
        {"L(2,2) L(0,7) X", {2, 2}},
        {"L(3,2) X L(0,9) Y", {1, 3, 1, 3}},
        {"L(2,2) X L(1,0) Y Z", {1, 1, 4}},
        {"X L(1,3) Y L(2,2) Z W V", {0, 2, 2, 2, 4, 5, 4, 5, 6}},
        {"L(2,2) L(2,2) L(1,2) X Y Z", {3, 3, 4, 3, 3, 4, 5, 3, 3, 4, 3, 3, 4, 5}},
        {"L(1,0) L(1,0) L(1,0) X Y", {4}},
        {"L(2,0) L(1,5) X L(0,3) Y", {4}},
    };
    for (const auto &c : cases) {
        Expanded e = Expand(ListOf(c.shape));
        EXPECT_TRUE(e.expanded) << c.shape;
        EXPECT_EQ(e.out, "") << c.shape;
        EXPECT_EQ(RunOrder(e.chain.get()), c.runs) << c.shape;
    }
}

TEST_F(LoopsTest, ShortBodiesFailWithTheLoopsNumber)
{
    const struct {
        const char *shape;
        int loop;
    } cases[] = {
        {"L(3,2) X", 0},
        {"X L(1,2)", 1},
        {"X L(1,0)", 1},
        {"X Y L(4,1) Z", 2},
        {"L(2,3) X L(3,2) Y", 2},   // the inner loop runs short first
        {"L(3,0) X L(2,1) Y", 0},   // a dropped body counts nested bodies
        {"L(2,2) X L(1,0)", 2},
        {"L(2,2) X", 0},
    };
    for (const auto &c : cases) {
        Expanded e = Expand(ListOf(c.shape));
        EXPECT_FALSE(e.expanded) << c.shape;
        EXPECT_EQ(e.out, "Not enough commands present for loop command " + std::to_string(c.loop) + "\n") << c.shape;
    }
}

TEST_F(LoopsTest, RepetitionsAreDeepCopiesThatKeepEverything)
{
    const std::string text = "l;\nNumberToRepeat: 2; TimesToRepeat: 3;\n\n"
                             "w;\nDestinationAddress: 1 FE; SourceAddress: 20; VerifyBeforeWrite: no; Acknowledge: yes;\n"
                             "IncrementTarget: yes; Key: 5; TransactionIdentifier: 6; Address: 7;\n"
                             "ExtendedReadWriteAddress: 8; Data: 9 a; HeaderCRC: 12; DataCRC: 34;\n\n"
                             "r;\nFilename: 'x.bin'; HeaderCRC: 56;\n";
    Expanded e = Expand(text);
    ASSERT_TRUE(e.expanded);
    const RmapCommand &loop = *e.chain;
    EXPECT_FALSE(loop.next);
    ASSERT_EQ(loop.children.size(), 3u);
    std::set<const void *> distinct;
    for (const RmapCommandPtr &repetition : loop.children) {
        const RmapCommand &w = *repetition;
        ASSERT_TRUE(w.next);
        const RmapCommand &r = *w.next;
        EXPECT_FALSE(r.next);
        EXPECT_EQ(w.number, 1);
        EXPECT_EQ(w.type, RMAP_COMMAND_WRITE);
        EXPECT_EQ(*w.destination_address, (std::vector<std::uint8_t>{1, 0xFE}));
        EXPECT_EQ(w.acknowledge, 1);
        EXPECT_EQ(w.destination_key, 5);
        EXPECT_EQ(w.transaction_identifier, 6);
        EXPECT_EQ(w.address, 7u);
        EXPECT_EQ(w.extended_address, 8);
        EXPECT_EQ(*w.data, (std::vector<std::uint8_t>{9, 0xA}));
        EXPECT_TRUE(w.Given(GIVEN_HEADER_CRC));
        EXPECT_EQ(w.header_crc, 0x12);
        EXPECT_TRUE(w.Given(GIVEN_DATA_CRC));
        EXPECT_EQ(w.data_crc, 0x34);
        EXPECT_EQ(r.number, 2);
        EXPECT_EQ(r.type, RMAP_COMMAND_READ);
        EXPECT_EQ(*r.filename, "x.bin");
        EXPECT_EQ(r.header_crc, 0x56);
        EXPECT_FALSE(r.Given(GIVEN_DATA_CRC));
        EXPECT_EQ(r.data_length, 2u);
        distinct.insert(&w);
        distinct.insert(&r);
        distinct.insert(w.destination_address->data());
        distinct.insert(w.data->data());
    }
    EXPECT_EQ(distinct.size(), 12u); // nothing shared between repetitions
}

TEST_F(LoopsTest, CopyListCopiesNestedRepetitions)
{
    Expanded e = Expand(ListOf("L(2,2) L(1,3) X Y"));
    ASSERT_TRUE(e.expanded);
    RmapCommandPtr copy;
    ASSERT_TRUE(CR_CopyList(copy, e.chain.get()));
    ASSERT_TRUE(copy);
    EXPECT_EQ(RunOrder(copy.get()), RunOrder(e.chain.get()));
    EXPECT_NE(copy->children[1].get(), e.chain->children[1].get());
    EXPECT_NE(copy->children[1]->children[2].get(), e.chain->children[1]->children[2].get());

    RmapCommandPtr nothing = CR_AllocateCommand(RMAP_COMMAND_READ);
    EXPECT_TRUE(CR_CopyList(nothing, nullptr));
    EXPECT_FALSE(nothing);
}

TEST_F(LoopsTest, DeepNestingAndLongBodiesNeedNoRecursion)
{
    // 200000 nested loops each repeating the next once, around one read, all
    // repeated twice: expansion, copying, walking and release must not recurse.
    constexpr int kDepth = 200000;
    std::string text = "l;\nNumberToRepeat: 1; TimesToRepeat: 2;\n\nl;\nTimesToRepeat: 1;\n\n";
    text.reserve(text.size() + kDepth * 5 + kFirstRead.size());
    for (int i = 1; i < kDepth; ++i) {
        text += "l;\n\n";
    }
    text += kFirstRead;
    Expanded e = Expand(text);
    ASSERT_TRUE(e.expanded);
    EXPECT_EQ(RunOrder(e.chain.get()), (std::vector<std::int32_t>{kDepth + 1, kDepth + 1}));
}

TEST_F(LoopsTest, DroppedDeepNestIsCountedAsOneCommand)
{
    constexpr int kDepth = 100000;
    std::string text = "l;\nNumberToRepeat: 1; TimesToRepeat: 0;\n\nl;\nTimesToRepeat: 3;\n\n";
    for (int i = 1; i < kDepth; ++i) {
        text += "l;\n\n";
    }
    text += kFirstRead + "\nr;\n";
    Expanded e = Expand(text);
    ASSERT_TRUE(e.expanded);
    EXPECT_EQ(RunOrder(e.chain.get()), (std::vector<std::int32_t>{kDepth + 2}));
    ASSERT_TRUE(e.chain->next);
    EXPECT_EQ(e.chain->next->number, kDepth + 2);
}

} // namespace
