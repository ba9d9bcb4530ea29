// The SpaceWire command-list parser: records built, bases applied, and every
// message with the number of the command that failed.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/settings.h"
#include "stream_spacewire/cs_parser.h"
#include "support/capture_stdout.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kSuccess = "Command list file successfully processed.\n";

struct Parsed {
    bool ok = false;
    std::string printed;
    SpaceWireCommandList list;
    NumberBase output_base = -1;
};

class Parser : public testing::Test {
protected:
    void SetUp() override { default_base = 16; }
    void TearDown() override { default_base = 16; }

    static Parsed Parse(const std::string &text)
    {
        Parsed parsed;
        CaptureStdout capture;
        parsed.ok = CS_ProcessCommands(text, parsed.list, parsed.output_base);
        parsed.printed = capture.Take();
        return parsed;
    }

    // The records of a flat list, in order.
    static std::vector<const SpaceWireCommand *> Records(const Parsed &parsed)
    {
        std::vector<const SpaceWireCommand *> records;
        for (const SpaceWireCommand *c = parsed.list.get(); c != nullptr; c = c->next.get()) {
            records.push_back(c);
        }
        return records;
    }

    // Parses a list that must hold exactly one record and returns it.
    static Parsed ParseOne(const std::string &text)
    {
        Parsed parsed = Parse(text);
        EXPECT_TRUE(parsed.ok) << text << "\n" << parsed.printed;
        EXPECT_EQ(parsed.printed, kSuccess);
        EXPECT_NE(parsed.list, nullptr);
        if (parsed.list) {
            EXPECT_EQ(parsed.list->next, nullptr);
        }
        return parsed;
    }
};

TEST_F(Parser, EmptyAndBlankTextsAreAnEmptyList)
{
    for (const std::string text : {"", " \t\r\n  "}) {
        Parsed parsed = Parse(text);
        EXPECT_TRUE(parsed.ok);
        EXPECT_EQ(parsed.printed, kSuccess);
        EXPECT_EQ(parsed.list, nullptr);
        EXPECT_EQ(parsed.output_base, -1);
    }
}

TEST_F(Parser, SendRecords)
{
    struct Case {
        std::string text;
        std::int32_t count;
        std::uint8_t eep;
        Bytes data;
        std::int32_t length;
    };
    const std::vector<Case> cases = {
        {"S d:0x01 0x02;", 1, 0, {1, 2}, 2},
        {"s n:3 e:y d:1 2;", 3, 1, {1, 2, 1, 2, 1, 2}, 2},
        {"S e:E d:ff;", 1, 1, {0xff}, 1},
        {"S e:t d:1;", 1, 1, {1}, 1},
        {"S e:O d:1;", 1, 0, {1}, 1},
        {"S e:y e:n d:1;", 1, 0, {1}, 1},
        {"S E:F N:2 d:7;", 2, 0, {7, 7}, 1},
        {"S n:1 n:2 d:5;", 2, 0, {5, 5}, 1},
        {"  S\n n:2\td:a b\n  c ;", 2, 0, {0xa, 0xb, 0xc, 0xa, 0xb, 0xc}, 3},
        {"Sd:'AB' 1;", 1, 0, {0x41, 0x42, 0x01}, 3},
        {"S d:;", 1, 0, {}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        Parsed parsed = ParseOne(c.text);
        ASSERT_NE(parsed.list, nullptr);
        const SpaceWireCommand &send = *parsed.list;
        EXPECT_EQ(send.type, SPACEWIRE_COMMAND_SEND);
        EXPECT_EQ(send.number, 0);
        EXPECT_EQ(send.packet_count, c.count);
        EXPECT_EQ(send.end_with_eep, c.eep);
        EXPECT_EQ(send.data, c.data);
        EXPECT_EQ(send.data_length, c.length);
        EXPECT_EQ(send.status, VANTOR_TRANSFER_NOT_STARTED);
        EXPECT_EQ(send.packet_pointers, nullptr);
        EXPECT_EQ(send.packet_lengths, nullptr);
    }
}

TEST_F(Parser, ReceiveRecords)
{
    struct Case {
        std::string text;
        std::int32_t count;
        std::int32_t length;
        std::string filename;
    };
    const std::vector<Case> cases = {
        {"R l:10;", 1, 16, ""},
        {"r L:8 N:1;", 1, 8, ""},
        {"R l:4 l:8 n:2 n:3;", 3, 8, ""},
        {"R l:64 f:out.bin;", 1, 0x64, "out.bin"},
        {"R l:64 f:'my file.bin';", 1, 0x64, "my file.bin"},
        // Any quote closes, ";" and blanks may stand inside, and parsing
        // goes on behind the closing quote.
        {"R l:40 f:`a;b\"n:2;", 2, 0x40, "a;b"},
        {"R f:x f:y.dat l:1;", 1, 1, "y.dat"},
        {"R l:8000 n:ffff;", 0xffff, 0x8000, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        Parsed parsed = ParseOne(c.text);
        ASSERT_NE(parsed.list, nullptr);
        const SpaceWireCommand &receive = *parsed.list;
        EXPECT_EQ(receive.type, SPACEWIRE_COMMAND_RECEIVE);
        EXPECT_EQ(receive.packet_count, c.count);
        EXPECT_EQ(receive.packet_length, c.length);
        EXPECT_EQ(receive.filename, c.filename);
        EXPECT_EQ(receive.buffer, nullptr);
        EXPECT_EQ(receive.properties, nullptr);
    }
}

TEST_F(Parser, LoopRecords)
{
    struct Case {
        std::string text;
        std::int32_t number_to_repeat;
        std::int32_t times_to_repeat;
    };
    const std::vector<Case> cases = {
        {"L;", 0, 0},
        {"L n:2 t:3;", 2, 3},
        {"l T:10 N:1;", 1, 16},
        {"L n: t:3;", 0, 3}, // an empty value reads as 0
        {"L t:5 t:0;", 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        Parsed parsed = ParseOne(c.text);
        ASSERT_NE(parsed.list, nullptr);
        EXPECT_EQ(parsed.list->type, SPACEWIRE_COMMAND_LOOP);
        EXPECT_EQ(parsed.list->number_to_repeat, c.number_to_repeat);
        EXPECT_EQ(parsed.list->times_to_repeat, c.times_to_repeat);
        EXPECT_TRUE(parsed.list->children.empty());
    }
}

TEST_F(Parser, CommandsAreNumberedInTextOrderBaseCommandsIncluded)
{
    Parsed parsed = Parse("B 10; S d:1; O 2; R l:8; L n:1 t:1;S d:2;");
    ASSERT_TRUE(parsed.ok);
    const auto records = Records(parsed);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0]->number, 1);
    EXPECT_EQ(records[1]->number, 3);
    EXPECT_EQ(records[2]->number, 4);
    EXPECT_EQ(records[3]->number, 5);
    EXPECT_EQ(records[1]->packet_length, 8);
}

TEST_F(Parser, InputBaseGovernsTheValuesBehindIt)
{
    Parsed parsed = Parse("R l:10; B 10; R l:10; B 8; S d:10 n20; B i; R n:11 l:100; B 16 2; R l:11;");
    ASSERT_TRUE(parsed.ok) << parsed.printed;
    const auto records = Records(parsed);
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0]->packet_length, 16);
    EXPECT_EQ(records[1]->packet_length, 10);
    EXPECT_EQ(records[2]->data, (Bytes{8, 20}));
    EXPECT_EQ(records[3]->packet_count, 3);
    EXPECT_EQ(records[3]->packet_length, 4);
    EXPECT_EQ(records[4]->packet_length, 3);
    EXPECT_EQ(default_base, 2); // the last B command stays in force
    EXPECT_EQ(parsed.output_base, -1);
}

TEST_F(Parser, OutputBaseTakesTheLastWordAndLeavesTheInputBase)
{
    Parsed parsed = Parse("O 10; O 16 o; R l:10;");
    ASSERT_TRUE(parsed.ok);
    EXPECT_EQ(parsed.output_base, 8);
    EXPECT_EQ(default_base, 16);
    EXPECT_EQ(parsed.list->packet_length, 16);
}

// A ";" always ends the data, even inside quotes: here the rest "b';" is
// read as a base command with the word "'".
TEST_F(Parser, DataEndsAtTheFirstSemicolon)
{
    Parsed parsed = Parse("S d:'a;b';");
    EXPECT_FALSE(parsed.ok);
    EXPECT_EQ(parsed.printed, "Invalid base specified in base command 1.\n");
    ASSERT_NE(parsed.list, nullptr);
    EXPECT_EQ(parsed.list->data, Bytes{0x61});
}

struct ErrorCase {
    std::string text;
    std::string message;
};

TEST_F(Parser, EveryMessageNamesTheFailingCommand)
{
    const std::vector<ErrorCase> cases = {
        {"S d:1; X;", "Error in command list file at command 1.\n"},
        {"B 10; S d:1; X;", "Error in command list file at command 2.\n"},
        {"send d:1;", "Unexpected property type in send command 0.\n"},
        {"S n:0 d:1;", "Error in number of packets specified in send command 0.\n"},
        {"R l:1; S n:zz d:1;", "Error in number of packets specified in send command 1.\n"},
        {"S n:1 2 d:1;", "Unexpected property type in send command 0.\n"},
        {"S n 2 d:1;", "Unexpected property type in send command 0.\n"},
        {"R l:4; S q:1 d:1;", "Unexpected property type in send command 1.\n"},
        {"S e:x d:1;", "Error in EOP type x.\n"},
        {"S e: d:1;", "Error in EOP type  .\n"},
        {"S e:", "Error in EOP type .\n"},
        {"S e:eep d:1;", "Error in EOP type argument.\n"},
        {"S e:y,d:1;", "Error in EOP type argument.\n"},
        {"S d:1 2", "Error, no semi-colon in data field of send command 0.\n"},
        {"S d:1 n:2;", "Error in data of send command 0.\n"},
        {"L; S d:0x1g;", "Error in data of send command 1.\n"},
        {"S d:-missing.bin;", "Error in data of send command 0.\n"},
        {"S n:2;", "No data was specified in send command 0.\n"},
        {"S n:2", "No data was specified in send command 0.\n"},
        {"S e:y", "No data was specified in send command 0.\n"},
        {"R n:0 l:4;", "Error in number of packets specified in receive command 0.\n"},
        {"R n:g l:4;", "Error in number of packets specified in receive command 0.\n"},
        {"R l:0;", "Error in packet length specified in receive command 0.\n"},
        {"S d:1; R l:x;", "Error in packet length specified in receive command 1.\n"},
        {"R l:4 f:;", "Error in filename specified in receive command 0.\n"},
        {"R l:4 f: x;", "Error in filename specified in receive command 0.\n"},
        {"R l:4 f:'';", "Error in filename specified in receive command 0.\n"},
        {"R l:4 f:'abc", "Error in filename specified in receive command 0.\n"},
        {"R l:4 f:", "Error in filename specified in receive command 0.\n"},
        {"R l:4 z:1;", "Unexpected property type in receive command 0.\n"},
        {"R l 4;", "Unexpected property type in receive command 0.\n"},
        {"R n:2;", "No packet length specified in receive command 0.\n"},
        {"R n:2", "No packet length specified in receive command 0.\n"},
        {"R l:8", "Receive command 0 was not terminated by a semi-colon.\n"},
        {"R l:8 ", "Receive command 0 was not terminated by a semi-colon.\n"},
        {"L n:x;", "Error in number to repeat specified in loop command 0.\n"},
        {"S d:1; L t:g;", "Error in times to repeat specified in loop command 1.\n"},
        {"L n:1 t:1", "Loop command 0 was not terminated by a semi-colon.\n"},
        {"L", "Loop command 0 was not terminated by a semi-colon.\n"},
        {"L x:1;", "Unexpected property type in loop command 0.\n"},
        {"L n1;", "Unexpected property type in loop command 0.\n"},
        {"B;", "No base specified in base command 0.\n"},
        {"S d:1; O ;", "No base specified in base command 1.\n"},
        {"B", "No base specified in base command 0.\n"},
        {"B 16", "Missing semi-colon in base command 0.\n"},
        {"O 16 2", "Missing semi-colon in base command 0.\n"},
        {"B 16 ", "Base command 0 was not terminated by a semi-colon.\n"},
        {"B hexa;", "Invalid base specified in base command 0.\n"},
        {"B 16 016;", "Invalid base specified in base command 0.\n"},
        {"O x;", "Invalid base specified in base command 0.\n"},
    };
    for (const ErrorCase &c : cases) {
        SCOPED_TRACE(c.text);
        Parsed parsed = Parse(c.text);
        EXPECT_FALSE(parsed.ok);
        EXPECT_EQ(parsed.printed, c.message);
    }
}

// Written values of 2^31 or more arrive as negative numbers; counts and
// lengths below 1, loop counts below 0, and commands whose packets together
// exceed 2^31 - 1 bytes are refused with the property's message.
TEST_F(Parser, CountsAndLengthsOutOfRange)
{
    const std::vector<ErrorCase> cases = {
        {"S n:80000000 d:1;", "Error in number of packets specified in send command 0.\n"},
        {"S n:ffffffff d:1;", "Error in number of packets specified in send command 0.\n"},
        {"S n:40000000 d:1 2;", "Error in number of packets specified in send command 0.\n"},
        {"R n:80000000 l:1;", "Error in number of packets specified in receive command 0.\n"},
        {"R l:80000000;", "Error in packet length specified in receive command 0.\n"},
        {"R l:8000 n:10000;", "Error in number of packets specified in receive command 0.\n"},
        {"R n:2 l:40000000;", "Error in number of packets specified in receive command 0.\n"},
        {"L n:80000000 t:1;", "Error in number to repeat specified in loop command 0.\n"},
        {"L t:ffffffff;", "Error in times to repeat specified in loop command 0.\n"},
    };
    for (const ErrorCase &c : cases) {
        SCOPED_TRACE(c.text);
        Parsed parsed = Parse(c.text);
        EXPECT_FALSE(parsed.ok);
        EXPECT_EQ(parsed.printed, c.message);
    }
    // The largest sizes that fit.
    EXPECT_TRUE(Parse("R l:7fffffff;").ok);
    EXPECT_TRUE(Parse("L n:7fffffff t:7fffffff;").ok);
}

// The working buffer holds 8,199 characters: one more is refused with the
// message of the property it belongs to.
TEST_F(Parser, ValuesLongerThanTheWorkingBuffer)
{
    const std::string longest_number = std::string(8198, '0') + "1";
    const std::string too_long_number = "0" + longest_number;
    struct Case {
        std::string text;
        bool ok;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"S n:" + longest_number + " d:1;", true, kSuccess},
        {"S n:" + too_long_number + " d:1;", false, "Error in number of packets specified in send command 0.\n"},
        {"R l:" + longest_number + ";", true, kSuccess},
        {"R l:" + too_long_number + ";", false, "Error in packet length specified in receive command 0.\n"},
        {"R l:1 n:" + too_long_number + ";", false, "Error in number of packets specified in receive command 0.\n"},
        {"L n:" + too_long_number + ";", false, "Error in number to repeat specified in loop command 0.\n"},
        {"L t:" + too_long_number + ";", false, "Error in times to repeat specified in loop command 0.\n"},
        {"S d:" + std::string(8198, ' ') + "1;", true, kSuccess},
        {"S d:" + std::string(8199, ' ') + "1;", false, "Error in data of send command 0.\n"},
        {"R l:1 f:" + std::string(8199, 'f') + ";", true, kSuccess},
        {"R l:1 f:" + std::string(8200, 'f') + ";", false, "Error in filename specified in receive command 0.\n"},
        {"R l:1 f:'" + std::string(8200, 'f') + "';", false, "Error in filename specified in receive command 0.\n"},
        {"B " + std::string(8200, 'h') + ";", false, "Invalid base specified in base command 0.\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text.substr(0, 12) + "... length " + std::to_string(c.text.size()));
        Parsed parsed = Parse(c.text);
        EXPECT_EQ(parsed.ok, c.ok);
        EXPECT_EQ(parsed.printed, c.message);
    }
}

TEST_F(Parser, FailureKeepsTheRecordsBeforeTheFailingCommand)
{
    Parsed parsed = Parse("S d:1; R l:4; L; S d:2; S n:2; R l:1;");
    EXPECT_FALSE(parsed.ok);
    EXPECT_EQ(parsed.printed, "No data was specified in send command 4.\n");
    const auto records = Records(parsed);
    ASSERT_EQ(records.size(), 4u);
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i]->number, static_cast<std::int32_t>(i));
    }
    EXPECT_EQ(records[3]->data, Bytes{2});
}

TEST_F(Parser, NothingAfterTheFirstErrorIsRead)
{
    // The second command has an error of its own that must not be reported.
    Parsed parsed = Parse("B;\nX;");
    EXPECT_EQ(parsed.printed, "No base specified in base command 0.\n");
}

TEST_F(Parser, ReadersLeaveTheCursorBehindTheSemicolon)
{
    const std::string text = "S n:2 d:1 ; R";
    std::size_t cursor = 1;
    CaptureStdout capture;
    SpaceWireCommandList send = CS_ReadSendCommand(text, cursor, 7);
    ASSERT_NE(send, nullptr);
    EXPECT_EQ(send->number, 7);
    EXPECT_EQ(cursor, 11u);

    const std::string receive_text = "R l:4 f:'a b';S";
    cursor = 1;
    SpaceWireCommandList receive = CS_ReadReceiveCommand(receive_text, cursor, 0);
    ASSERT_NE(receive, nullptr);
    EXPECT_EQ(cursor, 14u);

    const std::string base_text = "B 10 ;L";
    cursor = 1;
    EXPECT_EQ(CS_ReadBase(base_text, cursor, 0), 10);
    EXPECT_EQ(cursor, 6u);
    EXPECT_EQ(capture.Take(), "");
}

} // namespace
