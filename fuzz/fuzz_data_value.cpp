// CreateDataFromString on any text, in every base and both modes.
//
// Input: one control byte, then the text (fuzz/support.h, TextInput); bit 2
// of the control byte asks for a single value.  Names after '-' resolve among
// the small files of DataFiles(), so a value holds no more bytes than the
// text has characters plus the largest file for each '-'.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "common/data_value.h"
#include "fuzz/support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const fuzz_support::TextInput input(data, size);
    if (!input.inside) {
        return input.refusal;
    }
    const std::optional<DataValue> value = CreateDataFromString(input.text, (input.control & 4u) != 0);
    const auto references = static_cast<std::size_t>(std::count(input.text.begin(), input.text.end(), '-'));
    FUZZ_CHECK(!value || value->bytes.size() <= input.text.size() + references * fuzz_support::kLargestDataFile);
    return 0;
}
