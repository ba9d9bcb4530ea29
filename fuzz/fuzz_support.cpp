#include "fuzz/fuzz_support.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fuzz_support {

void CheckFailed(const char *condition, const char *file, int line)
{
    // The harness's own diagnostics go where libFuzzer writes its report.
    std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, condition);
    std::fflush(stderr);
    std::abort();
}

ScratchDirectory::ScratchDirectory()
{
    // Memory-backed where the machine has it: some targets write files on
    // every run, and a disk would set their pace.
    const char *base = std::getenv("TMPDIR");
    std::string directory = base != nullptr && *base != '\0' ? base : "/tmp";
    if ((base == nullptr || *base == '\0') && access("/dev/shm", W_OK) == 0) {
        directory = "/dev/shm";
    }
    std::string pattern = directory + "/zark_fuzz_XXXXXX";
    std::vector<char> text(pattern.begin(), pattern.end());
    text.push_back('\0');
    FUZZ_CHECK(mkdtemp(text.data()) != nullptr);
    path_ = text.data();
}

ScratchDirectory::~ScratchDirectory()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void ScratchDirectory::Write(const std::string &name, std::span<const std::uint8_t> bytes) const
{
    std::FILE *file = std::fopen(PathOf(name).c_str(), "wb");
    FUZZ_CHECK(file != nullptr);
    FUZZ_CHECK(bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
    FUZZ_CHECK(std::fclose(file) == 0);
}

void ScratchDirectory::MakeDirectory(const std::string &name) const
{
    FUZZ_CHECK(mkdir(PathOf(name).c_str(), 0700) == 0);
}

void ScratchDirectory::MakeFifo(const std::string &name) const
{
    FUZZ_CHECK(mkfifo(PathOf(name).c_str(), 0600) == 0);
}

InsideDirectory::InsideDirectory(const ScratchDirectory &directory)
    : previous_(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
    FUZZ_CHECK(previous_ >= 0);
    FUZZ_CHECK(chdir(directory.path().c_str()) == 0);
}

InsideDirectory::~InsideDirectory()
{
    FUZZ_CHECK(fchdir(previous_) == 0);
    close(previous_);
}

std::optional<std::vector<std::uint8_t>> ReadFile(const std::string &path)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        FUZZ_CHECK(errno == ENOENT);
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    FUZZ_CHECK(std::ferror(file) == 0);
    std::fclose(file);
    return bytes;
}

std::uint8_t RmapCrc(std::span<const std::uint8_t> bytes)
{
    // Reflected form of 0x07: shift right, fold in 0xE0.
    std::uint8_t crc = 0;
    for (const std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<std::uint8_t>((crc & 1u) != 0 ? (crc >> 1) ^ 0xE0u : crc >> 1);
        }
    }
    return crc;
}

} // namespace fuzz_support
