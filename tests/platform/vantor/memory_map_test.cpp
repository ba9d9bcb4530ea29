// The sizes the memory map refuses: a map file may hold 1 MiB, the files it
// loads 16 MiB together, files too large to keep as golden data.  Every rule,
// mistake and first content is run end to end by the golden cases in
// tests/e2e/cases/memory_map/ and tests/e2e/cases/far_end/.
#include <gtest/gtest.h>

#include <filesystem>

#include "memory_map.h"
#include "support/scratch_dir.h"

namespace {

TEST(MemoryMap, SizesAtTheirLimits)
{
    ScratchDir scratch;
    const std::string line = "region 00:00000000 1000001 read load=big.bin\n";
    const std::string padded = line + "#" + std::string((1u << 20) - line.size() - 2, 'x') + "\n";
    std::filesystem::create_directory(scratch / "folder");
    const struct {
        std::string map;
        std::uintmax_t big; // bytes of big.bin
        std::string problem;
    } kRows[] = {
        {padded, 16u << 20, ""},
        {padded + " ", 16u << 20, "longer than 1 MiB"},
        {line, (16u << 20) + 1, "line 1: the loaded files hold more than 16 MiB"},
        {line + "region 02:00000000 1 read load=big.bin\n", 16u << 20,
         "line 2: the loaded files hold more than 16 MiB"},
        {"region 00:00000000 1 read load=folder\n", 0, "line 1: cannot read \"folder\""},
    };
    for (const auto &row : kRows) {
        scratch.Write("big.bin", "");
        std::filesystem::resize_file(scratch / "big.bin", row.big);
        scratch.Write("map.txt", row.map);
        const auto parsed = vantor_sim::ReadMemoryMap(scratch / "map.txt");
        EXPECT_EQ(std::pair(parsed.problem, parsed.map.has_value()), std::pair(row.problem, row.problem.empty()))
            << row.map.substr(0, 60);
    }
    EXPECT_EQ(vantor_sim::ReadMemoryMap(scratch / "folder").problem, "cannot be read");
}

} // namespace
