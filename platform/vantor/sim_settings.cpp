#include "sim_settings.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>

#include "memory_map.h"

namespace vantor_sim {
namespace {

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

bool SameWord(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        if (x >= 'A' && x <= 'Z') {
            x = static_cast<char>(x - 'A' + 'a');
        }
        if (x != b[i]) {
            return false;
        }
    }
    return true;
}

// Whole text as one integer in [low, high]; signs only where low < 0.
std::optional<long long> ReadInteger(std::string_view text, long long low, long long high, int base = 10)
{
    text = Trim(text);
    if (text.empty() || text.front() == '+' || (low >= 0 && text.front() == '-')) {
        return std::nullopt;
    }
    long long value = 0;
    const char *end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value, base);
    if (error != std::errc() || stop != end || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint8_t> ReadHexByte(std::string_view text)
{
    text = Trim(text);
    if (text.empty() || text.size() > 2) {
        return std::nullopt;
    }
    auto value = ReadInteger(text, 0, 255, 16);
    if (!value) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(*value);
}

// Splits at every separator; empty pieces are kept so that "1,,2" can be refused.
std::vector<std::string_view> Split(std::string_view text, char separator)
{
    std::vector<std::string_view> pieces;
    for (;;) {
        std::size_t at = text.find(separator);
        pieces.push_back(text.substr(0, at));
        if (at == std::string_view::npos) {
            return pieces;
        }
        text.remove_prefix(at + 1);
    }
}

bool ReadVersion(std::string_view value, double &version);

bool ReadSeconds(std::string_view value, double &seconds)
{
    double result = 0.0;
    if (!ReadVersion(value, result) || !(result > 0.0)) {
        return false;
    }
    seconds = result;
    return true;
}

bool ReadDevices(std::string_view value, std::vector<AttachedDevice> &devices)
{
    std::vector<AttachedDevice> result;
    std::uint32_t seen = 0;
    if (!Trim(value).empty()) {
        for (std::string_view entry : Split(value, ',')) {
            std::size_t colon = entry.find(':');
            if (colon == std::string_view::npos) {
                return false;
            }
            const std::size_t at = entry.find('@');
            AttachedDevice device;
            if (at != std::string_view::npos) {
                std::optional<Endpoint> endpoint = ParseEndpoint(entry.substr(at + 1));
                if (at < colon || !endpoint) {
                    return false;
                }
                device.host = std::move(endpoint->host);
                device.port = endpoint->port;
            }
            auto number = ReadInteger(entry.substr(0, colon), 0, 31);
            auto type = ReadInteger(entry.substr(colon + 1, at == std::string_view::npos ? at : at - colon - 1),
                                    std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
            if (!number || !type || (seen & (1u << *number)) != 0) {
                return false;
            }
            seen |= 1u << *number;
            device.number = static_cast<int>(*number);
            device.type = static_cast<int>(*type);
            result.push_back(std::move(device));
        }
    }
    devices = std::move(result);
    return true;
}

bool ReadDeviceNumbers(std::string_view value, std::uint32_t &mask)
{
    std::uint32_t result = 0;
    if (!Trim(value).empty()) {
        for (std::string_view entry : Split(value, ',')) {
            auto number = ReadInteger(entry, 0, 31);
            if (!number) {
                return false;
            }
            result |= 1u << *number;
        }
    }
    mask = result;
    return true;
}

bool ReadVersion(std::string_view value, double &version)
{
    value = Trim(value);
    double result = 0.0;
    const char *end = value.data() + value.size();
    auto [stop, error] = std::from_chars(value.data(), end, result);
    if (value.empty() || error != std::errc() || stop != end || !std::isfinite(result)) {
        return false;
    }
    version = result;
    return true;
}

bool ReadFarEnd(std::string_view value, FarEnd &far_end)
{
    value = Trim(value);
    if (SameWord(value, "both")) {
        far_end = FarEnd::Both;
    } else if (SameWord(value, "target")) {
        far_end = FarEnd::Target;
    } else if (SameWord(value, "loopback")) {
        far_end = FarEnd::Loopback;
    } else if (SameWord(value, "silent")) {
        far_end = FarEnd::Silent;
    } else {
        return false;
    }
    return true;
}

bool ReadReplyFault(std::string_view value, ReplyFault &fault)
{
    struct Word {
        std::string_view word;
        ReplyFault fault;
    };
    static constexpr Word kWords[] = {
        {"none", ReplyFault::None},         {"header_crc", ReplyFault::HeaderCrc},
        {"data_crc", ReplyFault::DataCrc},  {"truncate", ReplyFault::Truncate},
        {"pad", ReplyFault::Pad},           {"transaction_id", ReplyFault::TransactionId},
        {"eep", ReplyFault::Eep},           {"duplicate", ReplyFault::Duplicate},
        {"drop", ReplyFault::Drop},
    };
    value = Trim(value);
    for (const Word &w : kWords) {
        if (SameWord(value, w.word)) {
            fault = w.fault;
            return true;
        }
    }
    return false;
}

bool ReadStatus(std::string_view value, std::optional<int> &status)
{
    auto number = ReadInteger(value, 0, 14);
    if (!number) {
        return false;
    }
    status = static_cast<int>(*number);
    return true;
}

bool ReadMap(std::string_view value, std::shared_ptr<const MemoryMap> &map, std::string &reason)
{
    value = Trim(value);
    if (value.empty()) {
        return false;
    }
    ParsedMap parsed = ReadMemoryMap(std::filesystem::path(std::string(value)));
    if (!parsed.map) {
        reason = std::move(parsed.problem);
        return false;
    }
    map = std::make_shared<const MemoryMap>(std::move(*parsed.map));
    return true;
}

// Applies one item; false when it is malformed, with the reason where there is more to say than the item.
bool ApplyItem(std::string_view name, std::string_view value, Settings &settings, std::string &reason)
{
    if (SameWord(name, "devices")) {
        return ReadDevices(value, settings.devices);
    }
    if (SameWord(name, "unopenable")) {
        return ReadDeviceNumbers(value, settings.unopenable_mask);
    }
    if (SameWord(name, "version")) {
        return ReadVersion(value, settings.version);
    }
    if (SameWord(name, "far_end")) {
        return ReadFarEnd(value, settings.far_end);
    }
    if (SameWord(name, "target")) {
        // Bytes below 0x20 are path addresses, never a logical address.
        auto address = ReadHexByte(value);
        if (address && *address < 0x20) {
            return false;
        }
        if (address) {
            settings.target_logical_address = *address;
        }
        return address.has_value();
    }
    if (SameWord(name, "key")) {
        auto key = ReadHexByte(value);
        if (key) {
            settings.key = *key;
        }
        return key.has_value();
    }
    if (SameWord(name, "send_status")) {
        return ReadStatus(value, settings.send_status);
    }
    if (SameWord(name, "read_status")) {
        return ReadStatus(value, settings.read_status);
    }
    if (SameWord(name, "reply_fault")) {
        return ReadReplyFault(value, settings.reply_fault);
    }
    if (SameWord(name, "reply_fault_every")) {
        auto every = ReadInteger(value, 1, std::numeric_limits<std::uint32_t>::max());
        if (every) {
            settings.reply_fault_every = static_cast<std::uint32_t>(*every);
        }
        return every.has_value();
    }
    if (SameWord(name, "packet_limit")) {
        auto limit = ReadInteger(value, 1, std::numeric_limits<std::uint32_t>::max());
        if (limit) {
            settings.packet_limit = static_cast<std::uint64_t>(*limit);
        }
        return limit.has_value();
    }
    if (SameWord(name, "idle_wait")) {
        return ReadSeconds(value, settings.idle_wait_seconds);
    }
    if (SameWord(name, "stall_limit")) {
        return ReadSeconds(value, settings.stall_limit_seconds);
    }
    if (SameWord(name, "memory_map")) {
        return ReadMap(value, settings.memory_map, reason);
    }
    if (SameWord(name, "trace") || SameWord(name, "capture")) {
        value = Trim(value);
        if (value.empty()) {
            return false;
        }
        (SameWord(name, "trace") ? settings.trace_path : settings.capture_path) = std::string(value);
        return true;
    }
    return false;
}

} // namespace

std::optional<Endpoint> ParseEndpoint(std::string_view text, bool zero_port)
{
    text = Trim(text);
    std::string_view host;
    std::string_view port;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            return std::nullopt;
        }
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else {
        const std::size_t colon = text.rfind(':');
        if (colon == std::string_view::npos) {
            return std::nullopt;
        }
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        // An IPv6 address needs its brackets, or its port could not be told apart.
        if (host.find(':') != std::string_view::npos) {
            return std::nullopt;
        }
    }
    auto number = ReadInteger(port, zero_port ? 0 : 1, 65535);
    if (host.empty() || !number || host.find_first_of(" \t") != std::string_view::npos) {
        return std::nullopt;
    }
    return Endpoint{std::string(host), static_cast<std::uint16_t>(*number)};
}

std::string EndpointText(const std::string &host, std::uint16_t port)
{
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

ParsedSettings ParseSettings(std::string_view text)
{
    ParsedSettings parsed;
    for (std::string_view item : Split(text, ';')) {
        item = Trim(item);
        if (item.empty()) {
            continue;
        }
        std::size_t equals = item.find('=');
        std::string reason;
        if (equals == std::string_view::npos ||
            !ApplyItem(Trim(item.substr(0, equals)), item.substr(equals + 1), parsed.settings, reason)) {
            parsed.malformed.emplace_back(item);
            parsed.reasons.push_back(std::move(reason));
        }
    }
    return parsed;
}

std::string ComplaintLine(const std::vector<std::string> &malformed, const std::vector<std::string> &reasons)
{
    if (malformed.empty()) {
        return {};
    }
    std::string line = malformed.size() == 1 ? "VANTOR_SIM: ignored malformed setting"
                                             : "VANTOR_SIM: ignored malformed settings";
    for (std::size_t i = 0; i < malformed.size(); ++i) {
        line += i == 0 ? " \"" : ", \"";
        line += malformed[i];
        line += '"';
        if (i < reasons.size() && !reasons[i].empty()) {
            line += " (" + reasons[i] + ")";
        }
    }
    line += '\n';
    return line;
}

} // namespace vantor_sim
