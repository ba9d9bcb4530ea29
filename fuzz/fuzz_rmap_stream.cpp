// The RMAP command-list parser and loop preparation, on any text.
//
// Input: one control byte, then the preprocessed command-list text
// (fuzz/support.h, TextInput).  Messages go to /dev/null.
#include <cstddef>
#include <cstdint>

#include "fuzz/support.h"
#include "stream_rmap/rmap_loops.h"
#include "stream_rmap/rmap_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const fuzz_support::TextInput input(data, size);
    if (!input.inside) {
        return input.refusal;
    }
    int output_base = 0;
    const RmapCommandPtr chain = CR_ProcessCommands(input.text, &output_base);
    if (chain && CR_DealWithLoopCommands(chain.get())) {
        fuzz_support::WalkInRunOrder(chain.get());
    }
    return 0;
}
