#include "fuzz/fuzz_support.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <span>
#include <sys/stat.h>
#include <unistd.h>

#include "app/settings.h"

namespace fuzz_support {

void CheckFailed(const char *condition, const char *file, int line)
{
    // The harness's own diagnostics go where libFuzzer writes its report.
    std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, condition);
    std::fflush(stderr);
    std::abort();
}

const ScratchDir &Scratch()
{
    static const ScratchDir directory;
    return directory;
}

const ScratchDir &DataFiles()
{
    static const ScratchDir directory;
    static const bool filled = [] {
        const auto bytes = [](std::initializer_list<std::uint8_t> list) { return std::vector<std::uint8_t>(list); };
        directory.Write("abc", bytes({0x01, 0x02, 0x03}));
        directory.Write("a b", "xy");
        directory.Write("a'b", "q");
        directory.Write("empty", "");
        directory.Write("high", bytes({0xFF, 0x80}));
        directory.Write("1", "q");
        FUZZ_CHECK(mkdir((directory / "dir").c_str(), 0700) == 0);
        FUZZ_CHECK(mkfifo((directory / "fifo").c_str(), 0600) == 0);
        return true;
    }();
    static_cast<void>(filled);
    return directory;
}

InsideDirectory::InsideDirectory(const ScratchDir &directory)
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

TextInput::TextInput(const std::uint8_t *data, std::size_t size)
{
    static constexpr int kBases[4] = {2, 8, 10, 16};
    if (size == 0) {
        return;
    }
    control_ = data[0];
    text_ = std::string_view(reinterpret_cast<const char *>(data + 1), size - 1);
    if (text_.find('/') != std::string_view::npos) {
        refusal_ = -1;
        return;
    }
    default_base = kBases[control_ & 3u];
    inside_.emplace(DataFiles());
}

TextInput::~TextInput() { default_base = 16; }

void SilenceStandardOutput() { FUZZ_CHECK(std::freopen("/dev/null", "w", stdout) != nullptr); }

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

} // namespace fuzz_support
