#include "interactive/rmap_field_entry.h"

#include <array>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <strings.h>

#include "app/settings.h"
#include "common/white_space.h"
#include "common/byte_text.h"
#include "common/console_input.h"
#include "common/data_value.h"
#include "common/number_base.h"
#include "common/value_notes.h"

namespace {

const char *FlagText(unsigned char flag) { return flag != 0 ? "TRUE" : "FALSE"; }

std::string BytesText(const std::vector<std::uint8_t> &bytes)
{
    std::string text;
    for (std::uint8_t byte : bytes) {
        if (!text.empty()) {
            text += ' ';
        }
        text += ToBaseText(byte, default_base);
    }
    return text;
}

// Bits of each value field in the packet, and how many of an entry's bits
// the packet is built from: all 32 of a data length, so that one beyond the
// 24 a packet carries cannot be built rather than being cut.
struct FieldWidth {
    std::string_view name;
    int width;
    int kept_bits;
};

constexpr std::array<FieldWidth, 9> kFieldWidths{{
    {"Destination Key", 8, 8},
    {"Transaction Identifier", 16, 16},
    {"Extended Read/Write Address", 8, 8},
    {"Read/Write Address", 32, 32},
    {"Data length", 24, 32},
    {"Mask", 32, 32},
    {"Header CRC", 8, 8},
    {"Data CRC", 8, 8},
    {"Data and Mask CRC", 8, 8},
}};

FieldWidth WidthOf(std::string_view name)
{
    for (const FieldWidth &field : kFieldWidths) {
        if (field.name == name) {
            return field;
        }
    }
    return {name, 32, 32};
}

// Reads a text that is not the default and, when it is valid, takes it as the value.
using Interpreter = std::function<bool(std::string_view)>;

// The question-and-answer protocol every field shares.  False when input has ended.
bool AskUntilAccepted(const char *name, bool has_default, const std::string &default_text, unsigned char &fixed,
                      const Interpreter &interpret)
{
    for (;;) {
        DiscardPendingInput();
        if (has_default) {
            std::printf("%s (%s): ", name, default_text.c_str());
        } else {
            std::printf("%s: ", name);
        }
        std::fflush(stdout);
        std::optional<std::string> line = ReadFromKeyboard();
        if (!line) {
            return false;
        }
        std::string_view text = *line;
        bool fix_requested = false;
        if (!text.empty() && (text.back() == 'x' || text.back() == 'X')) {
            text.remove_suffix(1);
            fix_requested = true;
        }
        bool accepted = false;
        if (text.empty()) {
            if (has_default) {
                accepted = true;
            } else {
                std::puts("No default value is currently specified for this field, so a value must be entered");
            }
        } else {
            accepted = interpret(text);
        }
        if (accepted) {
            if (fix_requested) {
                fixed = 1;
            }
            return true;
        }
    }
}

// A flag answer is a leading part of one of these words.  A trailing blank is
// not a leading part of a word: "yes " is refused, "yes f" is taken.
constexpr std::array<std::pair<std::string_view, unsigned char>, 8> kFlagWords{{
    {"yes", 1}, {"true", 1}, {"yes f", 1}, {"true f", 1},
    {"no", 0}, {"false", 0}, {"no f", 0}, {"false f", 0},
}};

std::optional<unsigned char> FlagFromText(std::string_view text)
{
    if (text.empty() || IsWhiteSpace(static_cast<unsigned char>(text.back()))) {
        return std::nullopt;
    }
    for (const auto &[word, flag] : kFlagWords) {
        if (text.size() <= word.size() && strncasecmp(text.data(), word.data(), text.size()) == 0) {
            return flag;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<unsigned char> IR_ReadTrueOrFalse(const char *name, unsigned char current, unsigned char &set,
                                                unsigned char &fixed)
{
    if (fixed != 0) {
        std::printf("%s (FIXED): %s\n", name, FlagText(current));
        return current;
    }
    unsigned char value = current;
    const bool answered = AskUntilAccepted(name, set != 0, FlagText(current), fixed, [&](std::string_view text) {
        const std::optional<unsigned char> flag = FlagFromText(text);
        if (!flag) {
            std::puts("Invalid field value entered, please try again.");
            return false;
        }
        value = *flag;
        return true;
    });
    if (!answered) {
        return std::nullopt;
    }
    set = 1;
    return value;
}

std::optional<std::uint32_t> IR_ReadDataValue(const char *name, std::uint32_t current, unsigned char &set,
                                              unsigned char &fixed)
{
    if (fixed != 0) {
        std::printf("%s (FIXED): %s\n", name, ToBaseText(current, default_base).c_str());
        return current;
    }
    std::uint32_t value = current;
    const bool answered =
        AskUntilAccepted(name, set != 0, ToBaseText(current, default_base), fixed, [&](std::string_view text) {
            const std::optional<DataValue> entered = CreateDataFromString(text, true);
            if (!entered) {
                std::puts("The value entered is invalid");
                return false;
            }
            const FieldWidth width = WidthOf(name);
            if (!ReportPromptValueNotes(name, FirstValueNotes(*entered, width.width, width.kept_bits))) {
                return false;
            }
            value = entered->first_value;
            return true;
        });
    if (!answered) {
        return std::nullopt;
    }
    set = 1;
    return value;
}

bool IR_ReadData(const char *name, std::vector<std::uint8_t> &bytes, unsigned char &fixed)
{
    if (fixed != 0) {
        std::printf("%s (FIXED): ", name);
        WriteBytesInBase(bytes, default_base, stdout);
        std::putchar('\n');
        return true;
    }
    return AskUntilAccepted(name, !bytes.empty(), BytesText(bytes), fixed, [&](std::string_view text) {
        std::optional<DataValue> entered = CreateDataFromString(text, false);
        if (!entered) {
            std::puts("The value entered is invalid");
            return false;
        }
        if (!ReportPromptValueNotes(name, entered->notes)) {
            return false;
        }
        bytes = std::move(entered->bytes);
        return true;
    });
}
