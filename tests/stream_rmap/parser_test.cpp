#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/settings.h"
#include "stream_rmap/rmap_parser.h"
#include "support/capture_stdout.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr const char *kProcessed = "Command list file successfully processed.\n";

struct Parsed {
    RmapCommandPtr chain;
    std::string out;
    int output_base = -1;

    std::vector<const RmapCommand *> Commands() const
    {
        std::vector<const RmapCommand *> commands;
        for (const RmapCommand *c = chain.get(); c != nullptr; c = c->next.get()) {
            commands.push_back(c);
        }
        return commands;
    }
};

Parsed Parse(const std::string &text)
{
    Parsed parsed;
    CaptureStdout capture;
    parsed.chain = CR_ProcessCommands(text, &parsed.output_base);
    parsed.out = capture.Take();
    return parsed;
}

// Every property a read needs, on one line each after the type line.
const std::string kFullRead = "r;\n"
                              "DestinationAddress: FE;\n"
                              "SourceAddress: 20;\n"
                              "IncrementTarget: true;\n"
                              "DestinationKey: 0;\n"
                              "TransactionIdentifier: 1;\n"
                              "ReadWriteAddress: 1000;\n"
                              "ExtendedReadWriteAddress: 0;\n"
                              "DataLength: 4;\n";

const std::string kFullWrite = "w;\n"
                               "DestinationAddress: FE;\n"
                               "SourceAddress: 20;\n"
                               "VerifyBeforeWrite: false; Acknowledge: true;\n"
                               "IncrementTarget: true;\n"
                               "DestinationKey: 0; TransactionIdentifier: 1;\n"
                               "ReadWriteAddress: 1000; ExtendedReadWriteAddress: 0;\n"
                               "Data: 01 02 03 04;\n";

class ParserTest : public testing::Test {
protected:
    void SetUp() override { default_base = 16; }
    void TearDown() override { default_base = 16; }
};

TEST_F(ParserTest, ReadLineEndings)
{
    const std::string text = "a\nb\rc\r\nd\n\re\n\nf\r\rg";
    std::size_t position = 0;
    std::vector<std::string> lines;
    while (auto line = ReadLine(text, position)) {
        lines.push_back(*line);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c", "d", "e", "", "f", "", "g"}));
    EXPECT_EQ(position, text.size());

    std::size_t at_end = 3;
    EXPECT_FALSE(ReadLine("abc", at_end));
    std::size_t trailing = 0;
    EXPECT_EQ(*ReadLine("  x  \n", trailing), "  x  ");
    EXPECT_EQ(trailing, 6u);
    EXPECT_FALSE(ReadLine("  x  \n", trailing));
}

TEST_F(ParserTest, EmptyListsHoldNoCommands)
{
    for (const char *text : {"", " \t\r\n\n  "}) {
        Parsed p = Parse(text);
        EXPECT_FALSE(p.chain);
        EXPECT_EQ(p.out, kProcessed);
    }
}

TEST_F(ParserTest, TheFiveCommandExample)
{
    const std::string text = "b;\nInputBase: 16;\nOutputBase: 10;\n\n" + kFullWrite +
                             "\nr;\nTransactionIdentifier: 2;\nFilename: 'read.bin';\n\n"
                             "l;\nTimesToRepeat: 3;\nNumberToRepeat: 1;\n\n"
                             "r;\nTransactionIdentifier: 3;\n";
    Parsed p = Parse(text);
    EXPECT_EQ(p.out, kProcessed);
    EXPECT_EQ(p.output_base, 10);
    EXPECT_EQ(default_base, 16);
    const auto c = p.Commands();
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0]->type, RMAP_COMMAND_WRITE);
    EXPECT_EQ(c[0]->number, 1);
    EXPECT_EQ(c[1]->type, RMAP_COMMAND_READ);
    EXPECT_EQ(c[1]->number, 2);
    EXPECT_EQ(c[2]->type, RMAP_COMMAND_LOOP);
    EXPECT_EQ(c[2]->number, 3);
    EXPECT_EQ(c[3]->type, RMAP_COMMAND_READ);
    EXPECT_EQ(c[3]->number, 4);

    const RmapCommand &w = *c[0];
    EXPECT_EQ(*w.destination_address, (Bytes{0xFE}));
    EXPECT_EQ(*w.source_address, (Bytes{0x20}));
    EXPECT_EQ(w.verify_before_write, 0);
    EXPECT_EQ(w.acknowledge, 1);
    EXPECT_EQ(w.increment_target, 1);
    EXPECT_EQ(w.transaction_identifier, 1);
    EXPECT_EQ(w.address, 0x1000u);
    EXPECT_EQ(*w.data, (Bytes{1, 2, 3, 4}));

    const RmapCommand &r = *c[1];
    EXPECT_EQ(r.transaction_identifier, 2);
    EXPECT_EQ(r.data_length, 4u);
    EXPECT_EQ(*r.destination_address, (Bytes{0xFE}));
    EXPECT_EQ(r.address, 0x1000u);
    EXPECT_EQ(*r.filename, "read.bin");

    const RmapCommand &l = *c[2];
    EXPECT_EQ(l.times_to_repeat, 3u);
    EXPECT_EQ(l.number_to_repeat, 1u);

    const RmapCommand &r4 = *c[3];
    EXPECT_EQ(r4.transaction_identifier, 3);
    EXPECT_EQ(r4.data_length, 4u);
    EXPECT_EQ(r4.increment_target, 1);
    EXPECT_FALSE(r4.filename);
}

TEST_F(ParserTest, LabelsAndTypeLetters)
{
    for (const char *label : {"CommandType: ", "c: ", ": ", "", "commandtype:\n\t ", "COMM:"}) {
        Parsed p = Parse(std::string(label) + kFullWrite);
        EXPECT_EQ(p.out, kProcessed) << label;
        ASSERT_TRUE(p.chain) << label;
        EXPECT_EQ(p.chain->type, RMAP_COMMAND_WRITE);
    }
    const struct {
        std::string text;
        RmapCommandType type;
    } letters[] = {
        {"R;\nDestinationAddress: FE; SourceAddress: 20; IncrementTarget: true; Key: 0;\n"
         "TransactionIdentifier: 1; Address: 0; ExtendedReadWriteAddress: 0; Length: 4;\n",
         RMAP_COMMAND_READ},
        {"M;\nDestinationAddress: FE; SourceAddress: 20; Key: 0; TransactionIdentifier: 1;\n"
         "Address: 0; ExtendedReadWriteAddress: 0; Data: 1; Mask: 1;\n",
         RMAP_COMMAND_READ_MODIFY_WRITE},
        {"L;\nTimesToRepeat: 1; NumberToRepeat: 0;\n", RMAP_COMMAND_LOOP},
    };
    for (const auto &l : letters) {
        Parsed p = Parse(l.text);
        EXPECT_EQ(p.out, kProcessed) << l.text;
        ASSERT_TRUE(p.chain) << l.text;
        EXPECT_EQ(p.chain->type, l.type);
    }
}

TEST_F(ParserTest, CommandLevelErrors)
{
    const struct {
        std::string text;
        std::string out;
    } cases[] = {
        {"CommandType: write;\n", "Error, command of unexpected length encountered.\n"},
        {"write;\n", "Error, unexpected characters where command type expected.\n"},
        {"x;\n", "Error, unexpected command type encountered.\n"},
        {"r", "Error, unexpected characters where command type expected.\n"},
        {"c:", "Error, command of unexpected length encountered.\n"},
        {"Commands: w;\n", "Error, unexpected characters where command type expected.\n"},
        {"c : w;\n", "Error, unexpected characters where command type expected.\n"},
        // A later error releases what was built before it.
        {kFullWrite + "\nz;\n", "Error, unexpected command type encountered.\n"},
        {kFullWrite + "\nrr;\n", "Error, unexpected characters where command type expected.\n"},
    };
    for (const auto &c : cases) {
        Parsed p = Parse(c.text);
        EXPECT_FALSE(p.chain) << c.text;
        EXPECT_EQ(p.out, c.out) << c.text;
    }
}

TEST_F(ParserTest, ReadingErrorsNameTheCommand)
{
    const std::string base = "b;\nInputBase: 16;\n\n"; // command 0
    const struct {
        std::string text;
        std::string out;
    } cases[] = {
        {base + "r;\nColour: 1;\n", "Error reading command 1's properties.\n"},
        {base + "w;\nColour: 1;\n", "Error reading write command 1.\n"},
        {base + "m;\nColour: 1;\n", "Error reading read/modify/write command 1\n"},
        {base + "l;\nColour: 1;\n", "Error reading loop command 1\n"},
        {base + "b;\nColour: 1;\n", "Error reading base command 1.\nError reading base command.\n"},
        {base + "b;\nInputBase: 17;\n", "Error reading base command 1.\nError reading base command.\n"},
        // No semicolon before the end of the text.
        {base + kFullWrite + "\nr;\nTransactionIdentifier: 2\n", "Error reading command 2's properties.\n"},
        // Text after the last property of a line.
        {base + "w;\nDestinationAddress: FE; trailing\n", "Error reading write command 1.\n"},
        // No blank line: the next command's type line is read as a property line.
        {base + kFullWrite + "r;\nTransactionIdentifier: 2;\n", "Error reading write command 1.\n"},
        // An invalid value.
        {base + "w;\nDestinationAddress: FG;\n", "Error reading write command 1.\n"},
        // A property the type does not take.
        {base + "r;\nData: 1;\n", "Error reading command 1's properties.\n"},
    };
    for (const auto &c : cases) {
        Parsed p = Parse(c.text);
        EXPECT_FALSE(p.chain) << c.text;
        EXPECT_EQ(p.out, c.out) << c.text;
    }
}

TEST_F(ParserTest, MissingPropertiesNameTheCommand)
{
    const std::string base = "b;\nOutputBase: 10;\n\n"; // command 0
    const struct {
        std::string text;
        std::string out;
    } cases[] = {
        {base + "r;\nDestinationAddress: FE;\n", "One of the properties of read command 1 has not been specified.\n"},
        {base + "w;\nDestinationAddress: FE;\n", "One of the properties of write command 1 has not been specified.\n"},
        {base + "m;\nDestinationAddress: FE;\n",
         "One of the properties of read/modify/write command 1 has not been specified.\n"},
        {base + "l;\nTimesToRepeat: 2;\n", "One of the properties of loop command 1 has not been specified.\n"},
        // A write's data is not a read's data length the other way round.
        {kFullRead + "\nw;\nVerifyBeforeWrite: false; Acknowledge: false;\n",
         "One of the properties of write command 1 has not been specified.\n"},
        // A read/modify/write lacks a mask after a write.
        {kFullWrite + "\nm;\nData: 1;\n", "One of the properties of read/modify/write command 1 has not been specified.\n"},
    };
    for (const auto &c : cases) {
        Parsed p = Parse(c.text);
        EXPECT_FALSE(p.chain) << c.text;
        EXPECT_EQ(p.out, c.out) << c.text;
    }
}

TEST_F(ParserTest, EachRequiredPropertyIsChecked)
{
    // Remove one required property at a time from a complete command.
    const struct {
        char type;
        std::vector<std::string> properties;
        const char *missing;
    } forms[] = {
        {'r',
         {"DestinationAddress: FE;", "SourceAddress: 20;", "IncrementTarget: true;", "DestinationKey: 0;",
          "TransactionIdentifier: 1;", "ReadWriteAddress: 0;", "ExtendedReadWriteAddress: 0;", "DataLength: 4;"},
         "One of the properties of read command 0 has not been specified.\n"},
        {'w',
         {"DestinationAddress: FE;", "SourceAddress: 20;", "Data: 1;", "VerifyBeforeWrite: no;", "Acknowledge: no;",
          "IncrementTarget: true;", "DestinationKey: 0;", "TransactionIdentifier: 1;", "ReadWriteAddress: 0;",
          "ExtendedReadWriteAddress: 0;"},
         "One of the properties of write command 0 has not been specified.\n"},
        {'m',
         {"DestinationAddress: FE;", "SourceAddress: 20;", "Data: 1;", "Mask: 1;", "DestinationKey: 0;",
          "TransactionIdentifier: 1;", "ReadWriteAddress: 0;", "ExtendedReadWriteAddress: 0;"},
         "One of the properties of read/modify/write command 0 has not been specified.\n"},
        {'l', {"TimesToRepeat: 1;", "NumberToRepeat: 0;"}, "One of the properties of loop command 0 has not been specified.\n"},
    };
    for (const auto &form : forms) {
        for (std::size_t left_out = 0; left_out <= form.properties.size(); ++left_out) {
            std::string text = std::string(1, form.type) + ";\n";
            for (std::size_t i = 0; i < form.properties.size(); ++i) {
                if (i != left_out) {
                    text += form.properties[i] + "\n";
                }
            }
            Parsed p = Parse(text);
            if (left_out == form.properties.size()) {
                EXPECT_TRUE(p.chain) << text;
                EXPECT_EQ(p.out, kProcessed) << text;
            } else {
                EXPECT_FALSE(p.chain) << text;
                EXPECT_EQ(p.out, form.missing) << text;
            }
        }
    }
}

TEST_F(ParserTest, ReadModifyWriteDataAndMaskMustFit)
{
    const std::string m = "m;\nDestinationAddress: FE; SourceAddress: 20; Key: 0; TransactionIdentifier: 1;\n"
                          "Address: 0; ExtendedReadWriteAddress: 0;\n";
    // A write's 5 data bytes taken as a default do not fit.
    const std::string long_write = "w;\nDestinationAddress: FE; SourceAddress: 20; VerifyBeforeWrite: no;\n"
                                   "Acknowledge: no; IncrementTarget: yes; Key: 0; TransactionIdentifier: 1;\n"
                                   "Address: 0; ExtendedReadWriteAddress: 0; Data: 1 2 3 4 5;\n\n";
    Parsed p = Parse(long_write + m + "Mask: ff;\n");
    EXPECT_FALSE(p.chain);
    EXPECT_EQ(p.out, "The data of read/modify/write command 1 is longer than 4 bytes.\n");

    p = Parse(m + "Data: 1 2 3; Mask: ff ff;\n");
    EXPECT_FALSE(p.chain);
    EXPECT_EQ(p.out, "The mask of read/modify/write command 0 is shorter than its data.\n");

    p = Parse(m + "Data: 1 2 3 4 5; Mask: 1;\n");
    EXPECT_FALSE(p.chain);
    EXPECT_EQ(p.out, "Error reading read/modify/write command 0\n");

    p = Parse(m + "Data: 1 2 3; Mask: ff ff ff ff;\n");
    EXPECT_TRUE(p.chain);
    EXPECT_EQ(p.out, kProcessed);

    // A data-less read/modify/write with an empty mask is complete.
    p = Parse(m + "Data: ; Mask: ;\n");
    ASSERT_TRUE(p.chain);
    EXPECT_TRUE(p.chain->data->empty());
}

TEST_F(ParserTest, PropertyLayout)
{
    // Several properties on the type line and on one line, and one value over two lines.
    Parsed p = Parse("w; DestinationAddress: 0x01;  SourceAddress: 0x02;\n"
                     "VerifyBeforeWrite: false; Acknowledge: true; IncrementTarget: true; DestinationKey: 0;\n"
                     "TransactionIdentifier: 1; ReadWriteAddress: 1000; ExtendedReadWriteAddress: 0;\n"
                     "Data: 01 02\n03;\n");
    ASSERT_TRUE(p.chain) << p.out;
    EXPECT_EQ(*p.chain->destination_address, (Bytes{1}));
    EXPECT_EQ(*p.chain->source_address, (Bytes{2}));
    // " 01 02" and "03" joined: the second item is 0203, of which the byte 03 remains.
    EXPECT_EQ(*p.chain->data, (Bytes{0x01, 0x03}));

    // A blank at the end of the first line keeps the bytes apart.
    p = Parse(kFullWrite.substr(0, kFullWrite.find("Data")) + "Data: 01 02 \n03;\n");
    ASSERT_TRUE(p.chain) << p.out;
    EXPECT_EQ(*p.chain->data, (Bytes{1, 2, 3}));

    // Text without a colon after the type's semicolon is ignored.
    p = Parse("w; this is ignored\n" + kFullWrite.substr(3));
    ASSERT_TRUE(p.chain) << p.out;
    EXPECT_EQ(p.out, kProcessed);
}

TEST_F(ParserTest, LineEndingsOfEveryKind)
{
    for (const std::string ending : {"\n", "\r", "\r\n", "\n\r"}) {
        std::string text = "b;" + ending + "OutputBase: 10;" + ending + ending;
        for (const std::string &source : {kFullWrite, kFullRead}) {
            for (char c : source) {
                if (c == '\n') {
                    text += ending;
                } else {
                    text += c;
                }
            }
            text += ending;
        }
        Parsed p = Parse(text);
        EXPECT_EQ(p.out, kProcessed);
        EXPECT_EQ(p.output_base, 10);
        const auto c = p.Commands();
        ASSERT_EQ(c.size(), 2u);
        EXPECT_EQ(c[0]->number, 1);
        EXPECT_EQ(c[1]->number, 2);
    }
}

TEST_F(ParserTest, ABlankLineEndsACommand)
{
    // The second property after a blank line is a command of its own, and
    // "DestinationAddress: FE;" is not a type.
    Parsed p = Parse("w;\nAcknowledge: true;\n\nDestinationAddress: FE;\n");
    EXPECT_FALSE(p.chain);
    EXPECT_EQ(p.out, "One of the properties of write command 0 has not been specified.\n");

    // A line of blanks ends it too.
    p = Parse(kFullWrite + " \t \nr;\nTransactionIdentifier: 2;\n");
    EXPECT_EQ(p.out, kProcessed);
    EXPECT_EQ(p.Commands().size(), 2u);

    // A command with no properties of its own takes all from the previous one.
    p = Parse(kFullRead + "\nr;\n\nr;");
    EXPECT_EQ(p.out, kProcessed);
    const auto c = p.Commands();
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(c[2]->number, 2);
    EXPECT_EQ(c[2]->data_length, 4u);

    p = Parse("r;\n\n");
    EXPECT_EQ(p.out, "One of the properties of read command 0 has not been specified.\n");
}

TEST_F(ParserTest, BaseCommandsTakeNumbersAndChangeTheInputBase)
{
    const std::string decimal_write = "w;\nDestinationAddress: 254; SourceAddress: 32; VerifyBeforeWrite: no;\n"
                                      "Acknowledge: yes; IncrementTarget: yes; Key: 0; TransactionIdentifier: 1;\n"
                                      "ReadWriteAddress: 1000; ExtendedReadWriteAddress: 0; Data: 255 16;\n";
    Parsed p = Parse("b;\nInputBase: 10;\n\n" + decimal_write + "\nb; InputBase: 2; OutputBase: 8;\n\n"
                     "r;\nTransactionIdentifier: 101;\nDataLength: 1000;\n");
    EXPECT_EQ(p.out, kProcessed);
    EXPECT_EQ(default_base, 2);
    EXPECT_EQ(p.output_base, 8);
    const auto c = p.Commands();
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0]->number, 1);
    EXPECT_EQ(c[0]->address, 1000u); // decimal
    EXPECT_EQ(*c[0]->data, (Bytes{0xFF, 0x10}));
    EXPECT_EQ(c[1]->number, 3);
    EXPECT_EQ(c[1]->transaction_identifier, 5);
    EXPECT_EQ(c[1]->data_length, 8u);
    // The base command between them passes nothing on: the read takes from the write.
    EXPECT_EQ(c[1]->address, 1000u);
}

TEST_F(ParserTest, CrcsAndFileNamesDoNotFlowDownTheChain)
{
    Parsed p = Parse(kFullWrite.substr(0, kFullWrite.size() - 1) + " HeaderCRC: 12; DataCRC: 34;\n\n"
                     "w;\n\n"
                     "r;\nFilename: \"a b\";\n\n"
                     "r;\n");
    EXPECT_EQ(p.out, kProcessed);
    const auto c = p.Commands();
    ASSERT_EQ(c.size(), 4u);
    EXPECT_TRUE(c[0]->Given(GIVEN_HEADER_CRC));
    EXPECT_EQ(c[0]->header_crc, 0x12);
    EXPECT_EQ(c[0]->data_crc, 0x34);
    EXPECT_FALSE(c[1]->Given(GIVEN_HEADER_CRC));
    EXPECT_FALSE(c[1]->Given(GIVEN_DATA_CRC));
    EXPECT_EQ(*c[1]->data, (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(*c[2]->filename, "a b");
    EXPECT_EQ(c[2]->data_length, 4u);
    EXPECT_FALSE(c[3]->filename);
}

TEST_F(ParserTest, ParsesAMillionCommandsInOneGo)
{
    std::string text = kFullRead;
    text.reserve(text.size() + 1000000 * 4);
    for (int i = 1; i < 1000000; ++i) {
        text += "\nr;\n";
    }
    Parsed p = Parse(text);
    EXPECT_EQ(p.out, kProcessed);
    std::size_t count = 0;
    std::int32_t last = -1;
    for (const RmapCommand *c = p.chain.get(); c != nullptr; c = c->next.get()) {
        ++count;
        last = c->number;
    }
    EXPECT_EQ(count, 1000000u);
    EXPECT_EQ(last, 999999);
}

} // namespace
