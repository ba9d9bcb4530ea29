// The data-value syntax shared by every prompt and command list, and the
// boolean words.  Nothing here prints; failure is the caller's to report.
#ifndef ZARK_COMMON_DATA_VALUE_H
#define ZARK_COMMON_DATA_VALUE_H

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

struct DataValue {
    std::vector<std::uint8_t> bytes; // one byte per number (its low 8 bits), text and file bytes as they are
    std::uint32_t first_value = 0;   // the first item's value in full (a quoted or file byte: that byte)
};

// Converts text in the data-value syntax, reading numbers without a prefix in
// default_base.  With single_value set, exactly one item that produces data is
// allowed.  No result means the text is not valid (including a file reference
// that cannot be read).
std::optional<DataValue> CreateDataFromString(std::string_view text, bool single_value);

// Accepts any non-empty leading part of "false", "no", "true" or "yes" (case
// ignored, leading white space skipped, nothing after it).  On success sets
// flag to 0 or 1 and returns true; otherwise leaves flag untouched.
bool CreateBooleanFromString(std::string_view text, unsigned char &flag);

#endif
