#include "stream_rmap/rmap_command.h"

#include <cstdio>
#include <new>

#include "stream_rmap/rmap_properties.h"

void RmapPacketDeleter::operator()(unsigned char *packet) const
{
    if (packet != nullptr) {
        RMAP_FreeBuffer(packet);
    }
}

RmapCommandPtr CR_AllocateCommand(RmapCommandType type)
{
    RmapCommandPtr command(new (std::nothrow) RmapCommand);
    if (command) {
        command->type = type;
    }
    return command;
}

bool CR_ExpectsReply(const RmapCommand &command)
{
    return command.type == RMAP_COMMAND_READ || command.type == RMAP_COMMAND_READ_MODIFY_WRITE ||
           (command.type == RMAP_COMMAND_WRITE && command.acknowledge != 0);
}

namespace {

std::size_t BytesOf(const std::optional<std::vector<std::uint8_t>> &bytes) { return bytes ? bytes->size() : 0; }

} // namespace

std::uint64_t HeldBytes(const RmapCommand &command)
{
    return BytesOf(command.destination_address) + BytesOf(command.source_address) + BytesOf(command.data) +
           BytesOf(command.mask) + (command.filename ? command.filename->size() : 0);
}

// Copies carry every property, the CRCs and the file name included, so that
// each repetition sends what the user wrote.
RmapCommandPtr CopyRecordFields(const RmapCommand &source)
{
    RmapCommandPtr copy = CR_AllocateCommand(source.type);
    if (!copy) {
        ReportCopyOutOfMemory(source);
        return nullptr;
    }
    if (!CR_CopyDefaultFields(*copy, &source)) {
        std::printf("Could not allocate memory for the properties of copied command %d.\n", source.number);
        return nullptr;
    }
    constexpr std::uint32_t kCrcFlags = GIVEN_HEADER_CRC | GIVEN_DATA_CRC;
    copy->given_flags |= source.given_flags & kCrcFlags;
    copy->header_crc = source.header_crc;
    copy->data_crc = source.data_crc;
    if (source.filename) {
        try {
            copy->filename = *source.filename;
        } catch (const std::bad_alloc &) {
            std::printf("Could not allocate memory for the filename of copied command %d.\n", source.number);
            return nullptr;
        }
    }
    return copy;
}

void ReportCopyOutOfMemory(const RmapCommand &at)
{
    std::printf("Could not allocate memory for copied command %d.\n", at.number);
}

void ReportExpansionOutOfMemory(const RmapCommand &)
{
    std::puts("Could not allocate memory to expand the loops of the command list.");
}
