#include "far_end.h"

#include "memory_map.h"
#include "reply_faults.h"
#include "rmap_target.h"

namespace vantor_sim {
namespace {

// Path address bytes in front of a packet, as routers would take them off.
std::span<const std::uint8_t> WithoutPath(std::span<const std::uint8_t> bytes)
{
    std::size_t path = 0;
    while (path < bytes.size() && bytes[path] < 32) {
        ++path;
    }
    return bytes.subspan(path);
}

// The routers on the way back take the reply path off, and a faulty far end
// spoils every n-th reply.
void ReturnReply(const Settings &settings, FarEndState &far_end, TargetReply reply, std::vector<Packet> &answers)
{
    reply.bytes.erase(reply.bytes.begin(), reply.bytes.begin() + static_cast<std::ptrdiff_t>(reply.path_length));
    ++far_end.replies_sent;
    if (!IsFaultyReply(settings, far_end.replies_sent)) {
        answers.push_back(Packet{std::move(reply.bytes), VANTOR_EOP_EOP});
        return;
    }
    for (Packet &packet : ApplyReplyFault(settings.reply_fault, std::move(reply.bytes), reply.has_data_field)) {
        answers.push_back(std::move(packet));
    }
}

} // namespace

void ResetFarEnd(const Settings &settings, FarEndState &far_end)
{
    far_end = FarEndState{};
    if (settings.memory_map) {
        LayOutMemory(*settings.memory_map, far_end.memory);
    }
}

Answer AnswerPacket(const Settings &settings, FarEndState &far_end, std::span<const std::uint8_t> sent, int eop,
                    std::vector<Packet> &answers)
{
    const FarEnd kind = settings.far_end;
    std::span<const std::uint8_t> at_target = WithoutPath(sent);
    if ((kind == FarEnd::Both || kind == FarEnd::Target) &&
        IsTargetCommand(at_target, settings)) {
        if (auto reply = ExecuteTargetCommand(at_target, eop, settings, far_end.memory,
                                              std::move(far_end.spare_reply))) {
            ReturnReply(settings, far_end, std::move(*reply), answers);
        }
        return Answer::Replies;
    }
    return kind == FarEnd::Both || kind == FarEnd::Loopback ? Answer::Loopback : Answer::Replies;
}

void AnswerPacket(const Settings &settings, FarEndState &far_end, Packet sent, std::vector<Packet> &answers)
{
    if (AnswerPacket(settings, far_end, sent.bytes, sent.eop, answers) == Answer::Loopback) {
        answers.push_back(std::move(sent));
    }
}

} // namespace vantor_sim
