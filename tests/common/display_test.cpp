#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "captured_stream.h"
#include "app/settings.h"
#include "common/display.h"

namespace {

struct StatusCase {
    int status;
    const char *message;
};

TEST(DisplayStatus, EveryTransferStatus)
{
    const char *invalid = "An invalid transfer status was encountered.";
    const StatusCase cases[] = {
        {0, "The transfer was not started."},
        {1, "The transfer was started but has not completed."},
        {2, "The transfer completed successfully."},
        {3, "The device or link was disconnected."},
        {4, "A parity error was encountered on the link."},
        {5, "An unknown error occurred."},
        {6, "The transfer timed out."},
        {7, "The transfer failed as the link has not been started."},
        {8, "The user buffer could not be locked to transfer the contents to the driver."},
        {9, "The link is already in use."},
        {10, "The receive failed as the receive buffer is full."},
        {11, "The transfer failed due to a lack of memory."},
        {12, "The transfer could not be performed as it could not be found."},
        {13, "An error was encountered on the USB bus."},
        {14, "The read failed as the device is not registered to receive."},
        {15, invalid},
        {-1, invalid},
        {128, invalid},
        {INT_MAX, invalid},
        {INT_MIN, invalid},
    };
    for (const StatusCase &c : cases) {
        EXPECT_STREQ(DisplayStatus(c.status), c.message) << "status " << c.status;
    }
}

struct DataCase {
    std::vector<std::uint8_t> bytes;
    int length;
    int end_type;
    int base;
    const char *expected;
};

TEST(DisplayData, BytesInTheDefaultBaseThenTheEndMarker)
{
    const std::vector<std::uint8_t> pair{0x01, 0xFE};
    const DataCase cases[] = {
        {pair, 2, 128, 16, "1 fe EOP"},
        {pair, 2, 128, 10, "1 254 EOP"},
        {pair, 2, 128, 2, "1 11111110 EOP"},
        {pair, 2, 128, 8, "1 376 EOP"},
        {pair, 2, 64, 16, "1 fe EEP"},
        {pair, 2, 0, 16, "1 fe "},
        {pair, 2, 1, 16, "1 fe "},
        {pair, 2, -128, 16, "1 fe "},
        {pair, 2, 192, 16, "1 fe "},
        {pair, 1, 128, 16, "1 EOP"},
        {{}, 0, 64, 16, "EEP"},
        {{}, 0, 0, 16, ""},
        {pair, 0, 0, 16, ""},
        {pair, -1, 0, 16, ""},
        {pair, -5, 128, 16, "EOP"},
        {{0x00, 0xFF, 0x10}, 3, 128, 16, "0 ff 10 EOP"},
        {{0x00, 0xFF, 0x10}, 3, 128, 2, "0 11111111 10000 EOP"},
    };
    for (const DataCase &c : cases) {
        default_base = c.base;
        CapturedStream out;
        DisplayData(c.bytes.data(), c.length, c.end_type, out.stream());
        EXPECT_EQ(out.Text(), c.expected) << "length " << c.length << " end " << c.end_type << " base " << c.base;
    }
    default_base = 16;
}

std::string BinaryText(unsigned value)
{
    if (value == 0) {
        return "0";
    }
    std::string text;
    for (; value != 0; value /= 2) {
        text.insert(text.begin(), static_cast<char>('0' + value % 2));
    }
    return text;
}

TEST(DisplayData, LongPacketsInEveryBase)
{
    // Longer than the formatter's own buffer, so its flushing is exercised.
    std::vector<std::uint8_t> packet(70000);
    for (std::size_t i = 0; i < packet.size(); ++i) {
        packet[i] = static_cast<std::uint8_t>((i * 31 + 7) & 0xFF);
    }
    for (const int base : {2, 8, 10, 16}) {
        std::string expected;
        for (const std::uint8_t byte : packet) {
            char text[64];
            switch (base) {
            case 8: std::snprintf(text, sizeof text, "%o ", byte); break;
            case 10: std::snprintf(text, sizeof text, "%u ", byte); break;
            case 16: std::snprintf(text, sizeof text, "%x ", byte); break;
            default: std::snprintf(text, sizeof text, "%.8s ", BinaryText(byte).c_str()); break;
            }
            expected += text;
        }
        expected += "EEP";
        default_base = base;
        CapturedStream out;
        DisplayData(packet.data(), static_cast<int>(packet.size()), 64, out.stream());
        EXPECT_EQ(out.Text(), expected) << "base " << base;
    }
    default_base = 16;
}

} // namespace
