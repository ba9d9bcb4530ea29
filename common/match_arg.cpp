#include "common/match_arg.h"

#include <cstring>
#include <strings.h>

#include "common/white_space.h"

int MatchArg(const char *text, const char *keyword, char separator, int minimum)
{
    while (*text != '\0' && IsWhiteSpace(static_cast<unsigned char>(*text))) {
        ++text;
    }
    // The minimum covers the whole rest (name, separator and value), so a
    // one-character argument never matches an option.
    const std::size_t rest_length = std::strlen(text);
    const std::size_t keyword_length = std::strlen(keyword);
    if (minimum < 0) {
        minimum = 0;
    }
    if (static_cast<std::size_t>(minimum) > rest_length || keyword_length < static_cast<std::size_t>(minimum)) {
        return -1;
    }
    const char *separator_position = separator == '\0' ? text + rest_length : std::strchr(text, separator);
    if (separator_position == nullptr) {
        return -1;
    }
    const std::size_t name_length = static_cast<std::size_t>(separator_position - text);
    if (name_length > keyword_length + 1) {
        return -1;
    }
    if (strncasecmp(text, keyword, name_length) != 0) {
        return -1;
    }
    return static_cast<int>(name_length + 1);
}
