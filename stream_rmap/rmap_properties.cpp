#include "stream_rmap/rmap_properties.h"

#include <array>
#include <cstdint>
#include <new>
#include <string>

#include "app/settings.h"
#include "common/white_space.h"
#include "common/data_value.h"
#include "common/match_arg.h"
#include "common/number_base.h"
#include "common/value_notes.h"

namespace {

enum class Property {
    DestinationAddress,
    SourceAddress,
    VerifyBeforeWrite,
    Acknowledge,
    IncrementTarget,
    DestinationKey,
    TransactionIdentifier,
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

enum Accepts : unsigned {
    IN_READ = 1,
    IN_WRITE = 2,
    IN_READ_MODIFY_WRITE = 4,
    IN_LOOP = 8,
    IN_PACKETS = IN_READ | IN_WRITE | IN_READ_MODIFY_WRITE
};

struct PropertyName {
    const char *name;
    int shortest;
    Property property;
    unsigned accepts;
};

// In matching order: the first name that matches decides.
constexpr std::array<PropertyName, 21> kPropertyNames{{
    {"DestinationAddress", 2, Property::DestinationAddress, IN_PACKETS},
    {"SourceAddress", 2, Property::SourceAddress, IN_PACKETS},
    {"VerifyBeforeWrite", 2, Property::VerifyBeforeWrite, IN_WRITE},
    {"Acknowledge", 2, Property::Acknowledge, IN_WRITE},
    {"IncrementTarget", 2, Property::IncrementTarget, IN_READ | IN_WRITE},
    {"DestinationKey", 12, Property::DestinationKey, IN_PACKETS},
    {"Key", 2, Property::DestinationKey, IN_PACKETS},
    {"TransactionIdentifier", 2, Property::TransactionIdentifier, IN_PACKETS},
    {"ReadWriteAddress", 2, Property::Address, IN_PACKETS},
    {"Address", 2, Property::Address, IN_PACKETS},
    {"ExtendedReadWriteAddress", 2, Property::ExtendedAddress, IN_PACKETS},
    {"Data", 2, Property::Data, IN_WRITE | IN_READ_MODIFY_WRITE},
    {"Mask", 2, Property::Mask, IN_READ_MODIFY_WRITE},
    {"DataLength", 5, Property::DataLength, IN_READ},
    {"Length", 2, Property::DataLength, IN_READ},
    {"HeaderCRC", 2, Property::HeaderCrc, IN_PACKETS},
    {"DataCRC", 5, Property::DataCrc, IN_WRITE | IN_READ_MODIFY_WRITE},
    {"CRC", 2, Property::DataCrc, IN_WRITE | IN_READ_MODIFY_WRITE},
    {"TimesToRepeat", 2, Property::TimesToRepeat, IN_LOOP},
    {"NumberToRepeat", 2, Property::NumberToRepeat, IN_LOOP},
    {"Filename", 2, Property::Filename, IN_READ | IN_READ_MODIFY_WRITE},
}};

// Read/modify/write carries its data and mask in 4 bytes each at most.
constexpr std::size_t kReadModifyWriteLimit = 4;

bool Matches(const std::string &name, const PropertyName &entry)
{
    return MatchArg(name.c_str(), entry.name, '\0', entry.shortest) >= 0;
}

const PropertyName *FindProperty(std::string_view name)
{
    const std::string text(name);
    for (const PropertyName &entry : kPropertyNames) {
        if (Matches(text, entry)) {
            return &entry;
        }
    }
    return nullptr;
}

unsigned AcceptanceOf(RmapCommandType type)
{
    switch (type) {
    case RMAP_COMMAND_READ: return IN_READ;
    case RMAP_COMMAND_WRITE: return IN_WRITE;
    case RMAP_COMMAND_READ_MODIFY_WRITE: return IN_READ_MODIFY_WRITE;
    case RMAP_COMMAND_LOOP: return IN_LOOP;
    default: return 0;
    }
}

std::string_view SkipLeadingWhiteSpace(std::string_view text)
{
    std::size_t start = 0;
    while (start < text.size() && IsWhiteSpace(static_cast<unsigned char>(text[start]))) {
        ++start;
    }
    return text.substr(start);
}

// Where a value came from, for the notes about it: the property is named as
// the user wrote it.
struct ValueSource {
    std::int32_t number;
    std::string_view name;
};

std::optional<std::vector<std::uint8_t>> ReadByteList(std::string_view value, const ValueSource &source)
{
    std::optional<DataValue> converted = CreateDataFromString(value, false);
    if (!converted || !ReportListValueNotes(source.number, source.name, converted->notes)) {
        return std::nullopt;
    }
    return std::move(converted->bytes);
}

// Bits of a number property's field, and what the field keeps of a value.
// The data length is held in 32 bits, but a packet carries 24: a longer one
// is kept whole and cannot be built.
struct NumberWidth {
    int width;
    int kept_bits;
};

NumberWidth WidthOf(Property property)
{
    switch (property) {
    case Property::DestinationKey:
    case Property::ExtendedAddress:
    case Property::HeaderCrc:
    case Property::DataCrc:
        return {8, 8};
    case Property::TransactionIdentifier:
        return {16, 16};
    case Property::DataLength:
        return {24, 32};
    default:
        return {32, 32};
    }
}

std::optional<std::uint32_t> ReadSingleValue(std::string_view value, NumberWidth width, const ValueSource &source)
{
    // An empty value reads as 0: one forgotten value would write to address 0.
    if (SkipLeadingWhiteSpace(value).empty() && !ReportListDoubt(source.number, source.name, "the value is empty", "0 is used")) {
        return std::nullopt;
    }
    const std::optional<DataValue> converted = CreateDataFromString(value, true);
    if (!converted ||
        !ReportListValueNotes(source.number, source.name, FirstValueNotes(*converted, width.width, width.kept_bits))) {
        return std::nullopt;
    }
    return converted->first_value;
}

bool IsQuote(char c) { return c == '"' || c == '\'' || c == '`'; }

std::string ReadFilename(std::string_view value)
{
    const std::string_view text = SkipLeadingWhiteSpace(value);
    if (!text.empty() && IsQuote(text.front())) {
        std::size_t last = text.size();
        while (last > 0 && IsWhiteSpace(static_cast<unsigned char>(text[last - 1]))) {
            --last;
        }
        // The closing quote must be another character than the opening one.
        if (last >= 2 && text[last - 1] == text.front()) {
            return std::string(text.substr(1, last - 2));
        }
    }
    return std::string(text);
}

bool SetNumber(RmapCommand &command, Property property, std::uint32_t value)
{
    switch (property) {
    case Property::DestinationKey:
        command.destination_key = static_cast<std::uint8_t>(value);
        command.given_flags |= GIVEN_DESTINATION_KEY;
        return true;
    case Property::TransactionIdentifier:
        command.transaction_identifier = static_cast<std::uint16_t>(value);
        command.given_flags |= GIVEN_TRANSACTION_IDENTIFIER;
        return true;
    case Property::Address:
        command.address = value;
        command.given_flags |= GIVEN_ADDRESS;
        return true;
    case Property::ExtendedAddress:
        command.extended_address = static_cast<std::uint8_t>(value);
        command.given_flags |= GIVEN_EXTENDED_ADDRESS;
        return true;
    case Property::DataLength:
        command.data_length = value;
        command.given_flags |= GIVEN_DATA_LENGTH;
        return true;
    case Property::HeaderCrc:
        command.header_crc = static_cast<std::uint8_t>(value);
        command.given_flags |= GIVEN_HEADER_CRC;
        return true;
    case Property::DataCrc:
        command.data_crc = static_cast<std::uint8_t>(value);
        command.given_flags |= GIVEN_DATA_CRC;
        return true;
    case Property::TimesToRepeat:
        command.times_to_repeat = value;
        command.given_flags |= GIVEN_TIMES_TO_REPEAT;
        return true;
    case Property::NumberToRepeat:
        command.number_to_repeat = value;
        command.given_flags |= GIVEN_NUMBER_TO_REPEAT;
        return true;
    default:
        return false;
    }
}

bool SetFlag(RmapCommand &command, Property property, std::string_view value)
{
    unsigned char flag = 0;
    if (!CreateBooleanFromString(value, flag)) {
        return false;
    }
    switch (property) {
    case Property::VerifyBeforeWrite:
        command.verify_before_write = flag;
        command.given_flags |= GIVEN_VERIFY_BEFORE_WRITE;
        return true;
    case Property::Acknowledge:
        command.acknowledge = flag;
        command.given_flags |= GIVEN_ACKNOWLEDGE;
        return true;
    case Property::IncrementTarget:
        command.increment_target = flag;
        command.given_flags |= GIVEN_INCREMENT_TARGET;
        return true;
    default:
        return false;
    }
}

bool SetByteList(RmapCommand &command, Property property, std::string_view value, const ValueSource &source)
{
    std::optional<std::vector<std::uint8_t>> read = ReadByteList(value, source);
    if (!read) {
        return false;
    }
    RmapBytes bytes;
    try {
        bytes = RmapBytes(std::move(*read));
    } catch (const std::bad_alloc &) {
        return false;
    }
    const bool limited = command.type == RMAP_COMMAND_READ_MODIFY_WRITE;
    switch (property) {
    case Property::DestinationAddress:
        command.destination_address = std::move(bytes);
        return true;
    case Property::SourceAddress:
        command.source_address = std::move(bytes);
        return true;
    case Property::Data:
        if (limited && bytes->size() > kReadModifyWriteLimit) {
            command.data.reset();
            return false;
        }
        command.data_length = static_cast<std::uint32_t>(bytes->size());
        command.data = std::move(bytes);
        command.given_flags |= GIVEN_DATA_LENGTH;
        return true;
    case Property::Mask:
        if (limited && bytes->size() > kReadModifyWriteLimit) {
            command.mask.reset();
            return false;
        }
        command.mask = std::move(bytes);
        return true;
    default:
        return false;
    }
}

} // namespace

bool CR_SetFieldValue(RmapCommand &command, std::string_view name, std::string_view value)
{
    const PropertyName *entry = FindProperty(name);
    if (entry == nullptr || (entry->accepts & AcceptanceOf(command.type)) == 0) {
        return false;
    }
    const ValueSource source{command.number, SkipLeadingWhiteSpace(name)};
    try {
        switch (entry->property) {
        case Property::DestinationAddress:
        case Property::SourceAddress:
        case Property::Data:
        case Property::Mask:
            return SetByteList(command, entry->property, value, source);
        case Property::VerifyBeforeWrite:
        case Property::Acknowledge:
        case Property::IncrementTarget:
            return SetFlag(command, entry->property, value);
        case Property::Filename:
            command.filename = std::make_unique<const std::string>(ReadFilename(value));
            return true;
        default: {
            const std::optional<std::uint32_t> number = ReadSingleValue(value, WidthOf(entry->property), source);
            return number && SetNumber(command, entry->property, *number);
        }
        }
    } catch (const std::bad_alloc &) {
        return false;
    }
}

bool CR_SetFieldValueBase(std::string_view name, std::string_view value, int *output_base)
{
    const std::string text(name);
    const bool input = MatchArg(text.c_str(), "InputBase", '\0', 2) >= 0;
    const bool output = !input && MatchArg(text.c_str(), "OutputBase", '\0', 2) >= 0;
    if (!input && !output) {
        return false;
    }
    const NumberBase base = GetBase(SkipLeadingWhiteSpace(value));
    if (base < 0) {
        return false;
    }
    if (input) {
        default_base = base;
    } else if (output_base != nullptr) {
        *output_base = base;
    }
    return true;
}

void CR_CopyDefaultFields(RmapCommand &command, const RmapCommand *source)
{
    if (source == nullptr) {
        return;
    }
    if (!command.destination_address) {
        command.destination_address = source->destination_address;
    }
    if (!command.source_address) {
        command.source_address = source->source_address;
    }
    struct FlaggedField {
        std::uint32_t flag;
        void (*copy)(RmapCommand &, const RmapCommand &);
    };
    static constexpr FlaggedField kValues[] = {
        {GIVEN_VERIFY_BEFORE_WRITE, [](RmapCommand &to, const RmapCommand &from) { to.verify_before_write = from.verify_before_write; }},
        {GIVEN_ACKNOWLEDGE, [](RmapCommand &to, const RmapCommand &from) { to.acknowledge = from.acknowledge; }},
        {GIVEN_INCREMENT_TARGET, [](RmapCommand &to, const RmapCommand &from) { to.increment_target = from.increment_target; }},
        {GIVEN_DESTINATION_KEY, [](RmapCommand &to, const RmapCommand &from) { to.destination_key = from.destination_key; }},
        {GIVEN_TRANSACTION_IDENTIFIER, [](RmapCommand &to, const RmapCommand &from) { to.transaction_identifier = from.transaction_identifier; }},
        {GIVEN_ADDRESS, [](RmapCommand &to, const RmapCommand &from) { to.address = from.address; }},
        {GIVEN_EXTENDED_ADDRESS, [](RmapCommand &to, const RmapCommand &from) { to.extended_address = from.extended_address; }},
    };
    for (const FlaggedField &field : kValues) {
        if (!command.Given(field.flag) && source->Given(field.flag)) {
            field.copy(command, *source);
            command.given_flags |= field.flag;
        }
    }
    if (!command.Given(GIVEN_DATA_LENGTH) && source->Given(GIVEN_DATA_LENGTH)) {
        command.given_flags |= GIVEN_DATA_LENGTH;
        command.data_length = source->data_length;
        if (!command.data) {
            command.data = source->data;
        }
    }
    if (!command.mask) {
        command.mask = source->mask;
    }
    if (!command.Given(GIVEN_TIMES_TO_REPEAT) && source->Given(GIVEN_TIMES_TO_REPEAT)) {
        command.times_to_repeat = source->times_to_repeat;
        command.given_flags |= GIVEN_TIMES_TO_REPEAT;
    }
    if (!command.Given(GIVEN_NUMBER_TO_REPEAT) && source->Given(GIVEN_NUMBER_TO_REPEAT)) {
        command.number_to_repeat = source->number_to_repeat;
        command.given_flags |= GIVEN_NUMBER_TO_REPEAT;
    }
}
