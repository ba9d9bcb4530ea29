#include <array>
#include <span>
#include <string>

#include "app/settings.h"
#include "common/byte_text.h"
#include "common/display.h"
#include "common/file_open.h"
#include "common/number_base.h"
#include "device/quill_rmap.h"
#include "device/vantor_api.h"

namespace {

constexpr const char *kStructureError = "Error in the structure of the RMAP packet\n";

// Index = status code; null where the code has no meaning of its own.
constexpr std::array<const char *, 13> kStatusTexts{
    "success",
    "general error",
    "unused packet or command code",
    "invalid key",
    "invalid data CRC",
    "early EOP",
    "too much data",
    "EEP",
    nullptr,
    "buffer overrun",
    "command not implemented or authorised",
    "data length error",
    "invalid target logical address",
};

// A field the library hands back, checked against the bytes received before
// anything of it is read: a field longer than the packet, or a missing
// pointer behind a non-zero count, means the description cannot be trusted.
struct Field {
    const unsigned char *bytes = nullptr;
    unsigned long long count = 0;

    bool FitsIn(int packet_length) const
    {
        return count <= static_cast<unsigned long long>(packet_length) && (count == 0 || bytes != nullptr);
    }
    std::span<const std::uint8_t> View() const
    {
        if (count == 0) {
            return {};
        }
        return {bytes, static_cast<std::size_t>(count)};
    }
};

// A reply is shown as one piece of text, written at once: millions of
// replies then cost one call into the stream each.
void AddByteRow(const char *label, const Field &field, std::string &text)
{
    text += label;
    AppendBytesInBase(field.View(), default_base, text);
    text += '\n';
}

void AddNumberLine(const char *label, std::uint32_t value, std::string &text)
{
    char digits[34];
    text += label;
    text += itoa(value, digits, default_base);
    text += '\n';
}

void AddEnabledLine(const char *what, unsigned char flag, std::string &text)
{
    text += what;
    text += flag != 0 ? " is enabled.\n" : " is not enabled.\n";
}

// The errno value of a data file that could not be written; 0 otherwise.
int AppendToDataFile(const char *data_file, const Field &data)
{
    return data_file == nullptr ? 0 : AppendBytesToFile(data_file, data.View());
}

} // namespace

const char *RmapStatusText(unsigned status) { return status < kStatusTexts.size() ? kStatusTexts[status] : nullptr; }

bool DisplayRMAPResponse(const std::uint8_t *packet, int length, std::FILE *stream, const char *data_file,
                         ReplyDisplayed *shown)
{
    static const std::uint8_t kNoBytes[1] = {0};
    if (length < 0 || (packet == nullptr && length > 0)) {
        std::fputs(kStructureError, stream);
        return false;
    }
    const std::uint8_t *bytes = packet != nullptr ? packet : kNoBytes;
    RmapPacketInfo record{};
    if (RMAP_CheckPacketValid(bytes, static_cast<unsigned int>(length), &record, 1) != 0) {
        std::fputs(kStructureError, stream);
        return false;
    }

    const int type = RMAP_GetPacketType(&record);
    const char *heading = nullptr;
    switch (type) {
    case RMAP_PACKET_TYPE_READ_REPLY:
        heading = "\n\nRead response\n-------------\n";
        break;
    case RMAP_PACKET_TYPE_READ_MODIFY_WRITE_REPLY:
        heading = "\n\nRead/modify/write response\n--------------------------\n";
        break;
    case RMAP_PACKET_TYPE_WRITE_REPLY:
        heading = "\n\nWrite response\n--------------\n";
        break;
    case RMAP_PACKET_TYPE_INVALID:
        std::fprintf(stream, "\n\nInvalid packet type %d\n", type);
        return false;
    default:
        std::fprintf(stream, "\n\nUnexpected packet type %d\n", type);
        return false;
    }
    const bool write_reply = type == RMAP_PACKET_TYPE_WRITE_REPLY;

    Field reply_address;
    reply_address.bytes = RMAP_GetReplyAddress(&record, &reply_address.count);
    Field target_address;
    target_address.bytes = RMAP_GetTargetAddress(&record, &target_address.count);
    Field data;
    if (!write_reply) {
        unsigned int data_count = 0;
        data.bytes = RMAP_GetData(&record, &data_count);
        data.count = data_count;
    }
    if (!reply_address.FitsIn(length) || !target_address.FitsIn(length) || !data.FitsIn(length)) {
        std::fputs(kStructureError, stream);
        return false;
    }

    static std::string text;
    text.assign(heading);
    AddByteRow("Reply address: ", reply_address, text);
    if (write_reply) {
        AddEnabledLine("Data verification", RMAP_GetVerifyBeforeWrite(&record), text);
    }
    if (type != RMAP_PACKET_TYPE_READ_MODIFY_WRITE_REPLY) {
        AddEnabledLine("Incrementing addresses", RMAP_GetIncrementAddress(&record), text);
    }
    const unsigned char status = RMAP_GetStatus(&record);
    if (const char *meaning = RmapStatusText(status)) {
        text += "Status = ";
        text += meaning;
        text += '\n';
    } else {
        char line[32];
        std::snprintf(line, sizeof line, "Invalid status %d\n", static_cast<int>(status));
        text += line;
    }
    AddByteRow("Target address: ", target_address, text);
    AddNumberLine("Transaction identifier: ", RMAP_GetTransactionID(&record), text);
    AddNumberLine("Header CRC: ", RMAP_GetHeaderCRC(&record), text);
    if (shown != nullptr) {
        shown->record = record;
    }
    if (!write_reply) {
        AddByteRow("Data: ", data, text);
        // Data of a failed command is not what it asked for: it is not kept.
        const int data_file_error = status == 0 ? AppendToDataFile(data_file, data) : 0;
        if (shown != nullptr) {
            shown->data_file_error = data_file_error;
        }
        AddNumberLine("Data CRC: ", RMAP_GetDataCRC(&record), text);
    }
    std::fwrite(text.data(), 1, text.size(), stream);
    // The text of one large reply is not held for the rest of the run.
    if (text.capacity() > (std::size_t{1} << 20)) {
        std::string().swap(text);
    }
    return true;
}

bool DisplayReceivedRMAPReply(const std::uint8_t *packet, int length, int end_type, std::FILE *stream,
                              const char *data_file, ReplyDisplayed *shown)
{
    if (end_type == VANTOR_EOP_EEP) {
        std::fputs(kStructureError, stream);
        return false;
    }
    return DisplayRMAPResponse(packet, length, stream, data_file, shown);
}
