// DisplayRMAPResponse on arbitrary bytes.
//
// Input: one control byte, then the bytes of a received packet.
//   bits 1..0  default_base: 2, 8, 10, 16
//   bit 2      name a data file in the scratch directory
// The data file never holds more than the packet.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "app/settings.h"
#include "common/display.h"
#include "fuzz/support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static constexpr int kBases[4] = {2, 8, 10, 16};
    static std::FILE *const sink = std::fopen("/dev/null", "w");
    if (size == 0 || size - 1 > 0x7FFFFFFF) {
        return -1;
    }
    default_base = kBases[data[0] & 3u];
    const std::string data_file = (fuzz_support::Scratch() / "data.bin").string();
    std::remove(data_file.c_str());
    const int length = static_cast<int>(size - 1);
    DisplayRMAPResponse(length == 0 ? nullptr : data + 1, length, sink, (data[0] & 4u) != 0 ? data_file.c_str() : nullptr);
    default_base = 16;
    std::error_code missing;
    const std::uintmax_t kept = std::filesystem::file_size(data_file, missing);
    FUZZ_CHECK(missing || kept <= size - 1);
    return 0;
}
