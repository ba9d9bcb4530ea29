// Transfer-status messages, packet display and RMAP reply display.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/settings.h"
#include "common/display.h"
#include "common/reply_check.h"
#include "support/capture_stdout.h"
#include "support/rmap_crc.h"
#include "support/scratch_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(DisplayStatus, EachEndOfTheTableAndBeyond)
{
    const char *invalid = "An invalid transfer status was encountered.";
    const std::pair<int, const char *> cases[] = {
        {0, "The transfer was not started."},
        {8, "The user buffer could not be locked to transfer the contents to the driver."},
        {14, "The read failed as the device is not registered to receive."},
        {15, invalid},
        {-1, invalid},
    };
    for (const auto &[status, message] : cases) {
        EXPECT_STREQ(DisplayStatus(status), message) << "status " << status;
    }
}

std::string Displayed(const Bytes &bytes, int length, int end_type, int base)
{
    default_base = base;
    CaptureStdout capture;
    DisplayData(bytes.data(), length, end_type, stdout);
    default_base = 16;
    return capture.Take();
}

TEST(DisplayData, BytesInTheDefaultBaseThenTheEndMarker)
{
    const Bytes pair{0x01, 0xFE};
    const struct {
        int length, end_type, base;
        const char *text;
    } cases[] = {
        {2, 128, 16, "1 fe EOP"}, {2, 64, 10, "1 254 EEP"}, {2, 0, 2, "1 11111110 "},
        {2, 192, 8, "1 376 "},    {1, 128, 16, "1 EOP"},     {0, 64, 16, "EEP"},
        {-1, 0, 16, ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Displayed(pair, c.length, c.end_type, c.base), c.text) << c.length << " " << c.end_type;
    }
}

TEST(DisplayData, PacketsLongerThanTheFormattersBufferArriveWhole)
{
    Bytes packet(70000);
    std::string expected;
    for (std::size_t i = 0; i < packet.size(); ++i) {
        packet[i] = static_cast<std::uint8_t>(i * 31 + 7);
        char text[8];
        std::snprintf(text, sizeof text, "%x ", packet[i]);
        expected += text;
    }
    EXPECT_EQ(Displayed(packet, static_cast<int>(packet.size()), 128, 16), expected + "EOP");
}

constexpr std::uint8_t kReply = 0x08;
constexpr std::uint8_t kIncrement = 0x04;
constexpr std::uint8_t kVerify = 0x10;
constexpr std::uint8_t kWrite = 0x20;
constexpr std::uint8_t kReadModifyWrite = kVerify | kReply | kIncrement;
const std::string kStructureError = "Error in the structure of the RMAP packet\n";

std::uint8_t Crc(const std::uint8_t *bytes, std::size_t count) { return reference::RmapCrc({bytes, count}); }

// A reply from target FE to initiator 20, transaction 10A, behind path.
Bytes Build(std::uint8_t instruction, std::uint8_t status, const Bytes &data, const Bytes &path = {})
{
    Bytes packet = path;
    const bool write = (instruction & kWrite) != 0;
    packet.insert(packet.end(), {0x20, 0x01, instruction, status, 0xFE, 0x01, 0x0A});
    if (!write) {
        packet.insert(packet.end(), {0x00, 0x00, 0x00, static_cast<std::uint8_t>(data.size())});
    }
    packet.push_back(Crc(packet.data() + path.size(), packet.size() - path.size()));
    if (!write) {
        packet.insert(packet.end(), data.begin(), data.end());
        packet.push_back(Crc(data.data(), data.size()));
    }
    return packet;
}

struct Shown {
    bool result;
    std::string text;
};

Shown Show(const Bytes &packet, const char *data_file = nullptr, int base = 16)
{
    default_base = base;
    CaptureStdout capture;
    const bool result = DisplayRMAPResponse(packet.data(), static_cast<int>(packet.size()), stdout, data_file);
    default_base = 16;
    return {result, capture.Take()};
}

TEST(DisplayRMAPResponse, EachReplyKindInTheDefaultBase)
{
    // The CRCs were worked out separately from the header and data bytes.
    const struct {
        std::uint8_t instruction;
        Bytes path, data;
        int base;
        const char *text;
    } cases[] = {
        {kReply | kIncrement, {0x01, 0x1F}, {0x01, 0x02, 0x03, 0xA4}, 16,
         "\n\nRead response\n-------------\nReply address: 1 1f 20 \nIncrementing addresses is enabled.\n"
         "Status = success\nTarget address: fe \nTransaction identifier: 10a\nHeader CRC: 2\n"
         "Data: 1 2 3 a4 \nData CRC: 85\n"},
        {kReply, {}, {}, 2,
         "\n\nRead response\n-------------\nReply address: 100000 \nIncrementing addresses is not enabled.\n"
         "Status = success\nTarget address: 11111110 \nTransaction identifier: 100001010\n"
         "Header CRC: 10110101\nData: \nData CRC: 0\n"},
        {kWrite | kReply | kVerify, {}, {}, 8,
         "\n\nWrite response\n--------------\nReply address: 40 \nData verification is enabled.\n"
         "Incrementing addresses is not enabled.\nStatus = success\nTarget address: 376 \n"
         "Transaction identifier: 412\nHeader CRC: 70\n"},
        {kReadModifyWrite, {}, {0xDE, 0xAD}, 10,
         "\n\nRead/modify/write response\n--------------------------\nReply address: 32 \nStatus = success\n"
         "Target address: 254 \nTransaction identifier: 266\nHeader CRC: 101\nData: 222 173 \nData CRC: 236\n"},
    };
    for (const auto &c : cases) {
        const Shown shown = Show(Build(c.instruction, 0, c.data, c.path), nullptr, c.base);
        EXPECT_TRUE(shown.result);
        EXPECT_EQ(shown.text, c.text);
    }
}

TEST(DisplayRMAPResponse, StatusLinesAroundTheGapsAndTheDisplayGoesOn)
{
    const std::pair<int, std::string> cases[] = {
        {7, "Status = EEP\n"}, {8, "Invalid status 8\n"}, {9, "Status = buffer overrun\n"},
        {12, "Status = invalid target logical address\n"}, {13, "Invalid status 13\n"},
        {255, "Invalid status 255\n"},
    };
    for (const auto &[status, line] : cases) {
        const Shown shown = Show(Build(kWrite | kReply, static_cast<std::uint8_t>(status), {}));
        EXPECT_TRUE(shown.result);
        EXPECT_NE(shown.text.find("enabled.\n" + line + "Target address: fe \n"), std::string::npos) << shown.text;
    }
}

TEST(DisplayRMAPResponse, BytesThatAreNoReplyShowOnlyWhyAndFail)
{
    const Bytes good = Build(kReply, 0, {1, 2, 3, 4});
    Bytes header_crc = good, shorter = good;
    header_crc[11] ^= 0x01;
    shorter.pop_back();
    for (const Bytes &packet : {Bytes{}, header_crc, shorter}) {
        const Shown shown = Show(packet);
        EXPECT_FALSE(shown.result);
        EXPECT_EQ(shown.text, kStructureError) << packet.size();
    }
    CaptureStdout capture;
    EXPECT_FALSE(DisplayRMAPResponse(good.data(), -1, stdout, nullptr));
    EXPECT_FALSE(DisplayRMAPResponse(nullptr, 16, stdout, nullptr));
    EXPECT_EQ(capture.Take(), kStructureError + kStructureError);

    // A sound read command is no reply.
    Bytes command{0xFE, 0x01, 0x4C, 0x00, 0x20, 0x00, 0x01, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x04};
    command.push_back(Crc(command.data(), command.size()));
    const Shown shown = Show(command);
    EXPECT_FALSE(shown.result);
    EXPECT_EQ(shown.text, "\n\nUnexpected packet type 64\n");
}

TEST(DisplayRMAPResponse, DataFileGetsOnlyTheDataOfEachReadAppended)
{
    ScratchDir scratch;
    scratch.Write("data.bin", "old");
    const std::string file = (scratch / "data.bin").string();
    const Bytes read = Build(kReply, 0, {0x00, 0x41, 0xFF});
    const Shown shown = Show(read, file.c_str());
    EXPECT_TRUE(shown.result);
    EXPECT_EQ(shown.text, Show(read).text);
    EXPECT_TRUE(Show(Build(kReadModifyWrite, 0, {0x7E}), file.c_str()).result);
    // Data of a failed command is shown but not kept.
    EXPECT_TRUE(Show(Build(kReply, 3, {0x99}), file.c_str()).result);
    Bytes broken = read;
    broken.pop_back();
    EXPECT_FALSE(Show(broken, file.c_str()).result);
    EXPECT_EQ(scratch.Read("data.bin"), std::string("old\x00\x41\xFF\x7E", 7));

    const std::string write_file = (scratch / "write.bin").string();
    EXPECT_TRUE(Show(Build(kWrite | kReply, 0, {}), write_file.c_str()).result);
    EXPECT_FALSE(scratch.Exists("write.bin"));
    // A file that cannot be opened changes nothing shown, and the caller learns why.
    ReplyDisplayed displayed;
    CaptureStdout capture;
    EXPECT_TRUE(DisplayRMAPResponse(read.data(), static_cast<int>(read.size()), stdout, scratch.path().c_str(),
                                    &displayed));
    EXPECT_EQ(capture.Take(), shown.text);
    EXPECT_EQ(displayed.data_file_error, EISDIR);
}

// Each field a reply repeats of its command, checked on its own: the reply
// is from target FE to initiator 20 with transaction identifier 10A.
TEST(CheckReplyMatches, EachRepeatedFieldIsComparedAndNamed)
{
    const Bytes fe{0xFE};
    const Bytes initiator{0x20};
    const struct {
        std::uint8_t reply_instruction;
        ExpectedReply expected;
        const char *lines;
    } cases[] = {
        {kReply | kIncrement, ExpectReplyTo(RMAP_PACKET_TYPE_READ_COMMAND, 1, 0, 1, fe, initiator, 0x10A), ""},
        {kWrite | kVerify | kReply, ExpectReplyTo(RMAP_PACKET_TYPE_WRITE_COMMAND, 1, 1, 0, fe, initiator, 0x10A), ""},
        {kReadModifyWrite, ExpectReplyTo(RMAP_PACKET_TYPE_READ_MODIFY_WRITE_COMMAND, 0, 0, 0, fe, initiator, 0x10A),
         ""},
        {kReply, ExpectReplyTo(RMAP_PACKET_TYPE_READ_COMMAND, 0, 0, 1, fe, initiator, 0x10A),
         "Mismatched reply to command 7: command code 2, expected 3.\n"},
        {kWrite | kReply, ExpectReplyTo(RMAP_PACKET_TYPE_WRITE_COMMAND, 1, 1, 0, fe, initiator, 0x10A),
         "Mismatched reply to command 7: command code a, expected e.\n"},
        {kReply, ExpectReplyTo(RMAP_PACKET_TYPE_READ_MODIFY_WRITE_COMMAND, 0, 0, 0, fe, initiator, 0x10A),
         "Mismatched reply to command 7: command code 2, expected 7.\n"},
        {kReply, ExpectReplyTo(RMAP_PACKET_TYPE_READ_COMMAND, 0, 0, 0, {0x01, 0xFD}, {0x05, 0x21}, 0x10B),
         "Mismatched reply to command 7: initiator logical address 20, expected 21.\n"
         "Mismatched reply to command 7: target logical address fe, expected fd.\n"
         "Mismatched reply to command 7: transaction identifier 10a, expected 10b.\n"},
    };
    for (const auto &c : cases) {
        const Bytes reply = Build(c.reply_instruction, 0, {0x01, 0x02});
        RmapPacketInfo record{};
        ASSERT_EQ(RMAP_CheckPacketValid(reply.data(), static_cast<unsigned int>(reply.size()), &record, 1), 0);
        ScratchDir scratch;
        std::FILE *output = std::fopen((scratch / "out.txt").c_str(), "w");
        CaptureStdout capture;
        EXPECT_EQ(CheckReplyMatches(record, c.expected, 7, output), *c.lines == '\0') << c.lines;
        std::fclose(output);
        EXPECT_EQ(capture.Take(), c.lines);
        EXPECT_EQ(scratch.Read("out.txt"), c.lines);
    }
}

} // namespace
