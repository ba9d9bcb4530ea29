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

TransferId SendOf(const SpaceWireCommand &send) { return std::get<OwnedSend>(send.transfer).id(); }
TransferId ReadOf(const SpaceWireCommand &receive) { return std::get<OwnedRead>(receive.transfer).id(); }

bool Accepted(TransferStatus status)
{
    return status == VANTOR_TRANSFER_STARTED || status == VANTOR_TRANSFER_SUCCESS;
}

void CountFailure(SpaceWireCommand &command, std::int32_t &error_count)
{
    if (!command.failure_counted) {
        command.failure_counted = true;
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

void ReportSubmissionFailure(const SpaceWireCommand &send, std::FILE *output, std::int32_t &error_count)
{
    const char *text = DisplayStatus(send.status);
    ConsoleGuard console;
    std::printf("Error submitting send command %d: %s\n", send.number, text);
    ++error_count;
    if (output != nullptr) {
        std::fprintf(output, "Error submitting send command %d: %s\n", send.number, text);
    }
}

void SubmitSend(DeviceHandle device, SpaceWireCommand &send, std::FILE *output, std::int32_t &error_count)
{
    Vantor_EnableSendEEPs(device, send.end_with_eep);
    if (send.packet_count == 1) {
        send.status = Vantor_SendPacket(device, send.data.data(), static_cast<unsigned int>(send.data_length), 0,
                                        send.transfer.emplace<OwnedSend>().Start(device));
    } else if (BuildPacketArrays(send)) {
        send.status = Vantor_SendMultiplePacketLengths(device, send.packet_pointers.get(), send.packet_lengths.get(),
                                                       static_cast<unsigned int>(send.packet_count), 0,
                                                       send.transfer.emplace<OwnedSend>().Start(device));
    } else {
        // Never handed to the library: nothing to wait for or release later.
        send.status = VANTOR_TRANSFER_ERROR_OUT_OF_MEMORY;
    }
    JournalHanded(&send);
    if (!Accepted(send.status)) {
        ReportSubmissionFailure(send, output, error_count);
    }
    ProgressSent();
}

void SubmitReceive(DeviceHandle device, SpaceWireCommand &receive, std::int32_t &error_count)
{
    const auto count = static_cast<std::size_t>(receive.packet_count);
    const std::size_t size = count * static_cast<std::size_t>(receive.packet_length);
    receive.buffer.reset(new (std::nothrow) std::uint8_t[size]);
    if (!receive.buffer) {
        ConsoleGuard console;
        std::puts("Error allocating memory for receive command.");
        receive.status = VANTOR_TRANSFER_ERROR_OUT_OF_MEMORY;
        CountFailure(receive, error_count);
        return;
    }
    receive.properties.reset(new (std::nothrow) PacketProperties[count]());
    if (!receive.properties) {
        ConsoleGuard console;
        std::puts("Error allocating memory for receive command properties.");
        receive.buffer.reset();
        receive.status = VANTOR_TRANSFER_ERROR_OUT_OF_MEMORY;
        CountFailure(receive, error_count);
        return;
    }
    receive.status = Vantor_ReadPackets(device, receive.buffer.get(), static_cast<unsigned int>(size),
                                        static_cast<unsigned int>(count), 0, receive.properties.get(),
                                        receive.transfer.emplace<OwnedRead>().Start(device));
    JournalHanded(&receive);
    if (!Accepted(receive.status)) {
        ConsoleGuard console;
        std::printf("Error submitting receive command %d: %s\n", receive.number, DisplayStatus(receive.status));
        CountFailure(receive, error_count);
    }
}

// The final status of a send, collected before a receive or at the end.
void ReportSendFailure(const SpaceWireCommand &send, std::FILE *output, std::int32_t &error_count)
{
    ConsoleGuard console;
    std::printf("Error sending command, %d\n", send.status);
    // The line above gives the status code; this one says which command and what happened.
    std::printf("Error sending command %d: %s\n", send.number, DisplayStatus(send.status));
    ++error_count;
    if (output != nullptr) {
        std::fprintf(output, "Error sending command %d\n", send.number);
    }
}

// Runs one record on its own: cut from its successor for the call.
template <typename Execute>
void ExecuteAlone(SpaceWireCommand &command, Execute execute)
{
    SpaceWireCommandList following = std::move(command.next);
    execute(&command);
    command.next = std::move(following);
}

// The packets a read holds: the walk ends at the first entry not received,
// and at a length that would reach past the buffer, which is not the
// device's to claim.
std::size_t ReceivedPacketCount(const SpaceWireCommand &receive)
{
    if (!receive.buffer || !receive.properties) {
        return 0;
    }
    const auto count = static_cast<std::size_t>(std::max(receive.packet_count, 0));
    const std::size_t size = count * static_cast<std::size_t>(std::max(receive.packet_length, 0));
    std::size_t offset = 0;
    std::size_t received = 0;
    for (; received < count; ++received) {
        const std::uint64_t length = receive.properties[received].len;
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
void WriteReceivedPackets(SpaceWireCommand &receive, std::FILE *stream, std::int32_t &error_count)
{
    const bool timed_out = receive.status == VANTOR_TRANSFER_ERROR_TIMEOUT;
    const bool failed = !timed_out && receive.status != VANTOR_TRANSFER_SUCCESS;
    const auto count = static_cast<std::size_t>(std::max(receive.packet_count, 0));
    const std::size_t received = ReceivedPacketCount(receive);
    std::size_t offset = 0;
    int data_file_error = 0;
    bool ended_by_eep = false;
    for (std::size_t k = 0; k < received; ++k) {
        const PacketProperties &packet = receive.properties[k];
        const std::uint8_t *bytes = receive.buffer.get() + offset;
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
        CountFailure(receive, error_count);
    }
    if (strict_mode && !failed && received < count) {
        ConsoleGuard console;
        std::printf("Error receiving command %d: %zu of %zu packets received.\n", receive.number, received, count);
        CountFailure(receive, error_count);
    }
    if (strict_mode && ended_by_eep) {
        ConsoleGuard console;
        std::printf("Error receiving command %d: a packet ended with EEP.\n", receive.number);
        CountFailure(receive, error_count);
    }
}

} // namespace

void CS_ExecuteSendCommands(DeviceHandle device, SpaceWireCommand *list, std::FILE *output,
                            std::int32_t &error_count)
{
    VisitInRunOrder(list, [&](SpaceWireCommand &command) {
        if (command.type == SPACEWIRE_COMMAND_SEND) {
            SubmitSend(device, command, output, error_count);
        }
    });
}

void CS_ExecuteReadCommands(DeviceHandle device, SpaceWireCommand *list, std::int32_t &error_count)
{
    VisitInRunOrder(list, [&](SpaceWireCommand &command) {
        if (command.type == SPACEWIRE_COMMAND_RECEIVE) {
            SubmitReceive(device, command, error_count);
        }
    });
}

SpaceWireCommand *CS_ExecuteCommandsInOrder(DeviceHandle device, SpaceWireCommand *list, std::FILE *output,
                                            std::int32_t &error_count, SpaceWireCommand *previous)
{
    VisitInRunOrder(list, [&](SpaceWireCommand &command) {
        if (StreamRunInterrupted()) {
            return;
        }
        switch (command.type) {
        case SPACEWIRE_COMMAND_SEND:
            ExecuteAlone(command, [&](SpaceWireCommand *alone) {
                CS_ExecuteSendCommands(device, alone, output, error_count);
            });
            previous = &command;
            break;
        case SPACEWIRE_COMMAND_RECEIVE:
            if (previous != nullptr && previous->type == SPACEWIRE_COMMAND_SEND && Submitted(*previous)) {
                previous->status = Vantor_WaitOnSendCompleting(device, SendOf(*previous), 0);
                JournalCollected(previous);
                // Collected here, so the final collection passes it over:
                // its failure is reported now, once.
                if (previous->status != VANTOR_TRANSFER_SUCCESS) {
                    ReportSendFailure(*previous, output, error_count);
                }
            }
            ExecuteAlone(command, [&](SpaceWireCommand *alone) {
                CS_ExecuteReadCommands(device, alone, error_count);
            });
            if (Submitted(command)) {
                command.status = Vantor_WaitOnReadCompleting(device, ReadOf(command), 0);
                JournalCollected(&command);
                if (command.status == VANTOR_TRANSFER_SUCCESS) {
                    ProgressReceived();
                }
            }
            ProgressErrors(error_count);
            previous = &command;
            break;
        case SPACEWIRE_COMMAND_LOOP:
            // A loop that repeats something passes the previous command
            // through its repetitions; one that repeats nothing takes its place.
            if (command.number_to_repeat == 0) {
                previous = &command;
            }
            break;
        }
    });
    return previous;
}

void CS_WaitOnSends(DeviceHandle device, SpaceWireCommand *list, std::FILE *output, std::int32_t &error_count)
{
    VisitInRunOrder(list, [&](SpaceWireCommand &send) {
        if (send.type != SPACEWIRE_COMMAND_SEND || !Submitted(send)) {
            return;
        }
        if (send.status == VANTOR_TRANSFER_STARTED) {
            send.status = Vantor_WaitOnSendCompleting(device, SendOf(send), 0);
            if (send.status != VANTOR_TRANSFER_SUCCESS) {
                ReportSendFailure(send, output, error_count);
            }
        }
        JournalCollected(&send);
        send.transfer = std::monostate{};
    });
}

void CS_WaitOnReads(DeviceHandle device, SpaceWireCommand *list, std::FILE *stream, std::int32_t &error_count)
{
    VisitInRunOrder(list, [&](SpaceWireCommand &receive) {
        if (receive.type != SPACEWIRE_COMMAND_RECEIVE) {
            return;
        }
        // An interrupted run leaves the receives it never reached; they have no result.
        if (!Submitted(receive) && receive.status == VANTOR_TRANSFER_NOT_STARTED && StreamRunInterrupted()) {
            return;
        }
        if (Submitted(receive) && receive.status == VANTOR_TRANSFER_STARTED) {
            receive.status = Vantor_WaitOnReadCompleting(device, ReadOf(receive), 0);
        }
        JournalCollected(&receive);
        ConsoleGuard console(stream == stdout);
        if (receive.status != VANTOR_TRANSFER_SUCCESS && receive.status != VANTOR_TRANSFER_ERROR_TIMEOUT) {
            ConsoleGuard error_line;
            std::printf("Error receiving command %d: %s\n", receive.number, DisplayStatus(receive.status));
            CountFailure(receive, error_count);
        }
        WriteReceivedPackets(receive, stream, error_count);
        receive.transfer = std::monostate{};
    });
}

namespace {

const char *EndName(int eop) { return eop == VANTOR_EOP_EOP ? "EOP" : eop == VANTOR_EOP_EEP ? "EEP" : "none"; }

void RecordCommand(const SpaceWireCommand &command)
{
    JournalCounts &counts = JournalCount();
    const bool send = command.type == SPACEWIRE_COMMAND_SEND;
    ++counts.commands;
    counts.timeouts += command.status == VANTOR_TRANSFER_ERROR_TIMEOUT ? 1 : 0;
    const std::size_t received = send ? 0 : ReceivedPacketCount(command);
    counts.replies += static_cast<long long>(received);
    if (!JournalOn()) {
        return;
    }
    JsonLine &line = JournalCommand(&command, command.number, send ? "send" : "receive");
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
            const PacketProperties &packet = command.properties[k];
            line.Element();
            line.Hex("data", std::span(command.buffer.get() + offset, static_cast<std::size_t>(packet.len)));
            line.Text("end", EndName(packet.eop));
            line.End();
            offset += static_cast<std::size_t>(packet.len);
        }
        line.End();
    }
    if (command.status == VANTOR_TRANSFER_SUCCESS) {
        line.Text("outcome", send ? "sent" : "received");
    } else if (command.status == VANTOR_TRANSFER_ERROR_TIMEOUT) {
        line.Text("outcome", "timeout");
    } else if (command.status == VANTOR_TRANSFER_STARTED) {
        line.Text("outcome", "not collected"); // the run was interrupted first
    } else {
        line.Text("outcome", "error");
        line.Object("error");
        line.Text("which", send ? "send" : "receive");
        line.Number("status", std::int64_t{command.status});
        line.Text("text", DisplayStatus(command.status));
        line.End();
    }
    JournalWrite();
}

} // namespace

void CS_RecordRun(const SpaceWireCommand *list)
{
    VisitInRunOrder(list, [](const SpaceWireCommand &command) {
        if (command.type != SPACEWIRE_COMMAND_LOOP && command.status != VANTOR_TRANSFER_NOT_STARTED) {
            RecordCommand(command);
        }
    });
}
