#include "common/display.h"

#include <array>
#include <span>

#include "app/settings.h"
#include "common/byte_text.h"

namespace {

constexpr std::array<const char *, 15> kTransferStatusMessages{
    "The transfer was not started.",
    "The transfer was started but has not completed.",
    "The transfer completed successfully.",
    "The device or link was disconnected.",
    "A parity error was encountered on the link.",
    "An unknown error occurred.",
    "The transfer timed out.",
    "The transfer failed as the link has not been started.",
    "The user buffer could not be locked to transfer the contents to the driver.",
    "The link is already in use.",
    "The receive failed as the receive buffer is full.",
    "The transfer failed due to a lack of memory.",
    "The transfer could not be performed as it could not be found.",
    "An error was encountered on the USB bus.",
    "The read failed as the device is not registered to receive.",
};

constexpr int kEndOfPacket = 128;
constexpr int kErrorEndOfPacket = 64;

} // namespace

const char *DisplayStatus(int status)
{
    if (status < 0 || status >= static_cast<int>(kTransferStatusMessages.size())) {
        return "An invalid transfer status was encountered.";
    }
    return kTransferStatusMessages[static_cast<std::size_t>(status)];
}

void DisplayData(const std::uint8_t *data, int length, int end_type, std::FILE *stream)
{
    if (data != nullptr && length > 0) {
        WriteBytesInBase(std::span<const std::uint8_t>(data, static_cast<std::size_t>(length)), default_base,
                         stream);
    }
    if (end_type == kEndOfPacket) {
        std::fputs("EOP", stream);
    } else if (end_type == kErrorEndOfPacket) {
        std::fputs("EEP", stream);
    }
}
