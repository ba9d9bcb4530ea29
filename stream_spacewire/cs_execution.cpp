#include "stream_spacewire/cs_execution.h"

#include <algorithm>
#include <cstddef>
#include <new>
#include <utility>

#include "app/settings.h"
#include "common/command_chain.h"
#include "common/display.h"
#include "common/file_open.h"
#include "common/stream_files.h"
#include "common/stream_journal.h"
#include "common/stream_run.h"

namespace {

bool Accepted(TransferStatus status)
{
    return status == VANTOR_TRANSFER_STARTED || status == VANTOR_TRANSFER_SUCCESS;
}

void CountFailure(SpaceWireRun &run, std::int32_t &error_count)
{
    if (!run.failure_counted) {
        run.failure_counted = true;
        ++error_count;
    }
}

// Builds the pointer and length arrays of a send of several packets.
bool BuildPacketArrays(SpaceWireCommand &send)
{
    const auto count = static_cast<std::size_t>(send.packet_count);
    send.packet_pointers.reset(new (std::nothrow) void *[count]);
    send.packet_lengths.reset(new (std::nothrow) unsigned int[count]);
    if (!send.packet_pointers || !send.packet_lengths) {
        send.packet_pointers.reset();
        send.packet_lengths.reset();
        return false;
    }
    const auto length = static_cast<std::size_t>(send.data_length);
    for (std::size_t packet = 0; packet < count; ++packet) {
        send.packet_pointers[packet] = send.data.data() + packet * length;
        send.packet_lengths[packet] = static_cast<unsigned int>(length);
    }
    return true;
}

void ReportSubmissionFailure(const SpaceWireCommand &send, const SpaceWireRun &run, std::FILE *output,
                             std::int32_t &error_count)
{
    const char *text = DisplayStatus(run.status);
    ConsoleGuard console;
    std::printf("Error submitting send command %d: %s\n", send.number, text);
    ++error_count;
    if (output != nullptr) {
        std::fprintf(output, "Error submitting send command %d: %s\n", send.number, text);
    }
}

void SubmitSend(DeviceHandle device, SpaceWireCommand &send, SpaceWireRun &run, std::uint64_t index, std::FILE *output,
                std::int32_t &error_count)
{
    Vantor_EnableSendEEPs(device, send.end_with_eep);
    if (send.packet_count == 1) {
        run.submitted = SpaceWireRun::SEND;
        run.status = Vantor_SendPacket(device, send.data.data(), static_cast<unsigned int>(send.data_length), 0,
                                       &run.transfer);
    } else if (send.packet_pointers || BuildPacketArrays(send)) {
        run.submitted = SpaceWireRun::SEND;
        run.status = Vantor_SendMultiplePacketLengths(device, send.packet_pointers.get(), send.packet_lengths.get(),
                                                      static_cast<unsigned int>(send.packet_count), 0, &run.transfer);
    } else {
        // Never handed to the library: nothing to wait for or release later.
        run.status = VANTOR_TRANSFER_ERROR_OUT_OF_MEMORY;
    }
    JournalHanded(index);
    if (!Accepted(run.status)) {
        ReportSubmissionFailure(send, run, output, error_count);
    }
    ProgressSent();
}

void SubmitReceive(DeviceHandle device, const SpaceWireCommand &receive, SpaceWireRun &run, std::uint64_t index,
                   std::int32_t &error_count)
{
    const auto count = static_cast<std::size_t>(receive.packet_count);
    const std::size_t size = count * static_cast<std::size_t>(receive.packet_length);
    run.buffer.reset(new (std::nothrow) std::uint8_t[size]);
    if (!run.buffer) {
        ConsoleGuard console;
        std::puts("Error allocating memory for receive command.");
        run.status = VANTOR_TRANSFER_ERROR_OUT_OF_MEMORY;
        CountFailure(run, error_count);
        return;
    }
    run.properties.reset(new (std::nothrow) PacketProperties[count]());
    if (!run.properties) {
        ConsoleGuard console;
        std::puts("Error allocating memory for receive command properties.");
        run.buffer.reset();
        run.status = VANTOR_TRANSFER_ERROR_OUT_OF_MEMORY;
        CountFailure(run, error_count);
        return;
    }
    run.submitted = SpaceWireRun::READ;
    run.status = Vantor_ReadPackets(device, run.buffer.get(), static_cast<unsigned int>(size),
                                    static_cast<unsigned int>(count), 0, run.properties.get(), &run.transfer);
    JournalHanded(index);
    if (!Accepted(run.status)) {
        ConsoleGuard console;
        std::printf("Error submitting receive command %d: %s\n", receive.number, DisplayStatus(run.status));
        CountFailure(run, error_count);
    }
}

// The final status of a send, collected before a receive or at the end.
void ReportSendFailure(const SpaceWireCommand &send, const SpaceWireRun &run, std::FILE *output,
                       std::int32_t &error_count)
{
    ConsoleGuard console;
    std::printf("Error sending command, %d\n", run.status);
    // The line above gives the status code; this one says which command and what happened.
    std::printf("Error sending command %d: %s\n", send.number, DisplayStatus(run.status));
    ++error_count;
    if (output != nullptr) {
        std::fprintf(output, "Error sending command %d\n", send.number);
    }
}

// The packets a read holds: the walk ends at the first entry not received,
// and at a length that would reach past the buffer, which is not the
// device's to claim.
std::size_t ReceivedPacketCount(const SpaceWireCommand &receive, const SpaceWireRun &run)
{
    if (!run.buffer || !run.properties) {
        return 0;
    }
    const auto count = static_cast<std::size_t>(std::max(receive.packet_count, 0));
    const std::size_t size = count * static_cast<std::size_t>(std::max(receive.packet_length, 0));
    std::size_t offset = 0;
    std::size_t received = 0;
    for (; received < count; ++received) {
        const std::uint64_t length = run.properties[received].len;
        if (length == 0 || length > size - offset) {
            break;
        }
        offset += static_cast<std::size_t>(length);
    }
    return received;
}

// Writes the packets a finished read received, whatever its status, then
// "T" when it timed out before all came or "E" when it failed.  A data file
// that cannot be written is reported; with -strict, so are fewer packets than
// asked for and a packet ended by EEP.  Each counts as the receive's one error.
void WriteReceivedPackets(const SpaceWireCommand &receive, SpaceWireRun &run, std::FILE *stream,
                          std::int32_t &error_count)
{
    const bool timed_out = run.status == VANTOR_TRANSFER_ERROR_TIMEOUT;
    const bool failed = !timed_out && run.status != VANTOR_TRANSFER_SUCCESS;
    const auto count = static_cast<std::size_t>(std::max(receive.packet_count, 0));
    const std::size_t received = ReceivedPacketCount(receive, run);
    std::size_t offset = 0;
    int data_file_error = 0;
    bool ended_by_eep = false;
    for (std::size_t k = 0; k < received; ++k) {
        const PacketProperties &packet = run.properties[k];
        const std::uint8_t *bytes = run.buffer.get() + offset;
        const auto length = static_cast<std::size_t>(packet.len);
        if (packet.eop == VANTOR_EOP_NONE) {
            std::fputs(timed_out ? "T P " : "P ", stream);
        } else {
            std::fputs("F ", stream);
        }
        ended_by_eep = ended_by_eep || packet.eop == VANTOR_EOP_EEP;
        if (!receive.filename.empty() && data_file_error == 0) {
            data_file_error = AppendBytesToFile(receive.filename.c_str(), {bytes, length});
        }
        DisplayData(bytes, static_cast<int>(length), packet.eop, stream);
        std::fputc('\n', stream);
        offset += length;
    }
    if (failed) {
        std::fputs("E\n", stream);
    } else if (received < count && timed_out) {
        std::fputs("T\n", stream);
    }
    if (data_file_error != 0) {
        ReportDataFileFailure(receive.number, receive.filename, data_file_error);
        CountFailure(run, error_count);
    }
    if (strict_mode && !failed && received < count) {
        ConsoleGuard console;
        std::printf("Error receiving command %d: %zu of %zu packets received.\n", receive.number, received, count);
        CountFailure(run, error_count);
    }
    if (strict_mode && ended_by_eep) {
        ConsoleGuard console;
        std::printf("Error receiving command %d: a packet ended with EEP.\n", receive.number);
        CountFailure(run, error_count);
    }
}

} // namespace

void ReleaseTransfers(DeviceHandle device, SpaceWireRun &run)
{
    if (run.transfer != nullptr) {
        if (run.submitted == SpaceWireRun::SEND) {
            Vantor_FreeSend(device, run.transfer);
        } else {
            Vantor_FreeRead(device, run.transfer);
        }
        run.transfer = nullptr;
    }
}

void CS_ExecuteCommandsInOrder(SpaceWireRuns &runs, SpaceWireCommand *list, std::FILE *output,
                               std::int32_t &error_count)
{
    const DeviceHandle device = runs.device();
    // The last send or receive executed, or a loop repeating nothing after it.
    struct Previous {
        const SpaceWireCommand *command = nullptr;
        SpaceWireRun *run = nullptr; // none for a loop
        std::uint64_t index = 0;
    } previous;
    const auto execute = [&](SpaceWireCommand &command, SpaceWireRun &run, std::uint64_t index) {
        if (command.type == SPACEWIRE_COMMAND_SEND) {
            SubmitSend(device, command, run, index, output, error_count);
            previous = Previous{&command, &run, index};
            return;
        }
        if (previous.run != nullptr && previous.command->type == SPACEWIRE_COMMAND_SEND &&
            previous.run->submitted != SpaceWireRun::NONE) {
            SpaceWireRun &send = *previous.run;
            send.status = Vantor_WaitOnSendCompleting(device, send.transfer, 0);
            JournalCollected(previous.index);
            // Collected here, so the final collection passes it over:
            // its failure is reported now, once.
            if (send.status != VANTOR_TRANSFER_SUCCESS) {
                ReportSendFailure(*previous.command, send, output, error_count);
            }
        }
        SubmitReceive(device, command, run, index, error_count);
        if (run.submitted != SpaceWireRun::NONE) {
            run.status = Vantor_WaitOnReadCompleting(device, run.transfer, 0);
            JournalCollected(index);
            if (run.status == VANTOR_TRANSFER_SUCCESS) {
                ProgressReceived();
            }
        }
        ProgressErrors(error_count);
        previous = Previous{&command, &run, index};
    };
    // A loop that repeats something passes the previous command through its
    // repetitions; one that repeats nothing takes its place.
    const auto on_loop = [&](const SpaceWireCommand &loop) {
        if (loop.number_to_repeat == 0) {
            previous = Previous{&loop, nullptr, 0};
        }
    };
    ExecuteInRunOrder(runs, list, error_count, execute, on_loop);
}

void CS_WaitOnSends(SpaceWireRuns &runs, SpaceWireCommand *list, std::FILE *output, std::int32_t &error_count)
{
    const DeviceHandle device = runs.device();
    VisitRuns(runs, list, [&](SpaceWireCommand &send, SpaceWireRun &run, std::uint64_t index) {
        if (send.type != SPACEWIRE_COMMAND_SEND || run.submitted == SpaceWireRun::NONE) {
            return;
        }
        if (run.status == VANTOR_TRANSFER_STARTED) {
            run.status = Vantor_WaitOnSendCompleting(device, run.transfer, 0);
            if (run.status != VANTOR_TRANSFER_SUCCESS) {
                ReportSendFailure(send, run, output, error_count);
            }
        }
        JournalCollected(index);
        ReleaseTransfers(device, run);
    });
}

void CS_WaitOnReads(SpaceWireRuns &runs, SpaceWireCommand *list, std::FILE *stream, std::int32_t &error_count)
{
    const DeviceHandle device = runs.device();
    VisitRuns(runs, list, [&](SpaceWireCommand &receive, SpaceWireRun &run, std::uint64_t index) {
        if (receive.type != SPACEWIRE_COMMAND_RECEIVE) {
            return;
        }
        if (run.submitted != SpaceWireRun::NONE && run.status == VANTOR_TRANSFER_STARTED) {
            run.status = Vantor_WaitOnReadCompleting(device, run.transfer, 0);
        }
        JournalCollected(index);
        ConsoleGuard console(stream == stdout);
        if (run.status != VANTOR_TRANSFER_SUCCESS && run.status != VANTOR_TRANSFER_ERROR_TIMEOUT) {
            ConsoleGuard error_line;
            std::printf("Error receiving command %d: %s\n", receive.number, DisplayStatus(run.status));
            CountFailure(run, error_count);
        }
        WriteReceivedPackets(receive, run, stream, error_count);
        ReleaseTransfers(device, run);
    });
}

namespace {

const char *EndName(int eop) { return eop == VANTOR_EOP_EOP ? "EOP" : eop == VANTOR_EOP_EEP ? "EEP" : "none"; }

void RecordCommand(const SpaceWireCommand &command, const SpaceWireRun &run, std::uint64_t index)
{
    JournalCounts &counts = JournalCount();
    const bool send = command.type == SPACEWIRE_COMMAND_SEND;
    ++counts.commands;
    counts.timeouts += run.status == VANTOR_TRANSFER_ERROR_TIMEOUT ? 1 : 0;
    const std::size_t received = send ? 0 : ReceivedPacketCount(command, run);
    counts.replies += static_cast<long long>(received);
    if (!JournalOn()) {
        return;
    }
    JsonLine &line = JournalCommand(index, command.number, send ? "send" : "receive");
    if (send) {
        // data holds the packet once for every copy sent.
        line.Hex("data", std::span(command.data.data(),
                                   std::min(command.data.size(), static_cast<std::size_t>(command.data_length))));
        line.Number("packets", std::int64_t{command.packet_count});
        line.Text("end", command.end_with_eep != 0 ? "EEP" : "EOP");
    } else {
        line.Array("packets");
        std::size_t offset = 0;
        for (std::size_t k = 0; k < received; ++k) {
            const PacketProperties &packet = run.properties[k];
            line.Element();
            line.Hex("data", std::span(run.buffer.get() + offset, static_cast<std::size_t>(packet.len)));
            line.Text("end", EndName(packet.eop));
            line.End();
            offset += static_cast<std::size_t>(packet.len);
        }
        line.End();
    }
    if (run.status == VANTOR_TRANSFER_SUCCESS) {
        line.Text("outcome", send ? "sent" : "received");
    } else if (run.status == VANTOR_TRANSFER_ERROR_TIMEOUT) {
        line.Text("outcome", "timeout");
    } else if (run.status == VANTOR_TRANSFER_STARTED) {
        line.Text("outcome", "not collected"); // the run was interrupted first
    } else {
        line.Text("outcome", "error");
        line.Object("error");
        line.Text("which", send ? "send" : "receive");
        line.Number("status", std::int64_t{run.status});
        line.Text("text", DisplayStatus(run.status));
        line.End();
    }
    JournalWrite();
}

} // namespace

void CS_RecordRun(SpaceWireRuns &runs, const SpaceWireCommand *list)
{
    VisitRuns(runs, list, [](const SpaceWireCommand &command, const SpaceWireRun &run, std::uint64_t index) {
        if (run.status != VANTOR_TRANSFER_NOT_STARTED) {
            RecordCommand(command, run, index);
        }
    });
}
