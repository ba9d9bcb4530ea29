// The in-process link: single-threaded and synchronous.  A packet sent
// reaches the far end while the send call runs, and its answer arrives at the
// device before the call returns.
#include <thread>

#include "link.h"
#include "link_backend.h"

namespace vantor_sim {
namespace {

constexpr std::size_t kKeptReplyRoom = 64 * 1024;

bool Open(SimState &, Device &) { return true; }

TransferStatus Send(SimState &state, Device &device, PacketViews packets, int eop)
{
    const TransferStatus final_status = state.settings.send_status.value_or(VANTOR_TRANSFER_SUCCESS);
    if (final_status != VANTOR_TRANSFER_SUCCESS) {
        return final_status;
    }
    std::vector<Packet> &answers = state.answers;
    for (std::span<const std::uint8_t> bytes : packets) {
        const Packet &sent = RecordSent(state, device, bytes, eop);
        answers.clear();
        // A looped-back packet is delivered from the log's copy: a read
        // waiting for it takes the bytes without another copy being made.
        if (AnswerPacket(state.settings, state.far_end, sent.bytes, sent.eop, answers) == Answer::Loopback) {
            Arrive(state, device, sent);
        }
        for (const Packet &answer : answers) {
            Arrive(state, device, answer);
        }
        // Delivered: the last answer's room serves the next reply, unless
        // it is too large to keep for the rest of the run.
        if (!answers.empty() && answers.back().bytes.capacity() <= kKeptReplyRoom) {
            state.far_end.spare_reply = std::move(answers.back().bytes);
        }
    }
    return VANTOR_TRANSFER_SUCCESS;
}

TransferStatus StartRead(SimState &state, Device &)
{
    return state.settings.read_status.value_or(VANTOR_TRANSFER_STARTED);
}

void Poll(SimState &state, Device &device) { ExpireReads(state, device); }

// Nothing the far end sends can arrive while the caller waits, so an
// unfinished read ends with status 6 at its deadline, or at once without one.
TransferStatus Wait(SimState &state, Device &device, std::uint64_t key, std::unique_lock<std::mutex> &lock)
{
    ExpireReads(state, device);
    ReadSlot *read = FindRead(state, key);
    if (read->status == VANTOR_TRANSFER_STARTED && read->timed) {
        const Clock::time_point deadline = read->deadline;
        read = SleepUnlocked(state, lock, key, [deadline] { std::this_thread::sleep_until(deadline); });
        if (read == nullptr) {
            return VANTOR_TRANSFER_ERROR_NOT_FOUND;
        }
    }
    if (read->status == VANTOR_TRANSFER_STARTED) {
        read->status = VANTOR_TRANSFER_ERROR_TIMEOUT;
        Unpend(state, device, *read);
    }
    return read->status;
}

void SetReceiving(SimState &, Device &, bool) {}

} // namespace

const LinkBackend kInProcessLink{Open, Send, StartRead, Poll, Wait, SetReceiving};

} // namespace vantor_sim
