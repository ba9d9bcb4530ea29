// What the fuzz targets share: a check that stops the run, scratch
// directories, the start of the targets that read text, and a bounded walk of
// a prepared command chain.
#ifndef ZARK_FUZZ_SUPPORT_H
#define ZARK_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/command_chain.h"
#include "tests/support/scratch_dir.h"

// A broken property aborts, which libFuzzer reports as a crash and keeps the input.
#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : fuzz_support::CheckFailed(#condition, __FILE__, __LINE__))

namespace fuzz_support {

[[noreturn]] void CheckFailed(const char *condition, const char *file, int line);

// The run's scratch directory, empty on first use.
const ScratchDir &Scratch();

// The files data values may name: "abc" (01 02 03), "a b", "a'b", "1",
// "empty", "high" (ff 80), a directory "dir" and a FIFO "fifo".
inline constexpr std::size_t kLargestDataFile = 3;
const ScratchDir &DataFiles();

// The directory is the current one while this lives; the previous one comes
// back, since libFuzzer writes its corpus and crash files by relative names.
class InsideDirectory {
public:
    explicit InsideDirectory(const ScratchDir &directory);
    ~InsideDirectory();
    InsideDirectory(const InsideDirectory &) = delete;

private:
    int previous_;
};

// Input of the text targets: one control byte, whose bits 1..0 choose
// default_base (2, 8, 10, 16), then the text.  A text holding '/' is refused,
// so that the names in it reach DataFiles() only, the current directory
// meanwhile (inside).  default_base goes back to 16 afterwards; standard
// output goes to /dev/null.
struct TextInput {
    TextInput(const std::uint8_t *data, std::size_t size);
    ~TextInput();
    TextInput(const TextInput &) = delete;

    std::uint8_t control = 0;
    std::string_view text;
    int refusal = 0; // what to return without inside: -1 (kept out of the corpus) for a refused text
    std::optional<InsideDirectory> inside;
};

void SilenceStandardOutput();

// Walks a prepared chain in run order, so that a body link gone wrong shows
// under AddressSanitizer; nested loops can make that endless, hence the bound.
template <typename Record>
void WalkInRunOrder(Record *chain)
{
    struct Enough {};
    std::size_t visits = 0;
    try {
        VisitInRunOrder(chain, [&](const Record &) {
            if (++visits > 100000) {
                throw Enough{};
            }
        });
    } catch (const Enough &) {
    }
}

} // namespace fuzz_support

#endif
