// Helpers shared by the fuzz targets: a check that stops the run with a
// message, scratch directories, the start every text-reading target shares,
// and the reference RMAP CRC the tests use too, so that the targets can judge
// packets without trusting the code they exercise.
#ifndef ZARK_FUZZ_FUZZ_SUPPORT_H
#define ZARK_FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/rmap_crc.h"
#include "tests/support/scratch_dir.h"

// A property every input must keep.  A broken one aborts, which libFuzzer
// reports as a crash and saves the input.
#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : fuzz_support::CheckFailed(#condition, __FILE__, __LINE__))

namespace fuzz_support {

[[noreturn]] void CheckFailed(const char *condition, const char *file, int line);

using reference::RmapCrc;

// The run's scratch directory, made empty on first use.
const ScratchDir &Scratch();

// A directory of the few small files data values may name: "abc" (01 02 03),
// "a b" ("xy"), "a'b" and "1" ("q"), "empty", "high" (ff 80), a directory
// "dir" and a FIFO "fifo".
inline constexpr std::size_t kLargestDataFile = 3;
const ScratchDir &DataFiles();

// Makes a directory the current one for as long as it lives, so that file
// names in an input resolve inside it; the previous directory is restored
// afterwards, which libFuzzer needs for writing its corpus and crash files by
// relative names.
class InsideDirectory {
public:
    explicit InsideDirectory(const ScratchDir &directory);
    ~InsideDirectory();
    InsideDirectory(const InsideDirectory &) = delete;
    InsideDirectory &operator=(const InsideDirectory &) = delete;

private:
    int previous_;
};

// The start of the targets that read text: one control byte, whose bits 1..0
// choose default_base (0 -> 2, 1 -> 8, 2 -> 10, 3 -> 16), then the text.  A
// text holding '/' is refused, so that the names in it reach DataFiles()
// only, the current directory while the input is used.  default_base goes
// back to 16 afterwards.
class TextInput {
public:
    TextInput(const std::uint8_t *data, std::size_t size);
    ~TextInput();
    TextInput(const TextInput &) = delete;
    TextInput &operator=(const TextInput &) = delete;

    bool usable() const { return inside_.has_value(); }
    // What the target returns for an input it does not use: 0 for an empty
    // one, -1 (kept out of the corpus) for a refused one.
    int refusal() const { return refusal_; }
    std::uint8_t control() const { return control_; }
    std::string_view text() const { return text_; }

private:
    std::uint8_t control_ = 0;
    std::string_view text_;
    int refusal_ = 0;
    std::optional<InsideDirectory> inside_;
};

// Messages of the code under test go nowhere.
void SilenceStandardOutput();

// Every byte of a file, or nothing when it does not exist.
std::optional<std::vector<std::uint8_t>> ReadFile(const std::string &path);

} // namespace fuzz_support

#endif
