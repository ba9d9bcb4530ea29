#include "interactive/interactive_rmap.h"

#include <cctype>
#include <cstdio>
#include <optional>
#include <string>

#include "app/settings.h"
#include "common/console_input.h"
#include "common/number_base.h"
#include "interactive/rmap_field_store.h"
#include "interactive/rmap_transaction.h"

namespace {

void PrintMenu()
{
    std::puts("\n\n\n\nPlease specify the type of RMAP command to perform:");
    std::puts("\t(r) Read");
    std::puts("\t(w) Write");
    std::puts("\t(m) Read/modify/write");
    std::puts("\t(b) Change the default base");
    std::puts("\t(f) Delete all fixed fields");
    std::puts("\t(x) Exit");
    std::fputs("Enter command type: ", stdout);
    std::fflush(stdout);
}

void PrintInvalidCommand() { std::puts("Invalid RMAP command entered, please try again.\n"); }

// False when standard input ended before a base was given.
bool ChangeBase()
{
    std::fputs("Please enter a default base to use: ", stdout);
    std::fflush(stdout);
    const std::optional<std::string> word = ReadWord();
    if (!word) {
        return false;
    }
    const NumberBase base = GetBase(*word);
    if (base == -1) {
        std::puts("Invalid base type entered.");
    } else {
        default_base = base;
        std::puts("Base updated.");
    }
    return true;
}

} // namespace

void IR_MenuLoop(DeviceHandle device)
{
    for (;;) {
        PrintMenu();
        const std::optional<std::string> word = ReadWord();
        if (!word) {
            return;
        }
        std::putchar('\n');
        const char first = static_cast<char>(std::tolower(static_cast<unsigned char>((*word)[0])));
        if (word->size() > 1) {
            if (first == 'x') {
                return;
            }
            PrintInvalidCommand();
            continue;
        }
        bool input_open = true;
        switch (first) {
        case 'r':
            input_open = IR_RequestCommand(RMAP_COMMAND_READ, device);
            break;
        case 'w':
            input_open = IR_RequestCommand(RMAP_COMMAND_WRITE, device);
            break;
        case 'm':
            input_open = IR_RequestCommand(RMAP_COMMAND_READ_MODIFY_WRITE, device);
            break;
        case 'b':
            input_open = ChangeBase();
            break;
        case 'f':
            ClearFixedFields(rmap_fields);
            std::puts("Deleted fixed fields.");
            break;
        case 'x':
            return;
        default:
            PrintInvalidCommand();
            break;
        }
        if (!input_open) {
            return;
        }
    }
}
