// Command-list preprocessing (comments, INCLUDELIST, ALIAS) with included files.
//
// Input: up to eight files separated by the line "===", written as a, b, ...
// h into a scratch directory; a is read as the list, so "#INCLUDELIST b;"
// includes the second.  A '/' outside a comment marker is refused, so that no
// other file can be named.  Texts are limited to kTextLimit characters, so
// that aliases using each other cannot make one input cost gigabytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cmdlist/command_text.h"
#include "cmdlist/read_commands.h"
#include "fuzz/support.h"

namespace {

constexpr std::string_view kFileSeparator = "\n===\n";
constexpr std::size_t kMostFiles = 8;
constexpr std::size_t kTextLimit = 1u << 16;
const char *const kNames[kMostFiles] = {"a", "b", "c", "d", "e", "f", "g", "h"};

using fuzz_support::Scratch;

bool HasLoneSlash(std::string_view input)
{
    for (std::size_t i = 0; i < input.size(); ++i) {
        if (input[i] == '/' && !(i + 1 < input.size() && input[i + 1] == '*') && !(i > 0 && input[i - 1] == '*')) {
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Scratch();
    command_text_limit = kTextLimit;
    fuzz_support::SilenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char *>(data), size);
    if (HasLoneSlash(input)) {
        return -1;
    }
    std::vector<std::string_view> files;
    for (std::size_t at; files.size() + 1 < kMostFiles && (at = input.find(kFileSeparator)) != input.npos;) {
        files.push_back(input.substr(0, at));
        input.remove_prefix(at + kFileSeparator.size());
    }
    files.push_back(input);
    // Files are written only where they change: the file system would
    // otherwise take most of the time.
    static std::optional<std::string> written[kMostFiles];
    for (std::size_t i = 0; i < kMostFiles; ++i) {
        if (i < files.size() && written[i] != files[i]) {
            written[i] = std::string(files[i]);
            Scratch().Write(kNames[i], *written[i]);
        } else if (i >= files.size() && written[i]) {
            FUZZ_CHECK(std::remove((Scratch() / kNames[i]).c_str()) == 0);
            written[i].reset();
        }
    }

    const fuzz_support::InsideDirectory inside(Scratch());
    std::FILE *list = std::fopen("a", "r");
    FUZZ_CHECK(list != nullptr);
    IncludeChain chain;
    const std::optional<std::string> text = ReadCommands(list, &chain, 0);
    std::fclose(list);
    FUZZ_CHECK(!text || text->size() <= kTextLimit);
    return 0;
}
