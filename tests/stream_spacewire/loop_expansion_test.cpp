// Loop expansion, deep copies and release of SpaceWire command lists,
// including lists far longer and loops far deeper than any call stack.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/settings.h"
#include "stream_spacewire/cs_loop_expansion.h"
#include "stream_spacewire/cs_parser.h"
#include "support/capture_stdout.h"

namespace {

struct Expanded {
    bool ok = false;
    std::string printed;
    SpaceWireCommandList list;
};

Expanded ParseAndExpand(const std::string &text)
{
    default_base = 16;
    Expanded result;
    NumberBase output_base = -1;
    CaptureStdout capture;
    const bool parsed = CS_ProcessCommands(text, result.list, output_base);
    const std::string parse_output = capture.Take();
    EXPECT_TRUE(parsed) << parse_output;
    CaptureStdout expansion;
    result.ok = CS_DealWithLoopCommands(result.list);
    result.printed = expansion.Take();
    return result;
}

// The sends and receives in the order they run: "S<first data byte>" or
// "R<packet length>", with the command number after a colon.
std::string RunOrder(SpaceWireCommand *list)
{
    std::string order;
    ForEachCommand(list, [&](SpaceWireCommand &command) {
        if (command.type == SPACEWIRE_COMMAND_LOOP) {
            return;
        }
        if (!order.empty()) {
            order += ' ';
        }
        if (command.type == SPACEWIRE_COMMAND_SEND) {
            order += "S" + std::to_string(command.data.empty() ? -1 : command.data[0]);
        } else {
            order += "R" + std::to_string(command.packet_length);
        }
        order += ":" + std::to_string(command.number);
    });
    return order;
}

TEST(LoopExpansion, LoopExamplesRunInTheDocumentedOrder)
{
    struct Case {
        std::string text;
        std::string order;
    };
    const std::vector<Case> cases = {
        {"S d:1; R l:4;", "S1:0 R4:1"},
        {"L n:2 t:3; S d:1; R l:4; S d:2;", "S1:1 R4:2 S1:1 R4:2 S1:1 R4:2 S2:3"},
        {"L n:2 t:1; S d:1; S d:2;", "S1:1 S2:2"},
        {"L n:2 t:0; S d:1; S d:2; S d:3;", "S3:3"},
        {"L t:5; S d:1;", "S1:1"},
        {"L n:2 t:2; L n:1 t:3; S d:1; S d:2;", "S1:2 S1:2 S1:2 S2:3 S1:2 S1:2 S1:2 S2:3"},
        {"L n:1 t:2; L n:1 t:2; S d:1; L n:1 t:2; S d:2;", "S1:2 S1:2 S1:2 S1:2 S2:4 S2:4"},
        {"L n:1 t:0; L n:2 t:4; S d:1; S d:2; S d:3;", "S3:4"},
        // A loop that repeats nothing is one command of a body.
        {"L n:2 t:2; L; S d:1; S d:2;", "S1:2 S1:2 S2:3"},
        // A dropped body inside a repeated one.
        {"L n:2 t:2; L n:1 t:0; S d:1; S d:2; S d:3;", "S2:3 S2:3 S3:4"},
        // A dropped body counts nested loops with their own bodies.
        {"L n:2 t:0; L n:2 t:5; S d:1; L n:1 t:9; S d:2; S d:3; S d:4;", "S4:6"},
        {"L n:1 t:0; L t:3; S d:1;", "S1:2"},
        {"L n:3 t:2; S d:1; B 10; R l:4; L; S d:5;", "S1:1 R4:3 S1:1 R4:3 S5:5"},
        {"L n:1 t:3; L n:1 t:2; R l:1;", "R1:2 R1:2 R1:2 R1:2 R1:2 R1:2"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        Expanded expanded = ParseAndExpand(c.text);
        EXPECT_TRUE(expanded.ok);
        EXPECT_EQ(expanded.printed, "");
        EXPECT_EQ(RunOrder(expanded.list.get()), c.order);
    }
}

TEST(LoopExpansion, BodyIsCutOutAndCopiedIntoIndependentRecords)
{
    Expanded expanded = ParseAndExpand("L n:2 t:3; S d:1; R l:4 f:a.bin; S d:2;");
    ASSERT_TRUE(expanded.ok);
    SpaceWireCommand &loop = *expanded.list;
    ASSERT_EQ(loop.children.size(), 3u);
    // The loop is followed directly by what came after its body.
    ASSERT_NE(loop.next, nullptr);
    EXPECT_EQ(loop.next->number, 3);
    EXPECT_EQ(loop.next->next, nullptr);
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        SpaceWireCommand *send = loop.children[i].get();
        ASSERT_NE(send, nullptr);
        SpaceWireCommand *receive = send->next.get();
        ASSERT_NE(receive, nullptr);
        EXPECT_EQ(receive->next, nullptr);
        EXPECT_EQ(send->data, std::vector<std::uint8_t>{1});
        EXPECT_EQ(send->data_length, 1);
        EXPECT_EQ(receive->filename, "a.bin");
        EXPECT_EQ(receive->packet_length, 4);
        for (std::size_t j = 0; j < i; ++j) {
            EXPECT_NE(loop.children[j].get(), send);
            EXPECT_NE(loop.children[j]->next.get(), receive);
        }
    }
    // Each repetition has buffers of its own.
    loop.children[1]->data[0] = 9;
    EXPECT_EQ(loop.children[0]->data[0], 1);
    EXPECT_EQ(loop.children[2]->data[0], 1);
}

TEST(LoopExpansion, LoopsThatRepeatNothingKeepNoChildren)
{
    for (const std::string text : {"L t:5; S d:1;", "L n:1 t:0; S d:1; S d:2;"}) {
        SCOPED_TRACE(text);
        Expanded expanded = ParseAndExpand(text);
        ASSERT_TRUE(expanded.ok);
        EXPECT_TRUE(expanded.list->children.empty());
        ASSERT_NE(expanded.list->next, nullptr);
        EXPECT_EQ(expanded.list->next->next, nullptr);
    }
}

TEST(LoopExpansion, NotEnoughCommandsNamesTheLoopThatRanOut)
{
    struct Case {
        std::string text;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"L n:3 t:2; S d:1;", "Not enough commands present for loop command 0\n"},
        {"S d:1; L n:1 t:2;", "Not enough commands present for loop command 1\n"},
        {"S d:1; B 10; L n:1 t:0;", "Not enough commands present for loop command 2\n"},
        {"L n:3 t:0; S d:1; S d:2;", "Not enough commands present for loop command 0\n"},
        // The inner loop runs out first.
        {"L n:2 t:2; L n:3 t:2; S d:1;", "Not enough commands present for loop command 1\n"},
        // The inner loop is complete, the outer one is not.
        {"L n:2 t:2; L n:1 t:2; S d:1;", "Not enough commands present for loop command 0\n"},
        // A nested count inside a dropped body reaches past the end.
        {"L n:1 t:0; L n:3 t:1; S d:1; S d:2;", "Not enough commands present for loop command 0\n"},
        {"L n:1 t:0; L n:1 t:0;", "Not enough commands present for loop command 0\n"},
        {"L n:1 t:2; L n:1 t:0;", "Not enough commands present for loop command 1\n"},
        // A later loop fails after earlier ones were expanded.
        {"L n:1 t:2; S d:1; L n:2 t:2; S d:2;", "Not enough commands present for loop command 2\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        Expanded expanded = ParseAndExpand(c.text);
        EXPECT_FALSE(expanded.ok);
        EXPECT_EQ(expanded.printed, c.message);
        CS_FreeCommands(expanded.list); // what is left must be releasable
        EXPECT_EQ(expanded.list, nullptr);
    }
}

TEST(LoopExpansion, ChildrenThatCannotBeAllocatedFailTheExpansion)
{
    // 2^31 - 1 list heads do not fit any address space this test runs in.
    Expanded expanded = ParseAndExpand("S d:1; L n:1 t:7fffffff; S d:2;");
    EXPECT_FALSE(expanded.ok);
    EXPECT_EQ(expanded.printed, "Could not allocate memory for children of loop command 1\n");
}

TEST(CopyList, CopiesEveryRecordAndLoopChildWithoutExecutionState)
{
    Expanded expanded = ParseAndExpand("S n:2 e:y d:1 2; L n:2 t:2; R n:3 l:8 f:x; S d:5; L; R l:1;");
    ASSERT_TRUE(expanded.ok);
    SpaceWireCommand &first = *expanded.list;
    first.status = VANTOR_TRANSFER_SUCCESS;
    first.transfer_id = &first;
    first.submitted = true;

    SpaceWireCommandList copy;
    CaptureStdout capture;
    ASSERT_TRUE(CS_CopyList(copy, expanded.list.get()));
    EXPECT_EQ(capture.Take(), "");
    EXPECT_EQ(RunOrder(copy.get()), RunOrder(expanded.list.get()));
    EXPECT_EQ(RunOrder(copy.get()), "S1:0 R8:2 S5:3 R8:2 S5:3 R1:5");

    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy.get(), expanded.list.get());
    EXPECT_EQ(copy->packet_count, 2);
    EXPECT_EQ(copy->end_with_eep, 1);
    EXPECT_EQ(copy->data, (std::vector<std::uint8_t>{1, 2, 1, 2}));
    EXPECT_EQ(copy->status, VANTOR_TRANSFER_NOT_STARTED);
    EXPECT_EQ(copy->transfer_id, nullptr);
    EXPECT_FALSE(copy->submitted);
    const SpaceWireCommand &loop = *copy->next;
    ASSERT_EQ(loop.children.size(), 2u);
    EXPECT_NE(loop.children[0].get(), expanded.list->next->children[0].get());
    EXPECT_EQ(loop.children[1]->packet_count, 3);
    EXPECT_EQ(loop.children[1]->filename, "x");
    const SpaceWireCommand &empty_loop = *loop.next;
    EXPECT_EQ(empty_loop.type, SPACEWIRE_COMMAND_LOOP);
    EXPECT_TRUE(empty_loop.children.empty());
}

TEST(CopyList, EmptySourceGivesEmptyCopy)
{
    SpaceWireCommandList copy(new SpaceWireCommand(SPACEWIRE_COMMAND_LOOP, 4));
    EXPECT_TRUE(CS_CopyList(copy, nullptr));
    EXPECT_EQ(copy, nullptr);
}

// Depth and length far beyond what a call stack holds: a recursive
// expansion, copy, walk or release would crash here.
constexpr int kDeep = 300000;

std::string Repeat(const std::string &piece, int times)
{
    std::string text;
    text.reserve(piece.size() * static_cast<std::size_t>(times));
    for (int i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

TEST(DeepLists, NestedLoopsAreExpandedCopiedWalkedAndReleased)
{
    Expanded expanded = ParseAndExpand("L n:1 t:2;" + Repeat("L n:1 t:1;", kDeep) + "S d:7; S d:8;");
    ASSERT_TRUE(expanded.ok) << expanded.printed;
    const std::string number = std::to_string(kDeep + 1);
    EXPECT_EQ(RunOrder(expanded.list.get()), "S7:" + number + " S7:" + number + " S8:" + std::to_string(kDeep + 2));
    SpaceWireCommandList copy;
    ASSERT_TRUE(CS_CopyList(copy, expanded.list.get()));
    CS_FreeCommands(copy);
    CS_FreeCommands(expanded.list);
}

TEST(DeepLists, DroppedDeepBodyIsReleased)
{
    Expanded expanded = ParseAndExpand("L n:1 t:0;" + Repeat("L n:1 t:3;", kDeep) + "S d:7; S d:8;");
    ASSERT_TRUE(expanded.ok) << expanded.printed;
    EXPECT_EQ(RunOrder(expanded.list.get()), "S8:" + std::to_string(kDeep + 2));
}

TEST(DeepLists, DeepNestingThatRunsOutIsReleased)
{
    Expanded expanded = ParseAndExpand(Repeat("L n:1 t:2;", kDeep));
    EXPECT_FALSE(expanded.ok);
    EXPECT_EQ(expanded.printed, "Not enough commands present for loop command " + std::to_string(kDeep - 1) + "\n");
}

TEST(DeepLists, LongChainIsReleased)
{
    SpaceWireCommandList list;
    SpaceWireCommandList *tail = &list;
    for (int i = 0; i < 2000000; ++i) {
        *tail = std::make_unique<SpaceWireCommand>(SPACEWIRE_COMMAND_SEND, i);
        tail = &(*tail)->next;
    }
    CS_FreeCommands(list);
    EXPECT_EQ(list, nullptr);
}

} // namespace
