#include "node_options.h"

#include <charconv>
#include <getopt.h>
#include <optional>

namespace vantor_node {
namespace {

constexpr const char *kManual =
    "Usage: spacewire_zark_node [OPTION]...\n"
    "Serves the simulated far end of a SpaceWire link (an RMAP target with memory\n"
    "and a loopback) over TCP, framed as SSDTP2, one connection per link.\n"
    "\n"
    "  --listen=ADDR:PORT       where to listen (default 127.0.0.1:10030; IPv6 as\n"
    "                           [ADDR]:PORT); port 0 picks free ports, printed at start\n"
    "  --links=N                N links on ports PORT to PORT+N-1 (1 to 32, default 1)\n"
    "  --far-end=WHAT           both, target, loopback or silent (default both)\n"
    "  --target=HH              the target's logical address, hexadecimal (default fe)\n"
    "  --key=HH                 the key the target demands (default: any key)\n"
    "  --memory-map=PATH        the target's memory map: regions and their rules,\n"
    "                           logical addresses, key (default: none, all memory)\n"
    "  --reply-fault=KIND       spoil target replies: none, header_crc, data_crc,\n"
    "                           truncate, pad, transaction_id, eep, duplicate, drop\n"
    "  --reply-fault-every=N    spoil the N-th, 2N-th... reply (default 1)\n"
    "  --trace=PATH             append every packet received (>) and sent back (<)\n"
    "  --capture=PATH           write every packet and time-code, with its time, to a\n"
    "                           pcap file for Wireshark (link type 147, USER0)\n"
    "  --packet-limit=BYTES     largest packet accepted (default 16777216)\n"
    "  --stall-limit=S          drop a client silent for S seconds in the middle of a\n"
    "                           packet, or taking none of its replies for S seconds\n"
    "                           (default 10)\n"
    "  --once                   serve one connection, then exit\n"
    "  --help                   print this help and exit\n"
    "  --version                print the version and exit\n"
    "\n"
    "The target's memory belongs to the node and outlives connections.  A second\n"
    "client on a busy link is refused.  Connections and broken peers are logged on\n"
    "standard error; SIGINT and SIGTERM end the node.\n";

// A far-end option is one of the device library's settings: sound when that
// setting alone reads without complaint.  Nothing when sound, else the reason
// given beside it (empty when the value says it all).
std::optional<std::string> SettingProblem(const std::string &item)
{
    if (item.find(';', item.find('=')) != std::string::npos) {
        return std::string();
    }
    const vantor_sim::ParsedSettings parsed = vantor_sim::ParseSettings(item);
    if (parsed.malformed.empty()) {
        return std::nullopt;
    }
    return parsed.reasons.empty() ? std::string() : parsed.reasons.front();
}

ParsedOptions Failure(std::string reason)
{
    ParsedOptions parsed;
    parsed.outcome = ParseOutcome::Fail;
    parsed.message = "spacewire_zark_node: " + std::move(reason) + " (--help lists the options)\n";
    return parsed;
}

} // namespace

ParsedOptions ParseNodeOptions(int argc, char **argv)
{
    enum { kListen = 1, kLinks, kOnce, kHelp, kVersion, kFirstSetting };
    struct SettingOption {
        const char *option;
        const char *setting;
    };
    static constexpr SettingOption kSettings[] = {
        {"far-end", "far_end"},
        {"target", "target"},
        {"key", "key"},
        {"memory-map", "memory_map"},
        {"reply-fault", "reply_fault"},
        {"reply-fault-every", "reply_fault_every"},
        {"packet-limit", "packet_limit"},
        {"stall-limit", "stall_limit"},
    };
    constexpr int kSettingCount = static_cast<int>(std::size(kSettings));
    std::vector<option> table = {
        {"listen", required_argument, nullptr, kListen}, {"links", required_argument, nullptr, kLinks},
        {"once", no_argument, nullptr, kOnce},           {"help", no_argument, nullptr, kHelp},
        {"version", no_argument, nullptr, kVersion},     {"trace", required_argument, nullptr, 'T'},
        {"capture", required_argument, nullptr, 'C'},
    };
    for (int i = 0; i < kSettingCount; ++i) {
        table.push_back(option{kSettings[i].option, required_argument, nullptr, kFirstSetting + i});
    }
    table.push_back(option{nullptr, 0, nullptr, 0});

    ParsedOptions parsed;
    std::string far_end; // the far-end options as settings, read together at the end
    opterr = 0;
    optind = 1;
    for (;;) {
        const int previous = optind;
        const int code = getopt_long(argc, argv, ":", table.data(), nullptr);
        if (code == -1) {
            break;
        }
        const std::string given = previous < argc ? argv[previous] : "";
        switch (code) {
        case kListen:
            if (auto endpoint = vantor_sim::ParseEndpoint(optarg, true)) {
                parsed.options.host = std::move(endpoint->host);
                parsed.options.port = endpoint->port;
            } else {
                return Failure("invalid --listen value '" + std::string(optarg) + "'");
            }
            break;
        case kLinks: {
            int links = 0;
            const std::string_view text(optarg);
            auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), links);
            if (error != std::errc() || stop != text.data() + text.size() || links < 1 || links > kMostLinks) {
                return Failure("invalid --links value '" + std::string(optarg) + "'");
            }
            parsed.options.links = links;
            break;
        }
        case kOnce:
            parsed.options.once = true;
            break;
        case kHelp:
            parsed.outcome = ParseOutcome::Exit;
            parsed.message = kManual;
            return parsed;
        case kVersion:
            parsed.outcome = ParseOutcome::Exit;
            parsed.message = "spacewire_zark_node " ZARK_VERSION "\n";
            return parsed;
        case 'T':
            if (*optarg == '\0') {
                return Failure("invalid --trace value ''");
            }
            parsed.options.trace_path = optarg;
            break;
        case 'C':
            if (*optarg == '\0') {
                return Failure("invalid --capture value ''");
            }
            parsed.options.capture_path = optarg;
            break;
        case ':':
            return Failure("option '" + given + "' needs a value");
        case '?':
            return Failure("unknown option '" + given + "'");
        default: {
            const SettingOption &setting = kSettings[code - kFirstSetting];
            const std::string item = std::string(setting.setting) + "=" + optarg;
            if (const std::optional<std::string> problem = SettingProblem(item)) {
                return Failure("invalid --" + std::string(setting.option) + " value '" + optarg + "'" +
                               (problem->empty() ? "" : ": " + *problem));
            }
            far_end += item + ";";
        }
        }
    }
    parsed.options.far_end = vantor_sim::ParseSettings(far_end).settings;
    if (optind < argc) {
        return Failure("unexpected argument '" + std::string(argv[optind]) + "'");
    }
    if (parsed.options.port != 0 && parsed.options.port + parsed.options.links - 1 > 65535) {
        return Failure("links beyond port 65535");
    }
    return parsed;
}

} // namespace vantor_node
