// The RMAP command-list parser where the goldens do not reach: line ends,
// type labels, the messages of malformed lists, required properties and
// how properties are laid out over lines.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/settings.h"
#include "stream_rmap/rmap_parser.h"
#include "support/capture_stdout.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kProcessed = "Command list file successfully processed.\n";

const std::string kFullWrite = "w;\nDestinationAddress: FE;\nSourceAddress: 20;\n"
                               "VerifyBeforeWrite: false; Acknowledge: true;\nIncrementTarget: true;\n"
                               "DestinationKey: 0; TransactionIdentifier: 1;\n"
                               "ReadWriteAddress: 1000; ExtendedReadWriteAddress: 0;\nData: 01 02 03 04;\n";

struct Parsed {
    RmapCommandPtr chain;
    std::string out;
};

Parsed Parse(const std::string &text)
{
    default_base = 16;
    Parsed parsed;
    int output_base = -1;
    CaptureStdout capture;
    parsed.chain = CR_ProcessCommands(text, &output_base);
    parsed.out = capture.Take();
    return parsed;
}

TEST(Parser, ReadLineTakesEveryKindOfLineEnd)
{
    const std::string text = "a\nb\rc\r\nd\n\re\n\nf\r\rg";
    std::size_t position = 0;
    std::vector<std::string> lines;
    while (auto line = ReadLine(text, position)) {
        lines.push_back(*line);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c", "d", "e", "", "f", "", "g"}));
    EXPECT_EQ(position, text.size());
    std::size_t trailing = 0;
    EXPECT_EQ(ReadLine("  x  \n", trailing), "  x  ");
    EXPECT_FALSE(ReadLine("  x  \n", trailing));
}

TEST(Parser, Messages)
{
    const std::string rest_of_write = kFullWrite.substr(3);
    const std::pair<std::string, std::string> cases[] = {
        {"commandtype:\n\t " + kFullWrite, kProcessed},
        {"COMM:" + kFullWrite, kProcessed},
        {"w; this is ignored\n" + rest_of_write,
         "Warning: command 0: \"this is ignored\" after the command type is not a property; it is ignored.\n" +
             kProcessed},
        {"M;\nDestinationAddress: FE; SourceAddress: 20; Key: 0; TransactionIdentifier: 1;\n"
         "Address: 0; ExtendedReadWriteAddress: 0; Data: 1; Mask: 1;\n",
         kProcessed},
        {"L;\nTimesToRepeat: 1; NumberToRepeat: 0;\n", kProcessed},
        // A line of blanks ends a command like an empty one.
        {kFullWrite + " \t \nr;\nTransactionIdentifier: 2; DataLength: 4;\n", kProcessed},
        {"r", "Error, unexpected characters where command type expected.\n"},
        {"Commands: w;\n", "Error, unexpected characters where command type expected.\n"},
        {"c : w;\n", "Error, unexpected characters where command type expected.\n"},
        {"c:", "Error, command of unexpected length encountered.\n"},
        {kFullWrite + "\nrr;\n", "Error, unexpected characters where command type expected.\n"},
        {"w;\nDestinationAddress: FE; trailing\n", "Error reading write command 0.\n"},
        {"w;\nDestinationAddress: FG;\n", "Error reading write command 0.\n"},
        {"b;\nColour: 1;\n", "Error reading base command 0.\nError reading base command.\n"},
        {"r;\n\n", "One of the properties of read command 0 has not been specified.\n"},
    };
    for (const auto &[text, out] : cases) {
        Parsed p = Parse(text);
        EXPECT_EQ(p.out, out) << text;
        EXPECT_EQ(p.chain != nullptr, out.ends_with(kProcessed)) << text;
    }
}

TEST(Parser, EachRequiredPropertyIsChecked)
{
    const std::vector<std::string> packet = {"DestinationAddress: FE;", "SourceAddress: 20;", "DestinationKey: 0;",
                                             "TransactionIdentifier: 1;", "ReadWriteAddress: 0;",
                                             "ExtendedReadWriteAddress: 0;"};
    const struct {
        char type;
        std::vector<std::string> own;
        const char *name;
    } forms[] = {
        {'r', {"IncrementTarget: true;", "DataLength: 4;"}, "read"},
        {'w', {"Data: 1;", "VerifyBeforeWrite: no;", "Acknowledge: no;", "IncrementTarget: true;"}, "write"},
        {'m', {"Data: 1;", "Mask: 1;"}, "read/modify/write"},
        {'l', {"TimesToRepeat: 1;", "NumberToRepeat: 0;"}, "loop"},
    };
    for (const auto &form : forms) {
        std::vector<std::string> properties = form.own;
        if (form.type != 'l') {
            properties.insert(properties.end(), packet.begin(), packet.end());
        }
        // Leave out each one in turn; with none left out the command is complete.
        for (std::size_t left_out = 0; left_out <= properties.size(); ++left_out) {
            std::string text = std::string(1, form.type) + ";\n";
            for (std::size_t i = 0; i < properties.size(); ++i) {
                text += i != left_out ? properties[i] + "\n" : "";
            }
            const bool complete = left_out == properties.size();
            EXPECT_EQ(Parse(text).out, complete ? kProcessed
                                                : "One of the properties of " + std::string(form.name) +
                                                      " command 0 has not been specified.\n")
                << text;
        }
    }
}

TEST(Parser, PropertiesOverLines)
{
    // Properties on the type line, several to a line, and one value over two
    // lines: the pieces join with nothing between them.
    Parsed p = Parse("w; DestinationAddress: 0x01;  SourceAddress: 0x02;\n"
                     "VerifyBeforeWrite: false; Acknowledge: true; IncrementTarget: true; DestinationKey: 0;\n"
                     "TransactionIdentifier: 1; ReadWriteAddress: 1000; ExtendedReadWriteAddress: 0;\n"
                     "Data: 01 02\n03;\n");
    ASSERT_TRUE(p.chain) << p.out;
    EXPECT_EQ(*p.chain->destination_address, (Bytes{1}));
    EXPECT_EQ(*p.chain->source_address, (Bytes{2}));
    EXPECT_EQ(*p.chain->data, (Bytes{0x01, 0x03})); // 01 0203
    p = Parse(kFullWrite.substr(0, kFullWrite.find("Data")) + "Data: 01 02 \n03;\n");
    ASSERT_TRUE(p.chain) << p.out;
    EXPECT_EQ(*p.chain->data, (Bytes{1, 2, 3}));
}

} // namespace
