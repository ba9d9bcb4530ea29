// Helpers shared by the fuzz targets: a check that stops the run with a
// message, a private scratch directory, and an RMAP CRC of our own so that
// the targets can judge packets without trusting the code they exercise.
#ifndef ZARK_FUZZ_FUZZ_SUPPORT_H
#define ZARK_FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// A property every input must keep.  A broken one aborts, which libFuzzer
// reports as a crash and saves the input.
#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : fuzz_support::CheckFailed(#condition, __FILE__, __LINE__))

namespace fuzz_support {

[[noreturn]] void CheckFailed(const char *condition, const char *file, int line);

// A directory of its own under the temporary directory, removed with its
// contents when the process ends normally.
class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory &) = delete;
    ScratchDirectory &operator=(const ScratchDirectory &) = delete;

    const std::string &path() const { return path_; }
    std::string PathOf(const std::string &name) const { return path_ + "/" + name; }
    void Write(const std::string &name, std::span<const std::uint8_t> bytes) const;
    void MakeDirectory(const std::string &name) const;
    void MakeFifo(const std::string &name) const;

private:
    std::string path_;
};

// Makes the scratch directory the current directory for as long as it
// lives, so that file names in an input resolve inside it; the previous
// directory is restored afterwards, which libFuzzer needs for writing its
// corpus and crash files by relative names.
class InsideDirectory {
public:
    explicit InsideDirectory(const ScratchDirectory &directory);
    ~InsideDirectory();
    InsideDirectory(const InsideDirectory &) = delete;
    InsideDirectory &operator=(const InsideDirectory &) = delete;

private:
    int previous_;
};

// Every byte of a file, or nothing when it does not exist.
std::optional<std::vector<std::uint8_t>> ReadFile(const std::string &path);

// CRC-8 of RMAP: polynomial x^8 + x^2 + x + 1, initial 0, bits least
// significant first, computed bit by bit.
std::uint8_t RmapCrc(std::span<const std::uint8_t> bytes);

} // namespace fuzz_support

#endif
