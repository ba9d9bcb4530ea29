// The SpaceWire command-list parser and loop preparation, on any text.
//
// Input: one control byte, then the preprocessed command-list text
// (fuzz/support.h, TextInput).  Messages go to /dev/null.  A send holds all
// its packets at once, so "n:" values that could be above kMostPackets are
// refused: one such input would cost gigabytes, the program's right but no
// use to a fuzzer.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "app/settings.h"
#include "common/data_value.h"
#include "fuzz/support.h"
#include "stream_spacewire/cs_loop_expansion.h"
#include "stream_spacewire/cs_parser.h"

namespace {

constexpr std::uint32_t kMostPackets = 4096;

// Read in base 16, the largest, a value of at most 8 characters is at least
// its value in any other base.
bool MayAskForManyPackets(std::string_view text)
{
    const int base = default_base;
    default_base = 16;
    bool many = false;
    for (std::size_t i = 0; i + 1 < text.size() && !many; ++i) {
        if ((text[i] == 'n' || text[i] == 'N') && text[i + 1] == ':') {
            const std::string_view token = text.substr(i + 2, text.find_first_of("; \t\r\n", i + 2) - (i + 2));
            const std::optional<DataValue> value = token.size() > 8 ? std::nullopt : CreateDataFromString(token, true);
            many = token.size() > 8 || (value && value->first_value > kMostPackets);
        }
    }
    default_base = base;
    return many;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const fuzz_support::TextInput input(data, size);
    if (!input.inside) {
        return input.refusal;
    }
    if (MayAskForManyPackets(input.text)) {
        return -1;
    }
    SpaceWireCommandList list;
    NumberBase output_base = default_base;
    if (CS_ProcessCommands(input.text, list, output_base) && CS_DealWithLoopCommands(list)) {
        fuzz_support::WalkInRunOrder(list.get());
    }
    return 0;
}
