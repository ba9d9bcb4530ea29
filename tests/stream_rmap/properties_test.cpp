#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/settings.h"
#include "stream_rmap/rmap_properties.h"
#include "support/scratch_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Which field a property landed in, told apart by giving every property
// the value 5 (or true) and looking at what changed.
enum class Field {
    None,
    DestinationAddress,
    SourceAddress,
    Verify,
    Acknowledge,
    Increment,
    Key,
    TransactionId,
    Address,
    ExtendedAddress,
    Data,
    Mask,
    DataLength,
    HeaderCrc,
    DataCrc,
    TimesToRepeat,
    NumberToRepeat,
    Filename
};

Field FieldSet(const RmapCommand &c)
{
    if (c.destination_address) return Field::DestinationAddress;
    if (c.source_address) return Field::SourceAddress;
    if (c.data) return Field::Data;
    if (c.mask) return Field::Mask;
    if (c.filename) return Field::Filename;
    if (c.Given(GIVEN_VERIFY_BEFORE_WRITE)) return Field::Verify;
    if (c.Given(GIVEN_ACKNOWLEDGE)) return Field::Acknowledge;
    if (c.Given(GIVEN_INCREMENT_TARGET)) return Field::Increment;
    if (c.Given(GIVEN_DESTINATION_KEY)) return Field::Key;
    if (c.Given(GIVEN_TRANSACTION_IDENTIFIER)) return Field::TransactionId;
    if (c.Given(GIVEN_ADDRESS)) return Field::Address;
    if (c.Given(GIVEN_EXTENDED_ADDRESS)) return Field::ExtendedAddress;
    if (c.Given(GIVEN_DATA_LENGTH)) return Field::DataLength;
    if (c.Given(GIVEN_HEADER_CRC)) return Field::HeaderCrc;
    if (c.Given(GIVEN_DATA_CRC)) return Field::DataCrc;
    if (c.Given(GIVEN_TIMES_TO_REPEAT)) return Field::TimesToRepeat;
    if (c.Given(GIVEN_NUMBER_TO_REPEAT)) return Field::NumberToRepeat;
    return Field::None;
}

class PropertiesTest : public testing::Test {
protected:
    void SetUp() override { default_base = 16; }
    void TearDown() override { default_base = 16; }
};

struct NameCase {
    const char *name;
    RmapCommandType type;
    const char *value;
    Field field; // None: the property must fail
};

constexpr RmapCommandType R = RMAP_COMMAND_READ;
constexpr RmapCommandType W = RMAP_COMMAND_WRITE;
constexpr RmapCommandType M = RMAP_COMMAND_READ_MODIFY_WRITE;
constexpr RmapCommandType L = RMAP_COMMAND_LOOP;

TEST_F(PropertiesTest, NamesAbbreviationsAndTheTypesThatTakeThem)
{
    const NameCase cases[] = {
        // Full names and shortest forms.
        {"DestinationAddress", W, "fe", Field::DestinationAddress},
        {"De", R, "fe", Field::DestinationAddress},
        {"Destination", M, "fe", Field::DestinationAddress},
        {"SourceAddress", W, "20", Field::SourceAddress},
        {"So", R, "20", Field::SourceAddress},
        {"VerifyBeforeWrite", W, "true", Field::Verify},
        {"Ve", W, "t", Field::Verify},
        {"Acknowledge", W, "yes", Field::Acknowledge},
        {"Ac", W, "y", Field::Acknowledge},
        {"IncrementTarget", R, "true", Field::Increment},
        {"In", W, "no", Field::Increment},
        {"DestinationKey", M, "5", Field::Key},
        {"DestinationK", R, "5", Field::Key},
        {"Key", W, "5", Field::Key},
        {"Ke", W, "5", Field::Key},
        {"TransactionIdentifier", R, "5", Field::TransactionId},
        {"Tr", M, "5", Field::TransactionId},
        {"ReadWriteAddress", R, "5", Field::Address},
        {"Re", W, "5", Field::Address},
        {"Address", M, "5", Field::Address},
        {"Ad", R, "5", Field::Address},
        {"ExtendedReadWriteAddress", R, "5", Field::ExtendedAddress},
        {"Ex", W, "5", Field::ExtendedAddress},
        {"Data", W, "5", Field::Data},
        {"Da", M, "5", Field::Data},
        {"Dat", W, "5", Field::Data},
        {"Mask", M, "5", Field::Mask},
        {"Ma", M, "5", Field::Mask},
        {"DataLength", R, "5", Field::DataLength},
        {"DataL", R, "5", Field::DataLength},
        {"Length", R, "5", Field::DataLength},
        {"Le", R, "5", Field::DataLength},
        {"HeaderCRC", R, "5", Field::HeaderCrc},
        {"He", W, "5", Field::HeaderCrc},
        {"DataCRC", W, "5", Field::DataCrc},
        {"DataC", M, "5", Field::DataCrc},
        {"CRC", W, "5", Field::DataCrc},
        {"CR", M, "5", Field::DataCrc},
        {"TimesToRepeat", L, "5", Field::TimesToRepeat},
        {"Ti", L, "5", Field::TimesToRepeat},
        {"NumberToRepeat", L, "5", Field::NumberToRepeat},
        {"Nu", L, "5", Field::NumberToRepeat},
        {"Filename", R, "f.bin", Field::Filename},
        {"Fi", M, "f.bin", Field::Filename},
        // Case is free, leading white space ignored.
        {"dEsTiNaTiOnAdDrEsS", W, "fe", Field::DestinationAddress},
        {" \t\r\nmask", M, "5", Field::Mask},
        {"key", R, "5", Field::Key},
        // Too short, too long, blank before the colon, unknown.
        {"D", W, "5", Field::None},
        {"K", W, "5", Field::None},
        {"", W, "5", Field::None},
        {"DestinationAddressX", W, "5", Field::None},
        {"Data ", W, "5", Field::None},
        {"Colour", W, "5", Field::None},
        // The first match wins even where the type refuses it.
        {"Destin", R, "5", Field::DestinationAddress},
        {"Da", R, "5", Field::None},        // Data, which a read does not take
        {"Data", R, "5", Field::None},
        {"DataLe", W, "5", Field::None},    // DataLength: reads only
        {"DestinationKe", R, "5", Field::Key},
        // Properties refused by the type.
        {"IncrementTarget", M, "true", Field::None},
        {"VerifyBeforeWrite", R, "true", Field::None},
        {"Acknowledge", M, "true", Field::None},
        {"Mask", W, "5", Field::None},
        {"DataLength", W, "5", Field::None},
        {"DataLength", M, "5", Field::None},
        {"DataCRC", R, "5", Field::None},
        {"Filename", W, "f", Field::None},
        {"TimesToRepeat", R, "5", Field::None},
        {"NumberToRepeat", W, "5", Field::None},
        {"DestinationAddress", L, "fe", Field::None},
        {"HeaderCRC", L, "5", Field::None},
        {"Filename", L, "f", Field::None},
    };
    for (const NameCase &c : cases) {
        RmapCommandPtr command = CR_AllocateCommand(c.type);
        ASSERT_TRUE(command);
        const bool applied = CR_SetFieldValue(*command, c.name, c.value);
        EXPECT_EQ(applied, c.field != Field::None) << "'" << c.name << "' type " << c.type;
        EXPECT_EQ(FieldSet(*command), c.field) << "'" << c.name << "' type " << c.type;
    }
}

TEST_F(PropertiesTest, NumbersAreCutToTheirFieldWidth)
{
    RmapCommandPtr w = CR_AllocateCommand(W);
    ASSERT_TRUE(CR_SetFieldValue(*w, "DestinationKey", " n300"));
    EXPECT_EQ(w->destination_key, 44); // 300 - 256
    ASSERT_TRUE(CR_SetFieldValue(*w, "TransactionIdentifier", " 12345"));
    EXPECT_EQ(w->transaction_identifier, 0x2345);
    ASSERT_TRUE(CR_SetFieldValue(*w, "ReadWriteAddress", " FFFFFFFF"));
    EXPECT_EQ(w->address, 0xFFFFFFFFu);
    ASSERT_TRUE(CR_SetFieldValue(*w, "ExtendedReadWriteAddress", " 1ff"));
    EXPECT_EQ(w->extended_address, 0xFF);
    ASSERT_TRUE(CR_SetFieldValue(*w, "HeaderCRC", " 0x1a5"));
    EXPECT_EQ(w->header_crc, 0xA5);
    ASSERT_TRUE(CR_SetFieldValue(*w, "DataCRC", " i100000001"));
    EXPECT_EQ(w->data_crc, 0x01);

    RmapCommandPtr r = CR_AllocateCommand(R);
    ASSERT_TRUE(CR_SetFieldValue(*r, "DataLength", " 10000  "));
    EXPECT_EQ(r->data_length, 0x10000u);
    ASSERT_TRUE(CR_SetFieldValue(*r, "Le", ""));
    EXPECT_EQ(r->data_length, 0u); // an empty number is 0
    EXPECT_TRUE(r->Given(GIVEN_DATA_LENGTH));

    RmapCommandPtr l = CR_AllocateCommand(L);
    ASSERT_TRUE(CR_SetFieldValue(*l, "TimesToRepeat", " n1000000"));
    EXPECT_EQ(l->times_to_repeat, 1000000u);
    ASSERT_TRUE(CR_SetFieldValue(*l, "NumberToRepeat", " \t "));
    EXPECT_EQ(l->number_to_repeat, 0u);
}

TEST_F(PropertiesTest, ValuesAreReadInTheInputBaseOfTheMoment)
{
    RmapCommandPtr w = CR_AllocateCommand(W);
    default_base = 10;
    ASSERT_TRUE(CR_SetFieldValue(*w, "Address", " 100"));
    EXPECT_EQ(w->address, 100u);
    default_base = 2;
    ASSERT_TRUE(CR_SetFieldValue(*w, "Data", " 101 11"));
    EXPECT_EQ(*w->data, (Bytes{5, 3}));
    EXPECT_FALSE(CR_SetFieldValue(*w, "Key", " 2"));
    default_base = 8;
    ASSERT_TRUE(CR_SetFieldValue(*w, "DestinationAddress", " 376 h20"));
    EXPECT_EQ(*w->destination_address, (Bytes{0xFE, 0x20}));
}

TEST_F(PropertiesTest, InvalidValuesFail)
{
    RmapCommandPtr w = CR_AllocateCommand(W);
    EXPECT_FALSE(CR_SetFieldValue(*w, "Key", " 1 2"));           // two items where one is wanted
    EXPECT_FALSE(CR_SetFieldValue(*w, "Address", " xyz"));
    EXPECT_FALSE(CR_SetFieldValue(*w, "Data", " 1g"));
    EXPECT_FALSE(CR_SetFieldValue(*w, "Acknowledge", " true "));  // blank after a word
    EXPECT_FALSE(CR_SetFieldValue(*w, "Acknowledge", ""));
    EXPECT_FALSE(CR_SetFieldValue(*w, "VerifyBeforeWrite", " on"));
    EXPECT_FALSE(CR_SetFieldValue(*w, "Data", " -missing_file"));
    EXPECT_EQ(FieldSet(*w), Field::None);
}

TEST_F(PropertiesTest, BooleansAndByteLists)
{
    RmapCommandPtr w = CR_AllocateCommand(W);
    ASSERT_TRUE(CR_SetFieldValue(*w, "Acknowledge", " \tY"));
    EXPECT_EQ(w->acknowledge, 1);
    ASSERT_TRUE(CR_SetFieldValue(*w, "Acknowledge", " fAlS"));
    EXPECT_EQ(w->acknowledge, 0); // the later value wins
    ASSERT_TRUE(CR_SetFieldValue(*w, "Data", " 01 02 03  "));
    EXPECT_EQ(*w->data, (Bytes{1, 2, 3}));
    EXPECT_EQ(w->data_length, 3u);
    EXPECT_TRUE(w->Given(GIVEN_DATA_LENGTH));
    ASSERT_TRUE(CR_SetFieldValue(*w, "Data", " 'ab'"));
    EXPECT_EQ(*w->data, (Bytes{'a', 'b'}));
    EXPECT_EQ(w->data_length, 2u);
    // An empty byte list is given, with no bytes.
    ASSERT_TRUE(CR_SetFieldValue(*w, "SourceAddress", "  "));
    ASSERT_TRUE(w->source_address);
    EXPECT_TRUE(w->source_address->empty());
}

TEST_F(PropertiesTest, ReadModifyWriteDataAndMaskHoldFourBytesAtMost)
{
    RmapCommandPtr m = CR_AllocateCommand(M);
    EXPECT_TRUE(CR_SetFieldValue(*m, "Data", " 1 2 3 4"));
    EXPECT_TRUE(CR_SetFieldValue(*m, "Mask", " 1 2 3 4"));
    RmapCommandPtr m5 = CR_AllocateCommand(M);
    EXPECT_FALSE(CR_SetFieldValue(*m5, "Data", " 1 2 3 4 5"));
    EXPECT_FALSE(m5->data);
    EXPECT_FALSE(CR_SetFieldValue(*m5, "Mask", " 1 2 3 4 5"));
    EXPECT_FALSE(m5->mask);
    // A write has no such limit.
    RmapCommandPtr w = CR_AllocateCommand(W);
    EXPECT_TRUE(CR_SetFieldValue(*w, "Data", " 1 2 3 4 5 6 7 8 9"));
    EXPECT_EQ(w->data_length, 9u);
}

TEST_F(PropertiesTest, FileNames)
{
    struct {
        const char *value;
        const char *name;
    } cases[] = {
        {" 'my file.bin'", "my file.bin"},
        {" \"my file.bin\"  \t", "my file.bin"},
        {" `x`", "x"},
        {" 'open.bin", "'open.bin"},     // no closing quote: kept
        {" 'mixed\"", "'mixed\""},        // different quote at the end: kept
        {" '", "'"},                       // one quote alone does not close itself
        {" ''", ""},
        {" plain.bin ", "plain.bin "},     // trailing blank kept
        {"\t\r\nname", "name"},
        {"", ""},
    };
    for (const auto &c : cases) {
        RmapCommandPtr r = CR_AllocateCommand(R);
        ASSERT_TRUE(CR_SetFieldValue(*r, "Filename", c.value)) << c.value;
        ASSERT_TRUE(r->filename);
        EXPECT_EQ(*r->filename, c.name) << "value [" << c.value << "]";
    }
}

TEST_F(PropertiesTest, FileReferencesInByteLists)
{
    ScratchDir scratch;
    scratch.Write("three.bin", std::string("\x01\x02\x03", 3));
    RmapCommandPtr w = CR_AllocateCommand(W);
    const std::string value = " -" + (scratch / "three.bin").string() + " 5";
    ASSERT_TRUE(CR_SetFieldValue(*w, "Data", value));
    EXPECT_EQ(*w->data, (Bytes{1, 2, 3, 5}));
}

TEST_F(PropertiesTest, BaseCommandProperties)
{
    int output_base = -1;
    EXPECT_TRUE(CR_SetFieldValueBase("InputBase", " 10", &output_base));
    EXPECT_EQ(default_base, 10);
    EXPECT_EQ(output_base, -1);
    EXPECT_TRUE(CR_SetFieldValueBase(" in", "i", &output_base));
    EXPECT_EQ(default_base, 2);
    EXPECT_TRUE(CR_SetFieldValueBase("OutputBase", " \t0X", &output_base));
    EXPECT_EQ(output_base, 16);
    EXPECT_EQ(default_base, 2);
    EXPECT_TRUE(CR_SetFieldValueBase("Ou", " o", &output_base));
    EXPECT_EQ(output_base, 8);
    EXPECT_TRUE(CR_SetFieldValueBase("outputbase", "n", &output_base));
    EXPECT_EQ(output_base, 10);

    default_base = 16;
    output_base = -1;
    EXPECT_FALSE(CR_SetFieldValueBase("InputBase", " 16 ", &output_base));  // blank after the word
    EXPECT_FALSE(CR_SetFieldValueBase("InputBase", " hex", &output_base));
    EXPECT_FALSE(CR_SetFieldValueBase("InputBase", " 016", &output_base));
    EXPECT_FALSE(CR_SetFieldValueBase("InputBase", "", &output_base));
    EXPECT_FALSE(CR_SetFieldValueBase("I", " 10", &output_base));
    EXPECT_FALSE(CR_SetFieldValueBase("InputBase ", " 10", &output_base));
    EXPECT_FALSE(CR_SetFieldValueBase("Base", " 10", &output_base));
    EXPECT_FALSE(CR_SetFieldValueBase("Data", " 10", &output_base));
    EXPECT_EQ(default_base, 16);
    EXPECT_EQ(output_base, -1);
}

RmapCommandPtr FullWrite()
{
    RmapCommandPtr w = CR_AllocateCommand(W);
    EXPECT_TRUE(CR_SetFieldValue(*w, "De", " 1 2 fe"));
    EXPECT_TRUE(CR_SetFieldValue(*w, "So", " 3 20"));
    EXPECT_TRUE(CR_SetFieldValue(*w, "Ve", " t"));
    EXPECT_TRUE(CR_SetFieldValue(*w, "Ac", " t"));
    EXPECT_TRUE(CR_SetFieldValue(*w, "In", " f"));
    EXPECT_TRUE(CR_SetFieldValue(*w, "Ke", " 7"));
    EXPECT_TRUE(CR_SetFieldValue(*w, "Tr", " 1234"));
    EXPECT_TRUE(CR_SetFieldValue(*w, "Ad", " 1000"));
    EXPECT_TRUE(CR_SetFieldValue(*w, "Ex", " 9"));
    EXPECT_TRUE(CR_SetFieldValue(*w, "Da", " a b c"));
    EXPECT_TRUE(CR_SetFieldValue(*w, "He", " 11"));
    EXPECT_TRUE(CR_SetFieldValue(*w, "CRC", " 22"));
    return w;
}

TEST_F(PropertiesTest, DefaultsFillWhatIsMissingButNeverCrcsOrNames)
{
    RmapCommandPtr w = FullWrite();
    RmapCommandPtr r = CR_AllocateCommand(R);
    ASSERT_TRUE(CR_SetFieldValue(*r, "Tr", " 2"));
    ASSERT_TRUE(CR_SetFieldValue(*r, "Fi", " r.bin"));
    r->number = 9;
    ASSERT_TRUE(CR_CopyDefaultFields(*r, w.get()));
    EXPECT_EQ(r->type, R);
    EXPECT_EQ(r->number, 9);
    EXPECT_EQ(*r->destination_address, (Bytes{1, 2, 0xFE}));
    EXPECT_EQ(*r->source_address, (Bytes{3, 0x20}));
    EXPECT_EQ(r->verify_before_write, 1);
    EXPECT_EQ(r->acknowledge, 1);
    EXPECT_EQ(r->increment_target, 0);
    EXPECT_TRUE(r->Given(GIVEN_INCREMENT_TARGET));
    EXPECT_EQ(r->destination_key, 7);
    EXPECT_EQ(r->transaction_identifier, 2); // its own
    EXPECT_EQ(r->address, 0x1000u);
    EXPECT_EQ(r->extended_address, 9);
    // The write's data length, and its bytes with it.
    EXPECT_EQ(r->data_length, 3u);
    ASSERT_TRUE(r->data);
    EXPECT_EQ(*r->data, (Bytes{0xA, 0xB, 0xC}));
    EXPECT_FALSE(r->Given(GIVEN_HEADER_CRC));
    EXPECT_FALSE(r->Given(GIVEN_DATA_CRC));
    EXPECT_EQ(*r->filename, "r.bin");

    // The buffers are copies, not shared.
    (*w->destination_address)[0] = 0x55;
    EXPECT_EQ((*r->destination_address)[0], 1);

    // A command after a read with a file name does not take the name.
    RmapCommandPtr r2 = CR_AllocateCommand(R);
    ASSERT_TRUE(CR_CopyDefaultFields(*r2, r.get()));
    EXPECT_FALSE(r2->filename);
    EXPECT_TRUE(CR_CopyDefaultFields(*r2, nullptr));
}

TEST_F(PropertiesTest, ADataLengthOfItsOwnKeepsTheSourceBytesOut)
{
    RmapCommandPtr w = FullWrite();
    RmapCommandPtr r = CR_AllocateCommand(R);
    ASSERT_TRUE(CR_SetFieldValue(*r, "Le", " 10"));
    ASSERT_TRUE(CR_CopyDefaultFields(*r, w.get()));
    EXPECT_EQ(r->data_length, 0x10u);
    EXPECT_FALSE(r->data);

    // A write after that read takes the length but finds no bytes to take.
    RmapCommandPtr w2 = CR_AllocateCommand(W);
    ASSERT_TRUE(CR_CopyDefaultFields(*w2, r.get()));
    EXPECT_TRUE(w2->Given(GIVEN_DATA_LENGTH));
    EXPECT_FALSE(w2->data);
}

TEST_F(PropertiesTest, LoopsPassRepeatCountsAndPacketPropertiesOn)
{
    RmapCommandPtr w = FullWrite();
    RmapCommandPtr l = CR_AllocateCommand(L);
    ASSERT_TRUE(CR_SetFieldValue(*l, "Ti", " 3"));
    ASSERT_TRUE(CR_CopyDefaultFields(*l, w.get()));
    EXPECT_FALSE(l->Given(GIVEN_NUMBER_TO_REPEAT));
    RmapCommandPtr l2 = CR_AllocateCommand(L);
    ASSERT_TRUE(CR_SetFieldValue(*l2, "Nu", " 1"));
    ASSERT_TRUE(CR_CopyDefaultFields(*l2, l.get()));
    EXPECT_EQ(l2->times_to_repeat, 3u);
    EXPECT_EQ(l2->number_to_repeat, 1u);
    EXPECT_EQ(*l2->destination_address, (Bytes{1, 2, 0xFE}));
    EXPECT_EQ(*l2->data, (Bytes{0xA, 0xB, 0xC}));

    RmapCommandPtr m = CR_AllocateCommand(M);
    ASSERT_TRUE(CR_CopyDefaultFields(*m, l2.get()));
    EXPECT_EQ(m->address, 0x1000u);
    EXPECT_TRUE(m->Given(GIVEN_TIMES_TO_REPEAT));
}

} // namespace
