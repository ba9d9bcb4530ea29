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

// Reads a text that is not the default and, when it is valid, takes it as the value.
using Interpreter = std::function<bool(std::string_view)>;

// The question-and-answer protocol every field shares.  False when input has ended.
bool AskUntilAccepted(const char *name, bool has_default, const std::string &default_text, bool &fixed,
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
                fixed = true;
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

bool IR_ReadTrueOrFalse(const char *name, RmapFlag &field)
{
    if (field.fixed) {
        std::printf("%s (FIXED): %s\n", name, FlagText(field.value));
        return true;
    }
    const bool answered = AskUntilAccepted(name, field.set, FlagText(field.value), field.fixed, [&](std::string_view text) {
        const std::optional<unsigned char> flag = FlagFromText(text);
        if (!flag) {
            std::puts("Invalid field value entered, please try again.");
            return false;
        }
        field.value = *flag;
        return true;
    });
    field.set = field.set || answered;
    return answered;
}

bool IR_ReadDataValue(const char *name, FieldWidth width, RmapValue &field)
{
    if (field.fixed) {
        std::printf("%s (FIXED): %s\n", name, ToBaseText(field.value, default_base).c_str());
        return true;
    }
    const std::string default_text = ToBaseText(field.value, default_base);
    const bool answered = AskUntilAccepted(name, field.set, default_text, field.fixed, [&](std::string_view text) {
        const std::optional<DataValue> entered = CreateDataFromString(text, true);
        if (!entered) {
            std::puts("The value entered is invalid");
            return false;
        }
        if (!ReportPromptValueNotes(name, FirstValueNotes(*entered, width.bits, width.kept_bits))) {
            return false;
        }
        field.value = entered->first_value;
        return true;
    });
    field.set = field.set || answered;
    return answered;
}

bool IR_ReadData(const char *name, RmapBytes &field)
{
    if (field.fixed) {
        std::printf("%s (FIXED): ", name);
        WriteBytesInBase(field.value, default_base, stdout);
        std::putchar('\n');
        return true;
    }
    const bool answered = AskUntilAccepted(name, !field.value.empty(), BytesText(field.value), field.fixed,
                                 [&](std::string_view text) {
                                     std::optional<DataValue> entered = CreateDataFromString(text, false);
                                     if (!entered) {
                                         std::puts("The value entered is invalid");
                                         return false;
                                     }
                                     if (!ReportPromptValueNotes(name, entered->notes)) {
                                         return false;
                                     }
                                     field.value = std::move(entered->bytes);
                                     return true;
                                 });
    field.set = field.set || answered;
    return answered;
}
