#include "app/mode_selection.h"

#include <cstring>
#include <string>
#include <strings.h>

#include "app/end_of_input.h"
#include "common/console_input.h"
#include "common/file_open.h"

namespace {

struct ModeName {
    const char *name;
    OperatingMode mode;
};

constexpr ModeName kModeNames[] = {
    {"interactive_spacewire", MODE_INTERACTIVE_SPACEWIRE},
    {"iscr", MODE_INTERACTIVE_SPACEWIRE},
    {"interactive_rmap", MODE_INTERACTIVE_RMAP},
    {"ircr", MODE_INTERACTIVE_RMAP},
    {"spacewire_command", MODE_SPACEWIRE_STREAM},
    {"scs", MODE_SPACEWIRE_STREAM},
    {"rmap_command", MODE_RMAP_STREAM},
    {"rcs", MODE_RMAP_STREAM},
};

// Asks until the answer is one of the letters in valid; a word of any other
// length is no answer.
char AskLetter(const char *question, const char *valid)
{
    for (;;) {
        std::fputs(question, stdout);
        std::fflush(stdout);
        const auto word = ReadWord();
        if (!word) {
            EndOfInputExit(true);
        }
        if (word->size() == 1 && std::strchr(valid, (*word)[0]) != nullptr) {
            return (*word)[0];
        }
    }
}

// "" and " " mean that the user wants no file.
std::optional<std::string> UnlessBlank(const std::string &path)
{
    if (path.empty() || path == " ") {
        return std::nullopt;
    }
    return path;
}

} // namespace

OperatingMode GetMode(const char *text)
{
    if (text != nullptr) {
        for (const ModeName &entry : kModeNames) {
            if (strcasecmp(text, entry.name) == 0) {
                return entry.mode;
            }
        }
        std::puts("Invalid mode specified on the command line");
    }
    const char interaction =
        AskLetter("Please select whether an interactive (i) or stream (s) mode is to be used: ", "iIsS");
    const char kind = AskLetter("Please select whether SpaceWire (s) or RMAP (r) commands are to be sent: ", "sSrR");
    const int flags = (interaction == 'i' || interaction == 'I') ? MODE_FLAG_INTERACTIVE : MODE_FLAG_STREAM;
    return flags | ((kind == 's' || kind == 'S') ? MODE_FLAG_SPACEWIRE : MODE_FLAG_RMAP);
}

std::FILE *GetInputCommandFile(const char *path)
{
    if (path != nullptr) {
        if (std::FILE *file = OpenForReading(path)) {
            return file;
        }
        std::puts("The input file specified at the command line does not exist");
    }
    for (;;) {
        std::puts("Please enter the path to a file containing the commands to be executed:");
        std::fflush(stdout);
        const auto line = ReadFromKeyboard();
        if (!line) {
            EndOfInputExit(false);
        }
        if (std::FILE *file = OpenForReading(line->c_str())) {
            return file;
        }
        std::puts("The file specified does not exist");
    }
}

std::optional<std::string> GetOutputCommandFile(const char *path)
{
    if (path != nullptr) {
        return UnlessBlank(path);
    }
    std::puts("Please enter the path to a file to store the output (or space to ignore output)");
    std::fflush(stdout);
    const auto line = ReadFromKeyboard();
    if (!line) {
        return std::nullopt;
    }
    return UnlessBlank(*line);
}

std::optional<std::string> GetDumpCommandOutputFile(const char *path)
{
    if (path == nullptr) {
        return std::nullopt;
    }
    return UnlessBlank(path);
}
