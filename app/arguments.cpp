#include "app/arguments.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/help.h"
#include "app/settings.h"
#include "common/match_arg.h"
#include "common/run_outcome.h"

std::int32_t ReadInt(const char *text)
{
    const long long value = std::strtoll(text, nullptr, 10);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<unsigned long long>(value)));
}

double ReadDouble(const char *text) { return std::strtod(text, nullptr); }

namespace {

// A value is wholly a number when strtod or strtoll reads it to its end
// (blanks after it aside).
bool WhollyRead(const char *text, const char *end)
{
    if (end == text) {
        return false;
    }
    while (*end == ' ' || *end == '\t') {
        ++end;
    }
    return *end == '\0';
}

bool IsWholeInteger(const char *text)
{
    char *end = nullptr;
    std::strtoll(text, &end, 10);
    return WhollyRead(text, end);
}

bool IsWholeNumber(const char *text)
{
    char *end = nullptr;
    std::strtod(text, &end);
    return WhollyRead(text, end);
}

// A value that is not wholly a number: with -strict the program ends here;
// otherwise the caller goes on with what was read (used, when it is taken).
void DoubtNumber(const char *argument, bool whole, const std::string &used, bool taken)
{
    if (whole) {
        return;
    }
    if (strict_mode) {
        std::printf("Error: option %s is not a number.\n", argument);
        std::fflush(stdout);
        std::exit(RUN_STARTUP_FAILED);
    }
    if (taken) {
        std::printf("Warning: option %s is not a number; %s is used.\n", argument, used.c_str());
    }
}

enum class Option {
    Device,
    Mode,
    CommandList,
    Output,
    Timeout,
    ReceiveBuffer,
    DumpCommandList,
    Json,
    Help,
    Strict,
    None
};

struct OptionName {
    Option option;
    const char *keyword;
    char separator;
};

// Tried in this order: the first match handles the argument.
constexpr OptionName kOptions[] = {
    {Option::Device, "-device", '='},
    {Option::Mode, "-mode", '='},
    {Option::CommandList, "-command_list", '='},
    {Option::Output, "-output", '='},
    {Option::Timeout, "-timeout", '='},
    {Option::ReceiveBuffer, "-receive_buf", '='},
    {Option::DumpCommandList, "-dump_cmdlist", '='},
    {Option::Json, "-json", '='},
    {Option::Help, "-help", '\0'},
    {Option::Strict, "-strict", '\0'},
};

constexpr int kShortestOption = 2;

Option FindOption(const char *argument)
{
    for (const OptionName &name : kOptions) {
        if (MatchArg(argument, name.keyword, name.separator, kShortestOption) >= 0) {
            return name.option;
        }
    }
    return Option::None;
}

} // namespace

void ProcessArguments(int argc, char **argv)
{
    // -strict decides how the other options' values are judged, wherever it stands.
    for (int i = 1; i < argc; ++i) {
        strict_mode = strict_mode || FindOption(argv[i]) == Option::Strict;
    }
    for (int i = 1; i < argc; ++i) {
        char *argument = argv[i];
        const Option option = FindOption(argument);
        const char *equals = std::strchr(argument, '=');
        const char *value = equals != nullptr ? equals + 1 : "";
        switch (option) {
        case Option::Device: {
            const std::int32_t device = ReadInt(value);
            DoubtNumber(argument, IsWholeInteger(value), std::to_string(device), device >= 0);
            if (device < 0) {
                std::puts("Error reading device number from command line arguments");
            } else {
                specified_device = device;
            }
            break;
        }
        case Option::Mode:
            specified_mode = value;
            break;
        case Option::CommandList:
            specified_input_file = value;
            break;
        case Option::Output:
            specified_output_file = value;
            break;
        case Option::Timeout: {
            const double seconds = ReadDouble(value);
            char used[32];
            std::snprintf(used, sizeof used, "%g", seconds);
            DoubtNumber(argument, IsWholeNumber(value), used, seconds > 0.0);
            // Written so that a value that is not a number (NaN) is refused too.
            if (!(seconds > 0.0)) {
                std::puts("Error reading timeout from command line arguments");
            } else {
                timeout = seconds;
            }
            break;
        }
        case Option::ReceiveBuffer: {
            const std::int32_t size = ReadInt(value);
            DoubtNumber(argument, IsWholeInteger(value), std::to_string(size), size > 0);
            if (size <= 0) {
                std::puts("Error reading buffer size from command line arguments");
            } else {
                receive_buffer_size = size;
            }
            break;
        }
        case Option::DumpCommandList:
            specified_dump_output_file = value;
            break;
        case Option::Json:
            specified_json_file = value;
            break;
        case Option::Strict:
            strict_mode = true;
            break;
        case Option::Help:
            ShowHelp();
        case Option::None:
            std::printf("Invalid command line argument error: '%s'\n", argument);
            break;
        }
    }
}
