// What the reply display does with what the simulated target never
// delivers: status codes it never gives, a failed read that carries data.
// The golden cases (values_* and display_*) show the rest through what the
// program prints.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/display.h"
#include "support/capture_stdout.h"
#include "support/hand_rmap.h"
#include "support/scratch_dir.h"

namespace {

using namespace hand_rmap;

// A reply from target FE to initiator 20, transaction 10A.
Bytes Build(std::uint8_t instruction, std::uint8_t status, const Bytes &data)
{
    const CommandFields f{.instruction = static_cast<std::uint8_t>(kCommand | instruction), .transaction = 0x010a};
    return (instruction & kWrite) != 0 ? WriteReply(f, status) : ReadReply(f, status, data);
}

struct Shown {
    bool result;
    std::string text;
};

Shown Show(const Bytes &packet, const char *data_file = nullptr)
{
    CaptureStdout capture;
    const bool result = DisplayRMAPResponse(packet.data(), static_cast<int>(packet.size()), stdout, data_file);
    return {result, capture.Take()};
}

TEST(DisplayRMAPResponse, StatusesTheTargetNeverGives)
{
    const std::pair<int, std::string> cases[] = {
        {7, "Status = EEP\n"}, {8, "Invalid status 8\n"}, {13, "Invalid status 13\n"}, {255, "Invalid status 255\n"},
    };
    for (const auto &[status, line] : cases) {
        const Shown shown = Show(Build(kWrite | kReply, static_cast<std::uint8_t>(status), {}));
        EXPECT_TRUE(shown.result);
        EXPECT_NE(shown.text.find("enabled.\n" + line + "Target address: fe \n"), std::string::npos) << shown.text;
    }
}

// The target's failed reads bring no data; one that did must not have it kept.
TEST(DisplayRMAPResponse, DataOfAFailedReadIsShownNotKept)
{
    ScratchDir scratch;
    scratch.Write("data.bin", "old");
    const std::string file = (scratch / "data.bin").string();
    const Shown shown = Show(Build(kReply, 3, {0x99}), file.c_str());
    EXPECT_TRUE(shown.result);
    EXPECT_NE(shown.text.find("Status = invalid key\nTarget address: fe \nTransaction identifier: 10a\n"
                              "Header CRC: "),
              std::string::npos)
        << shown.text;
    EXPECT_NE(shown.text.find("Data: 99 \n"), std::string::npos) << shown.text;
    EXPECT_EQ(scratch.Read("data.bin"), "old");
}

} // namespace
