// CreateDataFromString on any text, in every base and in both modes.
//
// Input: one control byte, then the text.
//   bits 1..0  default_base: 0 -> 2, 1 -> 8, 2 -> 10, 3 -> 16
//   bit 2      single-value mode
// File references resolve inside a scratch directory holding a few small
// files, a directory and a FIFO.  Texts holding '/' are refused so that no
// input can name a file elsewhere on the machine.
//
// Beyond surviving, every input must keep these properties:
// - a NUL anywhere makes the text invalid;
// - the first value's low 8 bits are the first byte (0 for no bytes);
// - white space in front of the text changes nothing;
// - a text valid as a single value is valid as a list, with the same result;
// - no more bytes than characters, plus the largest file per '-'.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/data_value.h"
#include "fuzz/fuzz_support.h"

namespace {

bool SameValue(const std::optional<DataValue> &a, const std::optional<DataValue> &b)
{
    if (a.has_value() != b.has_value()) {
        return false;
    }
    return !a || (a->bytes == b->bytes && a->first_value == b->first_value);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_support::DataFiles();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const fuzz_support::TextInput input(data, size);
    if (!input.usable()) {
        return input.refusal();
    }
    const std::string_view text = input.text();
    const bool single_value = (input.control() & 4u) != 0;
    const std::optional<DataValue> value = CreateDataFromString(text, single_value);

    if (text.find('\0') != std::string_view::npos) {
        FUZZ_CHECK(!value);
    }
    if (value) {
        if (value->bytes.empty()) {
            FUZZ_CHECK(value->first_value == 0);
        } else {
            FUZZ_CHECK((value->first_value & 0xFFu) == value->bytes.front());
        }
        const auto references = static_cast<std::size_t>(std::count(text.begin(), text.end(), '-'));
        FUZZ_CHECK(value->bytes.size() <= text.size() + references * fuzz_support::kLargestDataFile);
    }

    const std::string indented = " \t" + std::string(text);
    FUZZ_CHECK(SameValue(CreateDataFromString(indented, single_value), value));

    if (single_value && value) {
        FUZZ_CHECK(SameValue(CreateDataFromString(text, false), value));
    }
    return 0;
}
