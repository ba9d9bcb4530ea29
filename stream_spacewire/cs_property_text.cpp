#include "stream_spacewire/cs_property_text.h"

#include <cctype>

#include "common/white_space.h"
#include "common/data_value.h"

namespace {

bool IsQuote(char c) { return c == '"' || c == '\'' || c == '`'; }

} // namespace

bool IsPropertyAt(std::string_view text, std::size_t cursor, char letter)
{
    return cursor + 1 < text.size() &&
           std::tolower(static_cast<unsigned char>(text[cursor])) == std::tolower(static_cast<unsigned char>(letter)) &&
           text[cursor + 1] == ':';
}

bool EndsValue(std::string_view text, std::size_t cursor)
{
    return cursor >= text.size() || text[cursor] == ';' || IsWhiteSpace(static_cast<unsigned char>(text[cursor]));
}

std::optional<SingleValue> ReadSingleValue(std::string_view text, std::size_t &cursor)
{
    const std::size_t start = cursor;
    while (!EndsValue(text, cursor)) {
        ++cursor;
    }
    const std::string_view value = text.substr(start, cursor - start);
    if (value.size() > kLongestPropertyText) {
        return std::nullopt;
    }
    const std::optional<DataValue> converted = CreateDataFromString(value, true);
    if (!converted) {
        return std::nullopt;
    }
    return SingleValue{static_cast<std::int32_t>(converted->first_value), FirstValueNotes(*converted, 31, 32)};
}

std::optional<std::string_view> ReadFileName(std::string_view text, std::size_t &cursor)
{
    if (cursor < text.size() && IsQuote(text[cursor])) {
        const std::size_t start = cursor + 1;
        std::size_t end = start;
        while (end < text.size() && !IsQuote(text[end])) {
            ++end;
        }
        if (end >= text.size() || end == start || end - start > kLongestPropertyText) {
            return std::nullopt;
        }
        cursor = end + 1;
        return text.substr(start, end - start);
    }
    const std::size_t start = cursor;
    while (!EndsValue(text, cursor)) {
        ++cursor;
    }
    if (cursor == start || cursor - start > kLongestPropertyText) {
        return std::nullopt;
    }
    return text.substr(start, cursor - start);
}
