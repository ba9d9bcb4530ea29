#include "fuzz/support.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/settings.h"

namespace fuzz_support {

void CheckFailed(const char *condition, const char *file, int line)
{
    std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, condition);
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
        directory.Write("abc", "\x01\x02\x03");
        directory.Write("a b", "xy");
        directory.Write("a'b", "q");
        directory.Write("1", "q");
        directory.Write("empty", "");
        directory.Write("high", "\xff\x80");
        return mkdir((directory / "dir").c_str(), 0700) == 0 && mkfifo((directory / "fifo").c_str(), 0600) == 0;
    }();
    FUZZ_CHECK(filled);
    return directory;
}

InsideDirectory::InsideDirectory(const ScratchDir &directory) : previous_(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
    FUZZ_CHECK(previous_ >= 0 && chdir(directory.path().c_str()) == 0);
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
    control = data[0];
    text = std::string_view(reinterpret_cast<const char *>(data + 1), size - 1);
    if (text.find('/') != std::string_view::npos) {
        refusal = -1;
        return;
    }
    [[maybe_unused]] static const bool silenced = (SilenceStandardOutput(), true);
    default_base = kBases[control & 3u];
    inside.emplace(DataFiles());
}

TextInput::~TextInput() { default_base = 16; }

void SilenceStandardOutput() { FUZZ_CHECK(std::freopen("/dev/null", "w", stdout) != nullptr); }

} // namespace fuzz_support
