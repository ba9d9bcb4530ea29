#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "captured_stream.h"
#include "app/settings.h"
#include "common/display.h"
#include "rmap_library_override.h"
#include "support/scratch_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// CRC-8 of the RMAP standard, bit by bit (reflected polynomial 0x07).
std::uint8_t Crc(const Bytes &bytes, std::size_t begin, std::size_t end)
{
    std::uint8_t crc = 0;
    for (std::size_t i = begin; i < end; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) != 0 ? static_cast<std::uint8_t>((crc >> 1) ^ 0xE0) : static_cast<std::uint8_t>(crc >> 1);
        }
    }
    return crc;
}

TEST(RmapTestCrc, MatchesTheCheckValues)
{
    const std::string digits = "123456789";
    EXPECT_EQ(Crc(Bytes(digits.begin(), digits.end()), 0, 9), 0x20);
    EXPECT_EQ(Crc(Bytes{1, 2, 3, 4, 5, 6, 7, 8}, 0, 8), 0xB0);
}

constexpr std::uint8_t kReplyBit = 0x08;
constexpr std::uint8_t kIncrement = 0x04;
constexpr std::uint8_t kVerify = 0x10;
constexpr std::uint8_t kWrite = 0x20;
constexpr std::uint8_t kReadModifyWrite = 0x1C;

struct Reply {
    Bytes path;                 // bytes below 32 in front of the initiator
    std::uint8_t initiator = 0x20;
    std::uint8_t instruction = 0;
    std::uint8_t status = 0;
    std::uint8_t target = 0xFE;
    std::uint16_t transaction_id = 7;
    Bytes data;
    std::uint8_t header_crc = 0; // filled in by Build
    std::uint8_t data_crc = 0;   // filled in by Build
};

Bytes Build(Reply &reply)
{
    Bytes packet = reply.path;
    const std::size_t header_start = packet.size();
    const bool write = (reply.instruction & kWrite) != 0;
    packet.insert(packet.end(), {reply.initiator, 0x01, reply.instruction, reply.status, reply.target,
                                 static_cast<std::uint8_t>(reply.transaction_id >> 8),
                                 static_cast<std::uint8_t>(reply.transaction_id & 0xFF)});
    if (!write) {
        const std::size_t length = reply.data.size();
        packet.insert(packet.end(), {0x00, static_cast<std::uint8_t>(length >> 16),
                                     static_cast<std::uint8_t>((length >> 8) & 0xFF),
                                     static_cast<std::uint8_t>(length & 0xFF)});
    }
    reply.header_crc = Crc(packet, header_start, packet.size());
    packet.push_back(reply.header_crc);
    if (!write) {
        const std::size_t data_start = packet.size();
        packet.insert(packet.end(), reply.data.begin(), reply.data.end());
        reply.data_crc = Crc(packet, data_start, packet.size());
        packet.push_back(reply.data_crc);
    }
    return packet;
}

std::string Hex(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

struct Shown {
    bool result;
    std::string text;
};

Shown Show(const Bytes &packet, const char *data_file = nullptr, int length = -2)
{
    CapturedStream out;
    const int used_length = length == -2 ? static_cast<int>(packet.size()) : length;
    const bool result = DisplayRMAPResponse(packet.data(), used_length, out.stream(), data_file);
    return {result, out.Text()};
}

class RmapResponseDisplay : public ::testing::Test {
protected:
    void SetUp() override { default_base = 16; }
    void TearDown() override { default_base = 16; }
};

const std::string kStructureError = "Error in the structure of the RMAP packet\n";

TEST_F(RmapResponseDisplay, ReadReply)
{
    Reply reply;
    reply.instruction = kReplyBit | kIncrement;
    reply.data = {0x01, 0x02, 0x03, 0xA4};
    const Bytes packet = Build(reply);
    const Shown shown = Show(packet);
    EXPECT_TRUE(shown.result);
    EXPECT_EQ(shown.text, "\n\nRead response\n-------------\n"
                          "Reply address: 20 \n"
                          "Incrementing addresses is enabled.\n"
                          "Status = success\n"
                          "Target address: fe \n"
                          "Transaction identifier: 7\n"
                          "Header CRC: " + Hex(reply.header_crc) + "\n"
                          "Data: 1 2 3 a4 \n"
                          "Data CRC: " + Hex(reply.data_crc) + "\n");
}

TEST_F(RmapResponseDisplay, SingleAddressReadWithPathAndNoData)
{
    Reply reply;
    reply.path = {0x01, 0x1F};
    reply.initiator = 0x40;
    reply.instruction = kReplyBit;
    reply.status = 10;
    reply.target = 0x33;
    reply.transaction_id = 0xBEEF;
    const Bytes packet = Build(reply);
    const Shown shown = Show(packet);
    EXPECT_TRUE(shown.result);
    EXPECT_EQ(shown.text, "\n\nRead response\n-------------\n"
                          "Reply address: 1 1f 40 \n"
                          "Incrementing addresses is not enabled.\n"
                          "Status = command not implemented or authorised\n"
                          "Target address: 33 \n"
                          "Transaction identifier: beef\n"
                          "Header CRC: " + Hex(reply.header_crc) + "\n"
                          "Data: \n"
                          "Data CRC: 0\n");
}

TEST_F(RmapResponseDisplay, WriteReplies)
{
    struct WriteCase {
        std::uint8_t flags;
        const char *verify_line;
        const char *increment_line;
    };
    const WriteCase cases[] = {
        {kVerify | kIncrement, "Data verification is enabled.\n", "Incrementing addresses is enabled.\n"},
        {kVerify, "Data verification is enabled.\n", "Incrementing addresses is not enabled.\n"},
        {kIncrement, "Data verification is not enabled.\n", "Incrementing addresses is enabled.\n"},
        {0, "Data verification is not enabled.\n", "Incrementing addresses is not enabled.\n"},
    };
    for (const WriteCase &c : cases) {
        Reply reply;
        reply.instruction = static_cast<std::uint8_t>(kWrite | kReplyBit | c.flags);
        reply.transaction_id = 0;
        const Bytes packet = Build(reply);
        const Shown shown = Show(packet);
        EXPECT_TRUE(shown.result);
        EXPECT_EQ(shown.text, std::string("\n\nWrite response\n--------------\n"
                                          "Reply address: 20 \n") +
                                  c.verify_line + c.increment_line +
                                  "Status = success\n"
                                  "Target address: fe \n"
                                  "Transaction identifier: 0\n"
                                  "Header CRC: " + Hex(reply.header_crc) + "\n");
    }
}

TEST_F(RmapResponseDisplay, ReadModifyWriteReply)
{
    Reply reply;
    reply.instruction = kReadModifyWrite;
    reply.transaction_id = 0x100;
    reply.data = {0xDE, 0xAD};
    const Bytes packet = Build(reply);
    const Shown shown = Show(packet);
    EXPECT_TRUE(shown.result);
    EXPECT_EQ(shown.text, "\n\nRead/modify/write response\n--------------------------\n"
                          "Reply address: 20 \n"
                          "Status = success\n"
                          "Target address: fe \n"
                          "Transaction identifier: 100\n"
                          "Header CRC: " + Hex(reply.header_crc) + "\n"
                          "Data: de ad \n"
                          "Data CRC: " + Hex(reply.data_crc) + "\n");
}

TEST_F(RmapResponseDisplay, EveryStatus)
{
    struct StatusCase {
        std::uint8_t status;
        std::string line;
    };
    const StatusCase cases[] = {
        {0, "Status = success\n"},
        {1, "Status = general error\n"},
        {2, "Status = unused packet or command code\n"},
        {3, "Status = invalid key\n"},
        {4, "Status = invalid data CRC\n"},
        {5, "Status = early EOP\n"},
        {6, "Status = too much data\n"},
        {7, "Status = EEP\n"},
        {8, "Invalid status 8\n"},
        {9, "Status = buffer overrun\n"},
        {10, "Status = command not implemented or authorised\n"},
        {11, "Status = data length error\n"},
        {12, "Status = invalid target logical address\n"},
        {13, "Invalid status 13\n"},
        {128, "Invalid status 128\n"},
        {255, "Invalid status 255\n"},
    };
    for (const StatusCase &c : cases) {
        Reply reply;
        reply.instruction = kWrite | kReplyBit;
        reply.status = c.status;
        const Bytes packet = Build(reply);
        const Shown shown = Show(packet);
        EXPECT_TRUE(shown.result) << "status " << int{c.status};
        // The status line stands between the flag lines and the target address.
        const std::string before = "Incrementing addresses is not enabled.\n";
        const std::size_t at = shown.text.find(before);
        ASSERT_NE(at, std::string::npos);
        EXPECT_EQ(shown.text.substr(at + before.size(), c.line.size()), c.line) << "status " << int{c.status};
        EXPECT_NE(shown.text.find("Header CRC: "), std::string::npos) << "the display goes on";
    }
}

TEST_F(RmapResponseDisplay, NumbersInTheDefaultBase)
{
    struct BaseCase {
        int base;
        std::string reply_address;
        std::string target;
        std::string transaction_id;
        std::string data;
    };
    const BaseCase cases[] = {
        {2, "101 100000 ", "11111110 ", "1010", "101 0 11111111 "},
        {8, "5 40 ", "376 ", "12", "5 0 377 "},
        {10, "5 32 ", "254 ", "10", "5 0 255 "},
        {16, "5 20 ", "fe ", "a", "5 0 ff "},
    };
    for (const BaseCase &c : cases) {
        default_base = c.base;
        Reply reply;
        reply.path = {0x05};
        reply.instruction = kReplyBit | kIncrement;
        reply.transaction_id = 10;
        reply.data = {0x05, 0x00, 0xFF};
        const Shown shown = Show(Build(reply));
        EXPECT_TRUE(shown.result);
        SCOPED_TRACE(c.base);
        EXPECT_NE(shown.text.find("Reply address: " + c.reply_address + "\n"), std::string::npos) << shown.text;
        EXPECT_NE(shown.text.find("Target address: " + c.target + "\n"), std::string::npos) << shown.text;
        EXPECT_NE(shown.text.find("Transaction identifier: " + c.transaction_id + "\n"), std::string::npos);
        EXPECT_NE(shown.text.find("Data: " + c.data + "\n"), std::string::npos) << shown.text;
    }
}

TEST_F(RmapResponseDisplay, MalformedBytesPrintOnlyTheStructureError)
{
    Reply read;
    read.instruction = kReplyBit | kIncrement;
    read.data = {1, 2, 3, 4};
    const Bytes good = Build(read);

    std::vector<Bytes> bad;
    bad.push_back({});
    bad.push_back({0x20});
    Bytes header_crc_wrong = good;
    header_crc_wrong[11] ^= 0x01;
    bad.push_back(header_crc_wrong);
    Bytes data_crc_wrong = good;
    data_crc_wrong.back() ^= 0x80;
    bad.push_back(data_crc_wrong);
    Bytes extra = good;
    extra.push_back(0x00);
    bad.push_back(extra);
    Bytes protocol_wrong = good;
    protocol_wrong[1] = 0x02;
    bad.push_back(protocol_wrong);
    // The length field claims more data than arrived.
    Reply longer = read;
    longer.data.resize(200, 0x55);
    Bytes claims_more = Build(longer);
    claims_more.resize(good.size());
    bad.push_back(claims_more);
    // Every truncation of a sound reply.
    for (std::size_t length = 0; length < good.size(); ++length) {
        bad.emplace_back(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
    }
    for (const Bytes &packet : bad) {
        const Shown shown = Show(packet);
        EXPECT_FALSE(shown.result) << "length " << packet.size();
        EXPECT_EQ(shown.text, kStructureError) << "length " << packet.size();
    }
}

TEST_F(RmapResponseDisplay, LengthArgumentDecidesWhatIsRead)
{
    Reply read;
    read.instruction = kReplyBit;
    read.data = {9};
    const Bytes good = Build(read);
    // Fewer bytes given than the buffer holds, or a negative length.
    for (const int length : {-1, -1000, 0, static_cast<int>(good.size()) - 1}) {
        const Shown shown = Show(good, nullptr, length);
        EXPECT_FALSE(shown.result) << length;
        EXPECT_EQ(shown.text, kStructureError) << length;
    }
    CapturedStream out;
    EXPECT_FALSE(DisplayRMAPResponse(nullptr, 0, out.stream(), nullptr));
    EXPECT_FALSE(DisplayRMAPResponse(nullptr, 16, out.stream(), nullptr));
    EXPECT_EQ(out.Text(), kStructureError + kStructureError);
}

TEST_F(RmapResponseDisplay, CommandsAreUnexpectedTypes)
{
    // A read command (type 64): target, protocol, instruction, key, initiator,
    // transaction identifier, extended address, address, length, header CRC.
    Bytes read_command{0xFE, 0x01, 0x4C, 0x00, 0x20, 0x00, 0x01, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x04};
    read_command.push_back(Crc(read_command, 0, read_command.size()));
    Shown shown = Show(read_command);
    EXPECT_FALSE(shown.result);
    EXPECT_EQ(shown.text, "\n\nUnexpected packet type 64\n");

    // A write command (type 96) carrying one data byte.
    Bytes write_command{0xFE, 0x01, 0x6C, 0x00, 0x20, 0x00, 0x01, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x01};
    write_command.push_back(Crc(write_command, 0, write_command.size()));
    write_command.push_back(0xAB);
    write_command.push_back(Crc(write_command, write_command.size() - 1, write_command.size()));
    shown = Show(write_command);
    EXPECT_FALSE(shown.result);
    EXPECT_EQ(shown.text, "\n\nUnexpected packet type 96\n");
}

TEST_F(RmapResponseDisplay, InvalidAndUnexpectedTypesFromTheLibrary)
{
    Reply reply;
    reply.instruction = kWrite | kReplyBit;
    const Bytes packet = Build(reply);
    RmapOverrideGuard guard;
    ForceRmapPacketType(255);
    Shown shown = Show(packet);
    EXPECT_FALSE(shown.result);
    EXPECT_EQ(shown.text, "\n\nInvalid packet type 255\n");
    for (const int type : {1, 48, 64, 80, 96, 254, 256, -1}) {
        ForceRmapPacketType(type);
        shown = Show(packet);
        EXPECT_FALSE(shown.result);
        EXPECT_EQ(shown.text, "\n\nUnexpected packet type " + std::to_string(type) + "\n");
    }
}

TEST_F(RmapResponseDisplay, DataCountBeyondTheBytesIsNotFollowed)
{
    ScratchDir scratch;
    const std::string file = (scratch / "data.bin").string();
    Reply reply;
    reply.instruction = kReplyBit;
    reply.data = {1, 2};
    const Bytes packet = Build(reply);
    RmapOverrideGuard guard;
    ForceRmapDataCount(static_cast<unsigned int>(packet.size()) + 1);
    const Shown shown = Show(packet, file.c_str());
    EXPECT_FALSE(shown.result);
    EXPECT_EQ(shown.text, kStructureError);
    EXPECT_FALSE(scratch.Exists("data.bin"));
}

TEST_F(RmapResponseDisplay, DataFileReceivesOnlyTheDataAppendedEachTime)
{
    ScratchDir scratch;
    scratch.Write("data.bin", "old");
    const std::string file = (scratch / "data.bin").string();

    Reply read;
    read.instruction = kReplyBit | kIncrement;
    read.data = {0x00, 0x41, 0xFF};
    const Bytes read_packet = Build(read);
    const Shown first = Show(read_packet, file.c_str());
    EXPECT_TRUE(first.result);
    EXPECT_EQ(first.text, Show(read_packet).text) << "the file changes nothing on the stream";
    EXPECT_TRUE(Show(read_packet, file.c_str()).result);
    EXPECT_EQ(scratch.Read("data.bin"), std::string("old\x00\x41\xFF\x00\x41\xFF", 9));

    Reply rmw;
    rmw.instruction = kReadModifyWrite;
    rmw.data = {0x7E};
    EXPECT_TRUE(Show(Build(rmw), file.c_str()).result);
    EXPECT_EQ(scratch.Read("data.bin"), std::string("old\x00\x41\xFF\x00\x41\xFF\x7E", 10));

    // Replies without data, write replies and rejected bytes add nothing.
    Reply failed;
    failed.instruction = kReplyBit;
    failed.status = 1;
    EXPECT_TRUE(Show(Build(failed), file.c_str()).result);
    Reply write;
    write.instruction = kWrite | kReplyBit;
    EXPECT_TRUE(Show(Build(write), file.c_str()).result);
    Bytes broken = read_packet;
    broken.pop_back();
    EXPECT_FALSE(Show(broken, file.c_str()).result);
    EXPECT_EQ(scratch.Read("data.bin"), std::string("old\x00\x41\xFF\x00\x41\xFF\x7E", 10));

    Show(Build(write), (scratch / "write.bin").string().c_str());
    EXPECT_FALSE(scratch.Exists("write.bin"));
}

TEST_F(RmapResponseDisplay, DataFileThatCannotBeOpenedIsPassedOver)
{
    ScratchDir scratch;
    Reply read;
    read.instruction = kReplyBit;
    read.data = {0x12};
    const Bytes packet = Build(read);
    const std::string expected = Show(packet).text;
    for (const std::string &name : {(scratch / "missing_dir/data.bin").string(), scratch.path().string(),
                                    std::string()}) {
        const Shown shown = Show(packet, name.c_str());
        EXPECT_TRUE(shown.result) << name;
        EXPECT_EQ(shown.text, expected) << name;
    }
}

TEST_F(RmapResponseDisplay, RandomBytesNeverCrash)
{
    // Random bytes, and sound replies with one byte changed: whatever the
    // library makes of them, the display either decodes or refuses them.
    std::mt19937 random(12345);
    Reply read;
    read.instruction = kReplyBit | kIncrement;
    read.data = {1, 2, 3, 4, 5, 6, 7, 8};
    const Bytes good = Build(read);
    for (int round = 0; round < 20000; ++round) {
        Bytes packet;
        if (round % 2 == 0) {
            packet.resize(random() % 40);
            for (std::uint8_t &byte : packet) {
                byte = static_cast<std::uint8_t>(random());
            }
            if (packet.size() > 1 && round % 4 == 0) {
                packet[1] = 0x01;
            }
        } else {
            packet = good;
            packet[random() % packet.size()] = static_cast<std::uint8_t>(random());
        }
        const Shown shown = Show(packet);
        if (!shown.result) {
            EXPECT_TRUE(shown.text == kStructureError || shown.text.rfind("\n\nUnexpected packet type ", 0) == 0)
                << shown.text;
        }
    }
}

} // namespace
