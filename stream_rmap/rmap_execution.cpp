#include "stream_rmap/rmap_execution.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <string>

#include "common/command_chain.h"
#include "common/display.h"
#include "common/reply_check.h"
#include "common/stream_files.h"
#include "common/stream_journal.h"
#include "common/stream_run.h"
#include "device/quill_rmap.h"

namespace {

// A reply holds at most this much besides its data: 12 header bytes and the data CRC.
constexpr std::uint64_t kReplyOverhead = 13;

bool BuildPacket(RmapCommand &command, RmapPacketInfo &info)
{
    const std::vector<std::uint8_t> &destination = *command.destination_address;
    const std::vector<std::uint8_t> &source = *command.source_address;
    // The library takes the reply address count in 8 bits; a longer one
    // would be cut to a different address instead of being refused.
    if (source.size() > std::numeric_limits<unsigned char>::max() ||
        destination.size() > std::numeric_limits<unsigned int>::max()) {
        return false;
    }
    const auto destination_count = static_cast<unsigned int>(destination.size());
    const auto source_count = static_cast<unsigned char>(source.size());
    unsigned char *packet = nullptr;
    switch (command.type) {
    case RMAP_COMMAND_WRITE: {
        const std::vector<std::uint8_t> &data = *command.data;
        if (data.size() > std::numeric_limits<unsigned int>::max()) {
            return false;
        }
        packet = RMAP_BuildWriteCommandPacket(
            destination.data(), destination_count, source.data(), source_count, command.verify_before_write,
            command.acknowledge, command.increment_target, command.destination_key, command.transaction_identifier,
            command.address, command.extended_address, data.data(), static_cast<unsigned int>(data.size()),
            &command.packet_length, &info, 1);
        break;
    }
    case RMAP_COMMAND_READ:
        packet = RMAP_BuildReadCommandPacket(destination.data(), destination_count, source.data(), source_count,
                                             command.increment_target, command.destination_key,
                                             command.transaction_identifier, command.address,
                                             command.extended_address, command.data_length,
                                             &command.packet_length, &info, 1);
        break;
    case RMAP_COMMAND_READ_MODIFY_WRITE: {
        // The parser has made sure the mask is at least as long as the data.
        const std::vector<std::uint8_t> &data = *command.data;
        packet = RMAP_BuildReadModifyWriteCommandPacket(
            destination.data(), destination_count, source.data(), source_count, command.destination_key,
            command.transaction_identifier, command.address, command.extended_address,
            static_cast<unsigned char>((2 * data.size()) % 256), data.data(), command.mask->data(),
            &command.packet_length, &info, 1);
        break;
    }
    default:
        return false;
    }
    command.packet.reset(packet);
    return packet != nullptr && command.packet_length > 0;
}

void ApplyCrcOverrides(const RmapCommand &command, const RmapPacketInfo &info)
{
    if (command.Given(GIVEN_HEADER_CRC) && info.header_crc_location != nullptr) {
        *info.header_crc_location = command.header_crc;
    }
    if (command.Given(GIVEN_DATA_CRC) && info.data_crc_location != nullptr) {
        *info.data_crc_location = command.data_crc;
    }
}

std::uint64_t ReplyDataLength(const RmapCommand &command)
{
    if (command.type == RMAP_COMMAND_READ) {
        return command.data_length;
    }
    return command.data ? command.data->size() : 0;
}

void StartReplyRead(DeviceHandle device, RmapCommand &command)
{
    // Left uninitialised: every command's buffer is held until all are sent,
    // and large read lengths must not touch their pages before a reply comes.
    command.reply_buffer = AllocateReceiveBuffer(ReplyDataLength(command) + kReplyOverhead);
    if (!command.reply_buffer) {
        command.read_status = VANTOR_TRANSFER_ERROR_OUT_OF_MEMORY;
        return;
    }
    command.read_status = Vantor_ReadPackets(device, command.reply_buffer.data(), command.reply_buffer.size, 1, 0,
                                             &command.reply_properties, command.read.Start(device));
}

void ExecuteCommand(DeviceHandle device, RmapCommand &command, int &errors)
{
    // Built before the reply read is started, so that a command that cannot be
    // sent never holds a read (nor a buffer sized from a length it cannot carry).
    RmapPacketInfo info{};
    if (!BuildPacket(command, info)) {
        command.packet.reset();
        ConsoleGuard console;
        std::printf("Error building RMAP packet for command %d.\n", command.number);
        ++errors;
        return;
    }
    ApplyCrcOverrides(command, info);
    if (CR_ExpectsReply(command)) {
        StartReplyRead(device, command);
    }
    command.send_status =
        Vantor_SendPacket(device, command.packet.get(), command.packet_length, 0, command.send.Start(device));
    JournalHanded(&command);
    if (command.send_status != VANTOR_TRANSFER_STARTED && command.send_status != VANTOR_TRANSFER_SUCCESS) {
        ConsoleGuard console;
        std::printf("Error sending command %d.\n", command.number);
        ++errors;
    }
    ProgressSent();
}

ExpectedReply ExpectedReplyOf(const RmapCommand &command)
{
    return ExpectReplyTo(command.type, command.verify_before_write, command.acknowledge, command.increment_target,
                         *command.destination_address, *command.source_address, command.transaction_identifier,
                         static_cast<long long>(ReplyDataLength(command)));
}

// What waiting for a command's reply found, for the JSON Lines record.
struct ReplySeen {
    bool shown = false;   // a reply came and was displayed
    bool matches = false; // and it answers the command
    RmapPacketInfo record{};
};

void AwaitReply(DeviceHandle device, RmapCommand &command, std::FILE *output, int &errors, ReplySeen &seen)
{
    if (command.read_status == VANTOR_TRANSFER_STARTED) {
        // Once interrupted, a reply still on its way is not waited for.
        command.read_status = StreamRunInterrupted() ? Vantor_GetReadStatus(device, command.read.id())
                                                     : Vantor_WaitOnReadCompleting(device, command.read.id(), 0);
        if (command.read_status == VANTOR_TRANSFER_STARTED) {
            return;
        }
    }
    command.read.Free();
    // Replies shown on the console erase the progress line; shown in a file they leave it.
    ConsoleGuard console(output == nullptr);
    if (command.read_status == VANTOR_TRANSFER_SUCCESS) {
        const char *data_file = command.filename ? command.filename->c_str() : nullptr;
        ReplyDisplayed shown;
        if (!DisplayReceivedRMAPReply(command.reply_buffer.data(),
                                      ReceivedLength(command.reply_buffer, command.reply_properties.len),
                                      command.reply_properties.eop, output != nullptr ? output : stdout,
                                      data_file, &shown)) {
            ++errors;
            return;
        }
        ProgressReceived();
        bool failed = !CheckReplyMatches(shown.record, ExpectedReplyOf(command), command.number, output);
        seen = ReplySeen{true, !failed, shown.record};
        if (shown.data_file_error != 0) {
            ReportDataFileFailure(command.number, *command.filename, shown.data_file_error);
            failed = true;
        }
        if (failed) {
            ++errors;
        }
        return;
    }
    ConsoleGuard error_line;
    std::printf("Error receiving acknowledgement for command %d.\n\n", command.number);
    ++errors;
    if (output != nullptr) {
        std::fputs("Error receiving acknowledgement\n", output);
    }
}

const char *KindName(RmapCommandType type)
{
    return type == RMAP_COMMAND_WRITE ? "write" : type == RMAP_COMMAND_READ ? "read" : "read/modify/write";
}

void RecordInJournal(const RmapCommand &command, bool sent, const ReplySeen &seen)
{
    JsonLine &line = JournalCommand(&command, command.number, KindName(command.type));
    line.Object("sent");
    const std::vector<std::uint8_t> &destination = *command.destination_address;
    const std::vector<std::uint8_t> &source = *command.source_address;
    line.Number("target_logical_address", std::int64_t{destination.empty() ? 0 : destination.back()});
    line.Number("initiator_logical_address", std::int64_t{source.empty() ? 0 : source.back()});
    line.Hex("destination_address", destination);
    line.Hex("source_address", source);
    line.Number("key", std::int64_t{command.destination_key});
    line.Number("transaction_identifier", std::int64_t{command.transaction_identifier});
    line.Number("extended_address", std::int64_t{command.extended_address});
    line.Number("address", std::int64_t{command.address});
    // As sent: a read/modify/write carries its mask beside the data.
    const std::uint64_t sent_length = command.type == RMAP_COMMAND_READ_MODIFY_WRITE ? 2 * ReplyDataLength(command)
                                                                                      : ReplyDataLength(command);
    line.Number("data_length", static_cast<std::int64_t>(sent_length));
    line.Boolean("verify", command.verify_before_write != 0);
    line.Boolean("acknowledge", command.acknowledge != 0);
    line.Boolean("increment", command.increment_target != 0);
    if (command.type != RMAP_COMMAND_READ && command.data) {
        line.Hex("data", *command.data);
    }
    if (command.type == RMAP_COMMAND_READ_MODIFY_WRITE && command.mask) {
        line.Hex("mask", std::span(command.mask->data(), std::min(command.mask->size(), command.data->size())));
    }
    line.End();
    const auto error = [&line](const char *which, int status, const char *text) {
        line.Text("outcome", "error");
        line.Object("error");
        line.Text("which", which);
        if (status >= 0) {
            line.Number("status", std::int64_t{status});
        }
        line.Text("text", text);
        line.End();
    };
    if (!sent) {
        error("send", command.send_status, DisplayStatus(command.send_status));
    } else if (!CR_ExpectsReply(command)) {
        line.Text("outcome", "no reply expected");
    } else if (seen.shown) {
        line.Text("outcome", "reply");
        line.Object("reply");
        const unsigned status = RMAP_GetStatus(&seen.record);
        line.Number("status", std::int64_t{status});
        line.Text("status_text", RmapStatusText(status));
        line.Number("transaction_identifier", std::int64_t{RMAP_GetTransactionID(&seen.record)});
        unsigned int length = 0;
        if (const unsigned char *data = RMAP_GetData(&seen.record, &length); data != nullptr && length > 0) {
            line.Hex("data", std::span(data, length));
        }
        line.Boolean("matches_command", seen.matches);
        line.End();
    } else if (command.read_status == VANTOR_TRANSFER_ERROR_TIMEOUT) {
        line.Text("outcome", "timeout");
    } else if (command.read_status == VANTOR_TRANSFER_SUCCESS) {
        error("reply", -1, "not a valid RMAP reply");
    } else if (command.read_status == VANTOR_TRANSFER_STARTED) {
        line.Text("outcome", "not collected"); // the run was interrupted first
    } else {
        error("receive", command.read_status, DisplayStatus(command.read_status));
    }
    JournalWrite();
}

// The final status of a command's send.  A send that was accepted but did not
// complete is reported here, once (one refused at once was reported when it
// was made).  True when the packet went out.
bool CollectSend(DeviceHandle device, RmapCommand &command, std::FILE *output, int &errors)
{
    if (command.send_status != VANTOR_TRANSFER_STARTED) {
        return command.send_status == VANTOR_TRANSFER_SUCCESS;
    }
    command.send_status = Vantor_WaitOnSendCompleting(device, command.send.id(), 0);
    if (command.send_status == VANTOR_TRANSFER_SUCCESS) {
        return true;
    }
    const char *text = DisplayStatus(command.send_status);
    ConsoleGuard console;
    std::printf("Error sending command %d: %s\n", command.number, text);
    if (output != nullptr) {
        std::fprintf(output, "Error sending command %d: %s\n", command.number, text);
    }
    ++errors;
    return false;
}

} // namespace

long long CR_ExecuteCommands(DeviceHandle device, RmapCommand *chain, std::FILE *, int &errors)
{
    long long run = 0;
    VisitInRunOrder(chain, [device, &errors, &run](RmapCommand &command) {
        if (IsLoop(command) || StreamRunInterrupted()) {
            return;
        }
        ExecuteCommand(device, command, errors);
        ProgressErrors(errors);
        ++run;
    });
    return run;
}

void CR_WaitOnResponses(DeviceHandle device, RmapCommand *chain, std::FILE *output, int &errors)
{
    VisitInRunOrder(chain, [device, output, &errors](RmapCommand &command) {
        // A command whose packet could not be built was counted when it was
        // not sent; one the run never reached has no packet either, nor has a loop.
        if (!command.packet) {
            return;
        }
        const bool sent = CollectSend(device, command, output, errors);
        ReplySeen seen;
        if (CR_ExpectsReply(command)) {
            if (sent) {
                AwaitReply(device, command, output, errors, seen);
            } else {
                command.read.Free(); // nothing will come
            }
        }
        JournalCount().replies += seen.shown ? 1 : 0;
        JournalCount().timeouts += command.read_status == VANTOR_TRANSFER_ERROR_TIMEOUT ? 1 : 0;
        if (JournalOn()) {
            JournalCollected(&command);
            RecordInJournal(command, sent, seen);
        }
        ProgressErrors(errors);
    });
}
