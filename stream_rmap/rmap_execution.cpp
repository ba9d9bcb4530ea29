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

// The command's packet, built with its CRC overrides the first time it runs;
// false, every time, when it cannot be built.
bool PacketReady(RmapCommand &command)
{
    if (!command.packet_tried) {
        command.packet_tried = true;
        RmapPacketInfo info{};
        if (BuildPacket(command, info)) {
            ApplyCrcOverrides(command, info);
        } else {
            command.packet.reset();
        }
    }
    return command.packet != nullptr;
}

std::uint64_t ReplyDataLength(const RmapCommand &command)
{
    if (command.type == RMAP_COMMAND_READ) {
        return command.data_length;
    }
    return command.data ? command.data->size() : 0;
}

// Room for a reply: its data, the header and the data CRC.
std::uint64_t ReplySize(const RmapCommand &command) { return ReplyDataLength(command) + kReplyOverhead; }

void StartReplyRead(RmapRuns &runs, const RmapCommand &command, RmapRun &run)
{
    // Left uninitialised: every command's buffer is held until all are sent,
    // and large read lengths must not touch their pages before a reply comes.
    run.reply = runs.replies.Take(ReplySize(command));
    if (run.reply == nullptr) {
        run.read_status = VANTOR_TRANSFER_ERROR_OUT_OF_MEMORY;
        return;
    }
    run.read_status = Vantor_ReadPackets(runs.device(), run.reply, static_cast<unsigned int>(ReplySize(command)), 1,
                                         0, &run.reply_properties, &run.read);
}

void ExecuteCommand(RmapRuns &runs, RmapCommand &command, RmapRun &run, std::uint64_t index, int &errors)
{
    // Built before the reply read is started, so that a command that cannot be
    // sent never holds a read (nor a buffer sized from a length it cannot carry).
    if (!PacketReady(command)) {
        ConsoleGuard console;
        std::printf("Error building RMAP packet for command %d.\n", command.number);
        ++errors;
        return;
    }
    if (CR_ExpectsReply(command)) {
        StartReplyRead(runs, command, run);
    }
    run.send_status = Vantor_SendPacket(runs.device(), command.packet.get(), command.packet_length, 0, &run.send);
    JournalHanded(index);
    if (run.send_status != VANTOR_TRANSFER_STARTED && run.send_status != VANTOR_TRANSFER_SUCCESS) {
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

void FreeRead(DeviceHandle device, RmapRun &run)
{
    if (run.read != nullptr) {
        Vantor_FreeRead(device, run.read);
        run.read = nullptr;
    }
}

void AwaitReply(DeviceHandle device, const RmapCommand &command, RmapRun &run, std::FILE *output, int &errors,
                ReplySeen &seen)
{
    if (run.read_status == VANTOR_TRANSFER_STARTED) {
        // Once interrupted, a reply still on its way is not waited for.
        run.read_status = StreamRunInterrupted() ? Vantor_GetReadStatus(device, run.read)
                                                 : Vantor_WaitOnReadCompleting(device, run.read, 0);
        if (run.read_status == VANTOR_TRANSFER_STARTED) {
            return;
        }
    }
    FreeRead(device, run);
    // Replies shown on the console erase the progress line; shown in a file they leave it.
    ConsoleGuard console(output == nullptr);
    if (run.read_status == VANTOR_TRANSFER_SUCCESS) {
        const char *data_file = command.filename ? command.filename->c_str() : nullptr;
        ReplyDisplayed shown;
        if (!DisplayReceivedRMAPReply(run.reply,
                                      ReceivedLength(static_cast<unsigned int>(ReplySize(command)),
                                                     run.reply_properties.len),
                                      run.reply_properties.eop, output != nullptr ? output : stdout,
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

void RecordInJournal(const RmapCommand &command, const RmapRun &run, std::uint64_t index, bool sent,
                     const ReplySeen &seen)
{
    JsonLine &line = JournalCommand(index, command.number, KindName(command.type));
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
        error("send", run.send_status, DisplayStatus(run.send_status));
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
    } else if (run.read_status == VANTOR_TRANSFER_ERROR_TIMEOUT) {
        line.Text("outcome", "timeout");
    } else if (run.read_status == VANTOR_TRANSFER_SUCCESS) {
        error("reply", -1, "not a valid RMAP reply");
    } else if (run.read_status == VANTOR_TRANSFER_STARTED) {
        line.Text("outcome", "not collected"); // the run was interrupted first
    } else {
        error("receive", run.read_status, DisplayStatus(run.read_status));
    }
    JournalWrite();
}

// The final status of a command's send.  A send that was accepted but did not
// complete is reported here, once (one refused at once was reported when it
// was made).  True when the packet went out.
bool CollectSend(DeviceHandle device, const RmapCommand &command, RmapRun &run, std::FILE *output, int &errors)
{
    if (run.send_status != VANTOR_TRANSFER_STARTED) {
        return run.send_status == VANTOR_TRANSFER_SUCCESS;
    }
    run.send_status = Vantor_WaitOnSendCompleting(device, run.send, 0);
    if (run.send_status == VANTOR_TRANSFER_SUCCESS) {
        return true;
    }
    const char *text = DisplayStatus(run.send_status);
    ConsoleGuard console;
    std::printf("Error sending command %d: %s\n", command.number, text);
    if (output != nullptr) {
        std::fprintf(output, "Error sending command %d: %s\n", command.number, text);
    }
    ++errors;
    return false;
}

} // namespace

void ReleaseTransfers(DeviceHandle device, RmapRun &run)
{
    FreeRead(device, run);
    if (run.send != nullptr) {
        Vantor_FreeSend(device, run.send);
        run.send = nullptr;
    }
}

long long CR_ExecuteCommands(RmapRuns &runs, RmapCommand *chain, std::FILE *, int &errors)
{
    ExecuteInRunOrder(
        runs, chain, errors,
        [&](RmapCommand &command, RmapRun &run, std::uint64_t index) {
            ExecuteCommand(runs, command, run, index, errors);
            ProgressErrors(errors);
        },
        [](const RmapCommand &) {});
    return static_cast<long long>(runs.runs.size());
}

void CR_WaitOnResponses(RmapRuns &runs, RmapCommand *chain, std::FILE *output, int &errors)
{
    const DeviceHandle device = runs.device();
    VisitRuns(runs, chain, [&](RmapCommand &command, RmapRun &run, std::uint64_t index) {
        // One whose packet could not be built was counted when it was not sent.
        if (!command.packet) {
            return;
        }
        const bool sent = CollectSend(device, command, run, output, errors);
        ReplySeen seen;
        if (CR_ExpectsReply(command)) {
            if (sent) {
                AwaitReply(device, command, run, output, errors, seen);
            } else {
                FreeRead(device, run); // nothing will come
            }
        }
        JournalCount().replies += seen.shown ? 1 : 0;
        JournalCount().timeouts += run.read_status == VANTOR_TRANSFER_ERROR_TIMEOUT ? 1 : 0;
        if (JournalOn()) {
            JournalCollected(index);
            RecordInJournal(command, run, index, sent, seen);
        }
        ProgressErrors(errors);
    });
}
