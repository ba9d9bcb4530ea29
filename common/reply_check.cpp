#include "common/reply_check.h"

#include <string>

#include "app/settings.h"
#include "common/display.h"
#include "common/number_base.h"
#include "common/stream_run.h"

namespace {

constexpr unsigned char kWriteBit = 8;
constexpr unsigned char kVerifyBit = 4;
constexpr unsigned char kAcknowledgeBit = 2;
constexpr unsigned char kIncrementBit = 1;
// A read/modify/write has one command code: all but the write bit.
constexpr unsigned char kReadModifyWriteCode = kVerifyBit | kAcknowledgeBit | kIncrementBit;

unsigned char CodeOf(int packet_type, unsigned char verify, unsigned char acknowledge, unsigned char increment)
{
    switch (packet_type) {
    case RMAP_PACKET_TYPE_WRITE_COMMAND:
    case RMAP_PACKET_TYPE_WRITE_REPLY:
        return static_cast<unsigned char>(kWriteBit | (verify != 0 ? kVerifyBit : 0) |
                                          (acknowledge != 0 ? kAcknowledgeBit : 0) |
                                          (increment != 0 ? kIncrementBit : 0));
    case RMAP_PACKET_TYPE_READ_COMMAND:
    case RMAP_PACKET_TYPE_READ_REPLY:
        return static_cast<unsigned char>(kAcknowledgeBit | (increment != 0 ? kIncrementBit : 0));
    default:
        return kReadModifyWriteCode;
    }
}

std::uint8_t LastByte(const unsigned char *bytes, unsigned long long count)
{
    return bytes != nullptr && count > 0 ? bytes[count - 1] : 0;
}

std::uint8_t LastByte(const std::vector<std::uint8_t> &bytes) { return bytes.empty() ? 0 : bytes.back(); }

void ReportLine(const std::string &line, std::FILE *output)
{
    ConsoleGuard console;
    std::fputs(line.c_str(), stdout);
    if (output != nullptr) {
        std::fputs(line.c_str(), output);
    }
}

// Built only when there is something to say: replies are checked by the
// hundred thousand.
std::string CommandName(std::int32_t command)
{
    return command == kTypedCommand ? "the command" : "command " + std::to_string(command);
}

void ReportField(std::int32_t command, const char *field, std::uint32_t received, std::uint32_t expected,
                 std::FILE *output)
{
    ReportLine("Mismatched reply to " + CommandName(command) + ": " + field + " " +
                   ToBaseText(received, default_base) + ", expected " + ToBaseText(expected, default_base) + ".\n",
               output);
}

} // namespace

ExpectedReply ExpectReplyTo(int command_type, unsigned char verify, unsigned char acknowledge,
                            unsigned char increment, const std::vector<std::uint8_t> &target_address,
                            const std::vector<std::uint8_t> &reply_address, std::uint16_t transaction_identifier,
                            long long data_length)
{
    ExpectedReply expected;
    expected.command_code = CodeOf(command_type, verify, acknowledge, increment);
    expected.initiator_logical_address = LastByte(reply_address);
    expected.target_logical_address = LastByte(target_address);
    expected.transaction_identifier = transaction_identifier;
    expected.data_length = command_type == RMAP_PACKET_TYPE_WRITE_COMMAND ? -1 : data_length;
    return expected;
}

bool CheckReplyMatches(const RmapPacketInfo &reply, const ExpectedReply &expected, std::int32_t command,
                       std::FILE *output)
{
    bool matches = true;
    const auto check = [&](const char *field, std::uint32_t received, std::uint32_t wanted) {
        if (received != wanted) {
            ReportField(command, field, received, wanted, output);
            matches = false;
        }
    };
    const int type = RMAP_GetPacketType(&reply);
    // A reply always carries the acknowledge bit: it is what asked for it.
    check("command code",
          CodeOf(type, RMAP_GetVerifyBeforeWrite(&reply), 1, RMAP_GetIncrementAddress(&reply)),
          expected.command_code);
    unsigned long long count = 0;
    const unsigned char *reply_address = RMAP_GetReplyAddress(&reply, &count);
    check("initiator logical address", LastByte(reply_address, count), expected.initiator_logical_address);
    const unsigned char *target_address = RMAP_GetTargetAddress(&reply, &count);
    check("target logical address", LastByte(target_address, count), expected.target_logical_address);
    check("transaction identifier", RMAP_GetTransactionID(&reply), expected.transaction_identifier);
    const unsigned status = RMAP_GetStatus(&reply);
    // A failed command need not bring its data: its status says enough.
    if (type != RMAP_PACKET_TYPE_WRITE_REPLY && expected.data_length >= 0 && status == 0) {
        unsigned int data_count = 0;
        RMAP_GetData(&reply, &data_count);
        check("data length", data_count, static_cast<std::uint32_t>(expected.data_length));
    }
    if (status != 0) {
        const char *text = RmapStatusText(status);
        ReportLine("Failed reply to " + CommandName(command) + ": status " + std::to_string(status) + ", " +
                       (text != nullptr ? text : "not a status of the standard") + ".\n",
                   output);
        matches = false;
    }
    return matches;
}
