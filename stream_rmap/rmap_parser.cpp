#include "stream_rmap/rmap_parser.h"

#include <cstdio>
#include <strings.h>

#include "common/white_space.h"
#include "common/value_notes.h"
#include "stream_rmap/rmap_properties.h"

namespace {

constexpr std::string_view kLabel = "CommandType";

bool IsBlank(char c) { return IsWhiteSpace(static_cast<unsigned char>(c)); }

bool OnlyWhiteSpace(std::string_view text)
{
    for (char c : text) {
        if (!IsBlank(c)) {
            return false;
        }
    }
    return true;
}

std::string Trimmed(std::string_view text)
{
    std::size_t start = 0;
    std::size_t end = text.size();
    while (start < end && IsBlank(text[start])) {
        ++start;
    }
    while (end > start && IsBlank(text[end - 1])) {
        --end;
    }
    return std::string(text.substr(start, end - start));
}

// A value continued on the next line is joined with nothing between: when
// that glues two items into one, say so.  False when -strict refuses it.
bool ReportJoinedLines(std::int32_t number, std::string_view name, std::string_view before, std::string_view next)
{
    if (before.empty() || IsBlank(before.back()) || next.empty() || IsBlank(next.front()) || next.front() == ';') {
        return true;
    }
    std::size_t word_start = before.size();
    while (word_start > 0 && !IsBlank(before[word_start - 1])) {
        --word_start;
    }
    std::size_t word_end = 0;
    while (word_end < next.size() && !IsBlank(next[word_end]) && next[word_end] != ';') {
        ++word_end;
    }
    const std::string first(before.substr(word_start));
    const std::string second(next.substr(0, word_end));
    return ReportListDoubt(number, Trimmed(name),
                           "a line end joins \"" + first + "\" and \"" + second + "\" into \"" + first + second + "\"",
                           "");
}

// The length of a "CommandType:" label at the position (its colon included),
// or 0 when there is none.  A label is at most as long as the word, so only
// that far is searched for its colon: the search never runs over the text.
std::size_t LabelLength(std::string_view text, std::size_t position)
{
    const std::string_view window = text.substr(position, kLabel.size() + 1);
    const std::size_t colon = window.find(':');
    if (colon == std::string_view::npos) {
        return 0;
    }
    if (colon > 0 && strncasecmp(window.data(), kLabel.data(), colon) != 0) {
        return 0;
    }
    return colon + 1;
}

bool HasTypeAndSemicolon(std::string_view text, std::size_t position)
{
    return text.size() - position >= 2 && text[position + 1] == ';';
}

using RequiredCheck = bool (*)(const RmapCommand &);

bool HasAll(const RmapCommand &command, std::uint32_t flags) { return (command.given_flags & flags) == flags; }

constexpr std::uint32_t kHeaderFlags =
    GIVEN_DESTINATION_KEY | GIVEN_TRANSACTION_IDENTIFIER | GIVEN_ADDRESS | GIVEN_EXTENDED_ADDRESS;

bool ReadComplete(const RmapCommand &c)
{
    return c.destination_address && c.source_address &&
           HasAll(c, kHeaderFlags | GIVEN_INCREMENT_TARGET | GIVEN_DATA_LENGTH);
}

bool WriteComplete(const RmapCommand &c)
{
    return c.destination_address && c.source_address && c.data &&
           HasAll(c, kHeaderFlags | GIVEN_VERIFY_BEFORE_WRITE | GIVEN_ACKNOWLEDGE | GIVEN_INCREMENT_TARGET);
}

bool ReadModifyWriteComplete(const RmapCommand &c)
{
    return c.destination_address && c.source_address && c.data && c.mask && HasAll(c, kHeaderFlags);
}

bool LoopComplete(const RmapCommand &c) { return HasAll(c, GIVEN_TIMES_TO_REPEAT | GIVEN_NUMBER_TO_REPEAT); }

struct CommandForm {
    RmapCommandType type;
    const char *reading_failed;
    const char *property_missing;
    RequiredCheck complete;
};

constexpr CommandForm kRead{RMAP_COMMAND_READ, "Error reading command %d's properties.\n",
                            "One of the properties of read command %d has not been specified.\n", ReadComplete};
constexpr CommandForm kWrite{RMAP_COMMAND_WRITE, "Error reading write command %d.\n",
                             "One of the properties of write command %d has not been specified.\n", WriteComplete};
constexpr CommandForm kReadModifyWrite{RMAP_COMMAND_READ_MODIFY_WRITE, "Error reading read/modify/write command %d\n",
                                       "One of the properties of read/modify/write command %d has not been specified.\n",
                                       ReadModifyWriteComplete};
constexpr CommandForm kLoop{RMAP_COMMAND_LOOP, "Error reading loop command %d\n",
                            "One of the properties of loop command %d has not been specified.\n", LoopComplete};

// A read/modify/write is built from its data and as many mask bytes, in at
// most 4 bytes each: data taken from a longer write, or a mask shorter than
// the data, cannot be sent as written.
bool ReadModifyWriteFits(const RmapCommand &command)
{
    if (command.data->size() > 4) {
        std::printf("The data of read/modify/write command %d is longer than 4 bytes.\n", command.number);
        return false;
    }
    if (command.mask->size() < command.data->size()) {
        std::printf("The mask of read/modify/write command %d is shorter than its data.\n", command.number);
        return false;
    }
    return true;
}

RmapCommandPtr ProcessCommand(const CommandForm &form, std::string_view text, std::size_t &position,
                              std::int32_t number, const RmapCommand *previous)
{
    RmapCommandPtr command = CR_GetCommandProperties(text, position, form.type, number, nullptr);
    if (!command) {
        std::printf(form.reading_failed, number);
        return nullptr;
    }
    CR_CopyDefaultFields(*command, previous);
    if (!form.complete(*command)) {
        std::printf(form.property_missing, number);
        return nullptr;
    }
    if (form.type == RMAP_COMMAND_READ_MODIFY_WRITE && !ReadModifyWriteFits(*command)) {
        return nullptr;
    }
    return command;
}

} // namespace

std::optional<std::string> ReadLine(std::string_view text, std::size_t &position)
{
    if (position >= text.size()) {
        return std::nullopt;
    }
    const std::size_t end = text.find_first_of("\r\n", position);
    if (end == std::string_view::npos) {
        std::string line(text.substr(position));
        position = text.size();
        return line;
    }
    std::string line(text.substr(position, end - position));
    position = end + 1;
    if (position < text.size() && (text[position] == '\r' || text[position] == '\n') && text[position] != text[end]) {
        ++position;
    }
    return line;
}

RmapCommandPtr CR_GetCommandProperties(std::string_view text, std::size_t &position, RmapCommandType type,
                                       std::int32_t number, int *output_base)
{
    RmapCommandPtr command = CR_AllocateCommand(type);
    if (!command) {
        return nullptr;
    }
    command->number = number;
    std::optional<std::string> line = ReadLine(text, position);
    if (!line) {
        return command;
    }
    if (line->find(':') == std::string::npos) {
        // The rest of the type line holds no property; text there (a colon
        // forgotten, say) would otherwise vanish while inherited values are used.
        if (!OnlyWhiteSpace(*line) &&
            !ReportListDoubt(number, "", "\"" + Trimmed(*line) + "\" after the command type is not a property",
                             "it is ignored")) {
            return nullptr;
        }
        line = ReadLine(text, position);
        if (!line) {
            return command;
        }
    }
    if (line->empty()) {
        return command;
    }
    std::size_t scan = 0;
    for (;;) {
        const std::size_t colon = line->find(':', scan);
        if (colon == std::string::npos) {
            if (OnlyWhiteSpace(std::string_view(*line).substr(scan))) {
                return command;
            }
            return nullptr;
        }
        const std::string name = line->substr(scan, colon - scan);
        std::string value;
        std::size_t value_start = colon + 1;
        std::size_t semicolon = line->find(';', value_start);
        while (semicolon == std::string::npos) {
            value.append(*line, value_start);
            line = ReadLine(text, position);
            if (!line) {
                return nullptr;
            }
            value_start = 0;
            semicolon = line->find(';');
            if (!ReportJoinedLines(number, name, value, *line)) {
                return nullptr;
            }
        }
        value.append(*line, value_start, semicolon - value_start);
        scan = semicolon + 1;
        while (scan < line->size() && IsBlank((*line)[scan])) {
            ++scan;
        }
        bool text_ended = false;
        if (scan >= line->size()) {
            line = ReadLine(text, position);
            scan = 0;
            text_ended = !line;
        }
        const bool applied = type == RMAP_COMMAND_BASE ? CR_SetFieldValueBase(name, value, output_base)
                                                        : CR_SetFieldValue(*command, name, value);
        if (!applied) {
            return nullptr;
        }
        if (text_ended || line->empty()) {
            return command;
        }
    }
}

RmapCommandPtr CR_ProcessReadCommand(std::string_view text, std::size_t &position, std::int32_t number,
                                     const RmapCommand *previous)
{
    return ProcessCommand(kRead, text, position, number, previous);
}

RmapCommandPtr CR_ProcessWriteCommand(std::string_view text, std::size_t &position, std::int32_t number,
                                      const RmapCommand *previous)
{
    return ProcessCommand(kWrite, text, position, number, previous);
}

RmapCommandPtr CR_ProcessReadModifyWriteCommand(std::string_view text, std::size_t &position,
                                                std::int32_t number, const RmapCommand *previous)
{
    return ProcessCommand(kReadModifyWrite, text, position, number, previous);
}

RmapCommandPtr CR_ProcessLoopCommand(std::string_view text, std::size_t &position, std::int32_t number,
                                     const RmapCommand *previous)
{
    return ProcessCommand(kLoop, text, position, number, previous);
}

bool CR_ProcessBaseCommand(std::string_view text, std::size_t &position, int *output_base, std::int32_t number)
{
    if (!CR_GetCommandProperties(text, position, RMAP_COMMAND_BASE, number, output_base)) {
        std::printf("Error reading base command %d.\n", number);
        return false;
    }
    return true;
}

RmapCommandPtr CR_ProcessCommands(std::string_view text, int *output_base, bool *refused)
{
    RmapCommandPtr chain;
    RmapCommand *last = nullptr;
    std::int32_t counter = 0;
    std::size_t position = 0;
    if (refused != nullptr) {
        *refused = false;
    }
    auto fail = [refused]() {
        if (refused != nullptr) {
            *refused = true;
        }
        return RmapCommandPtr();
    };
    for (;;) {
        while (position < text.size() && IsBlank(text[position])) {
            ++position;
        }
        if (position >= text.size()) {
            std::puts("Command list file successfully processed.");
            return chain;
        }
        if (const std::size_t label = LabelLength(text, position); label > 0) {
            position += label;
            while (position < text.size() && IsBlank(text[position])) {
                ++position;
            }
        } else if (!HasTypeAndSemicolon(text, position)) {
            std::puts("Error, unexpected characters where command type expected.");
            return fail();
        }
        if (!HasTypeAndSemicolon(text, position)) {
            std::puts("Error, command of unexpected length encountered.");
            return fail();
        }
        const char type = text[position];
        position += 2;
        RmapCommandPtr command;
        switch (type) {
        case 'r': case 'R':
            command = CR_ProcessReadCommand(text, position, counter, last);
            break;
        case 'w': case 'W':
            command = CR_ProcessWriteCommand(text, position, counter, last);
            break;
        case 'm': case 'M':
            command = CR_ProcessReadModifyWriteCommand(text, position, counter, last);
            break;
        case 'l': case 'L':
            command = CR_ProcessLoopCommand(text, position, counter, last);
            break;
        case 'b': case 'B':
            if (!CR_ProcessBaseCommand(text, position, output_base, counter)) {
                std::puts("Error reading base command.");
                return fail();
            }
            ++counter;
            continue;
        default:
            std::puts("Error, unexpected command type encountered.");
            return fail();
        }
        ++counter;
        if (!command) {
            return fail();
        }
        RmapCommand *added = command.get();
        if (last == nullptr) {
            chain = std::move(command);
        } else {
            last->next = std::move(command);
        }
        last = added;
    }
}
