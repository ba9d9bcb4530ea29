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

#include "app/settings.h"
#include "common/data_value.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr int kBases[4] = {2, 8, 10, 16};
constexpr std::size_t kLargestFile = 3;

void FillFiles(const fuzz_support::ScratchDirectory &directory)
{
    const std::uint8_t abc[] = {0x01, 0x02, 0x03};
    const std::uint8_t xy[] = {'x', 'y'};
    const std::uint8_t q[] = {'q'};
    const std::uint8_t high[] = {0xFF, 0x80};
    directory.Write("abc", abc);
    directory.Write("a b", xy);
    directory.Write("a'b", q);
    directory.Write("empty", {});
    directory.Write("high", high);
    directory.Write("1", q);
    directory.MakeDirectory("dir");
    directory.MakeFifo("fifo");
}

const fuzz_support::ScratchDirectory &Files()
{
    static const fuzz_support::ScratchDirectory directory;
    static const bool filled = (FillFiles(directory), true);
    static_cast<void>(filled);
    return directory;
}

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
    Files();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char *>(data + 1), size - 1);
    if (text.find('/') != std::string_view::npos) {
        return -1;
    }
    default_base = kBases[data[0] & 3u];
    const bool single_value = (data[0] & 4u) != 0;

    const fuzz_support::InsideDirectory inside(Files());
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
        FUZZ_CHECK(value->bytes.size() <= text.size() + references * kLargestFile);
    }

    const std::string indented = " \t" + std::string(text);
    FUZZ_CHECK(SameValue(CreateDataFromString(indented, single_value), value));

    if (single_value && value) {
        FUZZ_CHECK(SameValue(CreateDataFromString(text, false), value));
    }
    default_base = 16;
    return 0;
}
