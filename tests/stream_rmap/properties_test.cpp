// The properties of RMAP commands: names and abbreviations, the types that
// take them, field widths, value forms, file names and the base properties.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/settings.h"
#include "stream_rmap/rmap_properties.h"
#include "support/capture_stdout.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr RmapCommandType R = RMAP_COMMAND_READ;
constexpr RmapCommandType W = RMAP_COMMAND_WRITE;
constexpr RmapCommandType M = RMAP_COMMAND_READ_MODIFY_WRITE;
constexpr RmapCommandType L = RMAP_COMMAND_LOOP;

// The property a command holds, by its full name; "" for none.
std::string FieldSet(const RmapCommand &c)
{
    if (c.destination_address) return "DestinationAddress";
    if (c.source_address) return "SourceAddress";
    if (c.data) return "Data";
    if (c.mask) return "Mask";
    if (c.filename) return "Filename";
    const std::pair<std::uint32_t, const char *> flags[] = {
        {GIVEN_VERIFY_BEFORE_WRITE, "VerifyBeforeWrite"}, {GIVEN_ACKNOWLEDGE, "Acknowledge"},
        {GIVEN_INCREMENT_TARGET, "IncrementTarget"}, {GIVEN_DESTINATION_KEY, "DestinationKey"},
        {GIVEN_TRANSACTION_IDENTIFIER, "TransactionIdentifier"}, {GIVEN_ADDRESS, "ReadWriteAddress"},
        {GIVEN_EXTENDED_ADDRESS, "ExtendedReadWriteAddress"}, {GIVEN_DATA_LENGTH, "DataLength"},
        {GIVEN_HEADER_CRC, "HeaderCRC"}, {GIVEN_DATA_CRC, "DataCRC"},
        {GIVEN_TIMES_TO_REPEAT, "TimesToRepeat"}, {GIVEN_NUMBER_TO_REPEAT, "NumberToRepeat"}};
    for (const auto &[flag, name] : flags) {
        if (c.Given(flag)) return name;
    }
    return "";
}

class Properties : public testing::Test {
protected:
    void SetUp() override { default_base = 16; }
    void TearDown() override
    {
        default_base = 16;
        strict_mode = false;
    }
};

TEST_F(Properties, NamesAbbreviationsAndTheTypesThatTakeThem)
{
    const struct {
        std::string names; // '|'-separated; each given the value f, a valid flag, number and byte
        RmapCommandType type;
        std::string field; // "": the property fails
    } cases[] = {
        // Shortest forms; the first name that matches wins.
        {"De|Destination|Destin|dEsTiNaTiOnAdDrEsS", R, "DestinationAddress"},
        {"So", M, "SourceAddress"},
        {"Ve", W, "VerifyBeforeWrite"},
        {"Ac", W, "Acknowledge"},
        {"In", R, "IncrementTarget"},
        {"DestinationK|DestinationKe|Ke| \t\r\nkey", M, "DestinationKey"},
        {"Tr", M, "TransactionIdentifier"},
        {"Re|Ad", W, "ReadWriteAddress"},
        {"Ex", R, "ExtendedReadWriteAddress"},
        {"Da|Dat", M, "Data"},
        {"Ma", M, "Mask"},
        {"DataL|Le", R, "DataLength"},
        {"He", W, "HeaderCRC"},
        {"DataC|CR", M, "DataCRC"},
        {"Ti", L, "TimesToRepeat"},
        {"Nu", L, "NumberToRepeat"},
        {"Fi", M, "Filename"},
        // Too short, too long, a blank before the colon, unknown.
        {"D|K||DestinationAddressX|Data |Colour", W, ""},
        // Refused by the type, also where the first match is not what was meant.
        {"Da|Data|VerifyBeforeWrite|Acknowledge|DataCRC|Mask|TimesToRepeat", R, ""},
        {"DataLe|Mask|Filename|NumberToRepeat", W, ""},
        {"IncrementTarget|Acknowledge|VerifyBeforeWrite|DataLength", M, ""},
        {"DestinationAddress|SourceAddress|Key|Tr|Address|Ex|Data|HeaderCRC|Filename", L, ""},
    };
    for (const auto &c : cases) {
        for (std::size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
            end = c.names.find('|', start);
            const std::string name = c.names.substr(start, end - start);
            RmapCommandPtr command = CR_AllocateCommand(c.type);
            EXPECT_EQ(CR_SetFieldValue(*command, name, " f"), !c.field.empty()) << "'" << name << "' type " << c.type;
            EXPECT_EQ(FieldSet(*command), c.field) << "'" << name << "' type " << c.type;
        }
    }
}

// The value of the one number property a command holds.
std::uint32_t NumberSet(const RmapCommand &c)
{
    const std::pair<std::uint32_t, std::uint32_t> numbers[] = {
        {GIVEN_DESTINATION_KEY, c.destination_key}, {GIVEN_TRANSACTION_IDENTIFIER, c.transaction_identifier},
        {GIVEN_ADDRESS, c.address}, {GIVEN_EXTENDED_ADDRESS, c.extended_address},
        {GIVEN_DATA_LENGTH, c.data_length}, {GIVEN_HEADER_CRC, c.header_crc}, {GIVEN_DATA_CRC, c.data_crc},
        {GIVEN_TIMES_TO_REPEAT, c.times_to_repeat}, {GIVEN_NUMBER_TO_REPEAT, c.number_to_repeat}};
    for (const auto &[flag, value] : numbers) {
        if (c.Given(flag)) return value;
    }
    return 0xDEADBEEF;
}

// Without -strict a value beyond its field is cut (a data length is kept
// whole: more than 24 bits cannot be sent) after one warning naming the
// command and the property as written; with -strict the property fails.
TEST_F(Properties, NumbersBeyondTheirFieldWidth)
{
    const struct {
        RmapCommandType type;
        const char *name;
        const char *value;
        std::uint32_t stored;
        std::string doubt; // "": fits
        std::string used;
    } cases[] = {
        {W, "Key", " ff", 0xFF, "", ""},
        {W, " \tkey", " n256", 0, "n256 does not fit in 8 bits", "n0"},
        {W, "Tr", " ffff  ", 0xFFFF, "", ""},
        {W, "TransactionIdentifier", " 10000", 0, "10000 does not fit in 16 bits", "0"},
        {W, "Ad", " FFFFFFFF", 0xFFFFFFFF, "", ""},
        {W, "Address", " 123456789", 0x23456789, "123456789 does not fit in 32 bits", "23456789"},
        {W, "Ex", " 0xff", 0xFF, "", ""},
        {W, "Ex", " 0x1ff", 0xFF, "0x1ff does not fit in 8 bits", "0xff"},
        {R, "Le", " ffffff", 0xFFFFFF, "", ""},
        {R, "DataLength", " 1000000", 0x1000000, "1000000 does not fit in 24 bits", "1000000"},
        {W, "He", " o400", 0, "o400 does not fit in 8 bits", "o0"},
        {M, "CRC", " i100000001", 1, "i100000001 does not fit in 8 bits", "i1"},
        {L, "Ti", " ffffffff", 0xFFFFFFFF, "", ""},
        {L, "Nu", " 100000002", 2, "100000002 does not fit in 32 bits", "2"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.name) + ":" + c.value);
        const std::string where = "command 7, " + std::string(c.name).substr(c.name[0] == ' ' ? 2 : 0) + ": ";
        for (const bool strict : {false, true}) {
            strict_mode = strict;
            RmapCommandPtr command = CR_AllocateCommand(c.type);
            command->number = 7;
            CaptureStdout capture;
            const bool applied = CR_SetFieldValue(*command, c.name, c.value);
            const std::string printed = capture.Take();
            strict_mode = false;
            if (c.doubt.empty()) {
                EXPECT_TRUE(applied);
                EXPECT_EQ(printed, "");
            } else if (strict) {
                EXPECT_FALSE(applied);
                EXPECT_EQ(printed, "Error: " + where + c.doubt + ".\n");
                EXPECT_EQ(FieldSet(*command), "");
                continue;
            } else {
                EXPECT_TRUE(applied);
                EXPECT_EQ(printed, "Warning: " + where + c.doubt + "; " + c.used + " is used.\n");
            }
            EXPECT_EQ(NumberSet(*command), c.stored);
        }
    }
    RmapCommandPtr r = CR_AllocateCommand(R);
    ASSERT_TRUE(CR_SetFieldValue(*r, "Le", "")); // an empty number is 0, and given
    EXPECT_EQ(r->data_length, 0u);
}

TEST_F(Properties, EveryByteOfAByteListMustFitItsByte)
{
    const std::string warning = "Warning: command 0, Mask: 100 does not fit in 8 bits; 0 is used.\n"
                                "Warning: command 0, Mask: n511 does not fit in 8 bits; n255 is used.\n";
    RmapCommandPtr m = CR_AllocateCommand(M);
    CaptureStdout capture;
    EXPECT_TRUE(CR_SetFieldValue(*m, "Mask", " ff 100 n511"));
    EXPECT_EQ(capture.Take(), warning);
    EXPECT_EQ(*m->mask, (Bytes{0xFF, 0x00, 0xFF}));
    strict_mode = true;
    RmapCommandPtr strict = CR_AllocateCommand(M);
    CaptureStdout strict_capture;
    EXPECT_FALSE(CR_SetFieldValue(*strict, "So", " 20 120"));
    EXPECT_TRUE(CR_SetFieldValue(*strict, "Data", " ff"));
    strict_mode = false;
    EXPECT_EQ(strict_capture.Take(), "Error: command 0, So: 120 does not fit in 8 bits.\n");
    EXPECT_FALSE(strict->source_address);
}

TEST_F(Properties, ValueForms)
{
    RmapCommandPtr w = CR_AllocateCommand(W);
    for (const auto &[name, value] : std::vector<std::pair<const char *, const char *>>{
             {"Key", " 1 2"}, {"Address", " xyz"}, {"Data", " 1g"}, {"Acknowledge", " true "},
             {"Acknowledge", ""}, {"VerifyBeforeWrite", " on"}, {"Data", " -missing_file"}}) {
        EXPECT_FALSE(CR_SetFieldValue(*w, name, value)) << name << ":" << value;
    }
    EXPECT_EQ(FieldSet(*w), "");
    ASSERT_TRUE(CR_SetFieldValue(*w, "Acknowledge", " \tY"));
    ASSERT_TRUE(CR_SetFieldValue(*w, "Acknowledge", " fAlS"));
    EXPECT_EQ(w->acknowledge, 0); // the later value wins
    ASSERT_TRUE(CR_SetFieldValue(*w, "Data", " 01 02 03  "));
    EXPECT_EQ(*w->data, (Bytes{1, 2, 3}));
    EXPECT_EQ(w->data_length, 3u);
    // An empty byte list is given, with no bytes.
    ASSERT_TRUE(CR_SetFieldValue(*w, "SourceAddress", "  "));
    ASSERT_TRUE(w->source_address);
    EXPECT_TRUE(w->source_address->empty());
    // Read/modify/write data and mask hold 4 bytes at most; a write has no such limit.
    RmapCommandPtr m = CR_AllocateCommand(M);
    EXPECT_TRUE(CR_SetFieldValue(*m, "Data", " 1 2 3 4"));
    EXPECT_TRUE(CR_SetFieldValue(*m, "Mask", " 1 2 3 4"));
    EXPECT_FALSE(CR_SetFieldValue(*m, "Data", " 1 2 3 4 5"));
    EXPECT_FALSE(CR_SetFieldValue(*m, "Mask", " 1 2 3 4 5"));
    EXPECT_FALSE(m->data || m->mask);
    EXPECT_TRUE(CR_SetFieldValue(*w, "Data", " 1 2 3 4 5 6 7 8 9"));
}

TEST_F(Properties, FileNames)
{
    const std::pair<const char *, const char *> cases[] = {
        {" 'my file.bin'", "my file.bin"}, {" \"x\"  \t", "x"}, {" `x`", "x"},
        {" 'open.bin", "'open.bin"},    // no closing quote: kept
        {" 'mixed\"", "'mixed\""},      // a different quote at the end: kept
        {" '", "'"},                     // one quote does not close itself
        {" ''", ""},
        {" plain.bin ", "plain.bin "},   // a trailing blank is kept
    };
    for (const auto &[value, name] : cases) {
        RmapCommandPtr r = CR_AllocateCommand(R);
        ASSERT_TRUE(CR_SetFieldValue(*r, "Filename", value)) << value;
        EXPECT_EQ(r->filename ? *r->filename : "(none)", name) << "[" << value << "]";
    }
}

TEST_F(Properties, BaseCommandProperties)
{
    const struct {
        const char *name;
        const char *value;
        bool ok;
        int input_base; // default_base afterwards, from 16
        int output_base; // from -1
    } cases[] = {
        {"InputBase", " 10", true, 10, -1},   {" in", "i", true, 2, -1},
        {"OutputBase", " \t0X", true, 16, 16}, {"Ou", " o", true, 16, 8},
        {"InputBase", " 16 ", false, 16, -1}, {"InputBase", " hex", false, 16, -1},
        {"InputBase", " 016", false, 16, -1}, {"InputBase", "", false, 16, -1},
        {"I", " 10", false, 16, -1},          {"InputBase ", " 10", false, 16, -1},
        {"Base", " 10", false, 16, -1},       {"Data", " 10", false, 16, -1},
    };
    for (const auto &c : cases) {
        default_base = 16;
        int output_base = -1;
        EXPECT_EQ(CR_SetFieldValueBase(c.name, c.value, &output_base), c.ok) << c.name << ":" << c.value;
        EXPECT_EQ(default_base, c.input_base) << c.name << ":" << c.value;
        EXPECT_EQ(output_base, c.output_base) << c.name << ":" << c.value;
    }
}

} // namespace
