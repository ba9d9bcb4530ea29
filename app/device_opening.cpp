#include "app/device_opening.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "app/end_of_input.h"
#include "app/settings.h"
#include "common/console_input.h"
#include "common/run_outcome.h"

namespace {

constexpr int kMaxDevices = 32;
// The only attached device is retried this often before the program gives up.
constexpr int kSingleDeviceAttempts = 3;

struct DeviceTypeText {
    DeviceType type;
    const char *list_line; // %d is the device number
    const char *single_report;
};

constexpr DeviceTypeText kDeviceTypes[] = {
    {VANTOR_DEVICE_PELMAR, "\t%d - a SpaceWire Pelmar\n", "a SpaceWire Pelmar."},
    {VANTOR_DEVICE_OSTREL, "\t%d - a SpaceWire Ostrel\n", "a SpaceWire Ostrel."},
    {VANTOR_DEVICE_QUENBY, "\t%d - a SpaceWire Quenby (not supported)\n", "a SpaceWire Quenby."},
    {VANTOR_DEVICE_VARROW, "\t%d - a SpaceWire Varrow (not supported)\n", "a SpaceWire Varrow."},
    {VANTOR_DEVICE_DRUMMET, "\t%d - a SpaceWire Drummet (not supported)\n", "a SpaceWire Drummet."},
    {VANTOR_DEVICE_QUENBY_MK2, "\t%d - a SpaceWire Quenby Mk2 (not supported)\n", "a SpaceWire Quenby Mk2"},
    {VANTOR_DEVICE_HOLBECK, "\t%d - a SpaceWire Holbeck\n", "a SpaceWire Holbeck."},
    {VANTOR_DEVICE_FENNICK, "\t%d - a SpaceWire Fennick\n", "a SpaceWire Fennick."},
    {VANTOR_DEVICE_CORVANE, "\t%d - a SpaceWire Corvane\n", "a SpaceWire Corvane."},
    {VANTOR_DEVICE_DEMBREL, "\t%d - a Dembrel\n", "a Dembrel"},
    {VANTOR_DEVICE_TAMSEL_II, "\t%d - a Tamsel II\n", "a Tamsel II"},
    // Named only in the single-device report; listed as an unknown type.
    {VANTOR_DEVICE_LUNKETT, "\t%d - Unknown device type\n", "a Lunkett."},
};

const DeviceTypeText kUnknownType = {-1, "\t%d - Unknown device type\n", "an unknown device type."};

const DeviceTypeText &TextOf(DeviceType type)
{
    for (const DeviceTypeText &entry : kDeviceTypes) {
        if (entry.type == type) {
            return entry;
        }
    }
    return kUnknownType;
}

bool IsSupported(DeviceType type) { return type < VANTOR_DEVICE_QUENBY || type > VANTOR_DEVICE_QUENBY_MK2; }

bool IsAttached(std::uint32_t mask, int number)
{
    return number >= 0 && number < kMaxDevices && ((mask >> number) & 1U) != 0;
}

[[noreturn]] void EndProgram()
{
    std::fflush(stdout);
    std::exit(strict_mode ? RUN_STARTUP_FAILED : 0);
}

// The device number of a one-device mask; 0 when the mask does not hold
// exactly one set bit.
int OnlyDeviceNumber(std::uint32_t mask)
{
    if (mask == 0 || (mask & (mask - 1)) != 0) {
        return 0;
    }
    int number = 0;
    while ((mask & 1U) == 0) {
        mask >>= 1;
        ++number;
    }
    return number;
}

// Reads a decimal number as the start of a typed word; nothing when the word
// does not start with one.  The rest of the line is discarded.
std::optional<long> ReadDeviceChoice()
{
    const auto word = ReadWord();
    if (!word) {
        EndOfInputExit(true);
    }
    const char *text = word->c_str();
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text) {
        return std::nullopt;
    }
    return value;
}

// Lists the devices of mask and asks until the user names a supported one.
int ChooseDevice(int count, std::uint32_t mask)
{
    for (;;) {
        std::printf("%d SpaceWire devices detected:\n", count);
        int usable = 0;
        for (int number = 0; number < kMaxDevices; ++number) {
            if (!IsAttached(mask, number)) {
                continue;
            }
            const DeviceType type = Vantor_GetUnopenedDeviceType(number);
            std::printf(TextOf(type).list_line, number);
            if (IsSupported(type)) {
                ++usable;
            }
        }
        if (usable == 0) {
            std::puts("No supported devices detected, exiting.");
            EndProgram();
        }
        std::fputs("\nPlease select a device to open: ", stdout);
        std::fflush(stdout);
        const auto choice = ReadDeviceChoice();
        if (!choice || *choice < 0 || *choice >= kMaxDevices || !IsAttached(mask, static_cast<int>(*choice))) {
            std::puts("Incorrect device number specified.");
            continue;
        }
        const int number = static_cast<int>(*choice);
        if (!IsSupported(Vantor_GetUnopenedDeviceType(number))) {
            std::puts("Unsupported device type specified.");
            continue;
        }
        return number;
    }
}

void SetUpDevice(DeviceHandle device)
{
    Vantor_EnableHeaderMode(device, 0);
    Vantor_EnableNetworkMode(device, 0);
    if (timeout != -1.0) {
        Vantor_SetTimeout(device, timeout);
    }
}

} // namespace

DeviceHandle OpenDevice(int number)
{
    int single_device_attempts = 0;
    for (;;) {
        if (number >= 0) {
            DeviceHandle device = nullptr;
            if (Vantor_Open(&device, number) != 0) {
                SetUpDevice(device);
                return device;
            }
            std::puts("The specified device could not be opened");
            number = -1;
        }
        const int count = Vantor_CountDevices();
        if (count == 0) {
            std::puts("No SpaceWire devices detected, exiting");
            EndProgram();
        }
        const std::uint32_t mask = Vantor_ListDevices();
        if (count == 1) {
            if (single_device_attempts == kSingleDeviceAttempts) {
                std::printf("The only SpaceWire device could not be opened after %d attempts, exiting.\n",
                            kSingleDeviceAttempts);
                EndProgram();
            }
            ++single_device_attempts;
            const int only = OnlyDeviceNumber(mask);
            const DeviceType type = Vantor_GetUnopenedDeviceType(only);
            std::printf("Only one SpaceWire device detected, %s\n", TextOf(type).single_report);
            if (!IsSupported(type)) {
                std::puts("This device is not supported, exiting.");
                EndProgram();
            }
            std::puts("Using this device.");
            number = only;
        } else {
            single_device_attempts = 0;
            number = ChooseDevice(count, mask);
        }
    }
}
