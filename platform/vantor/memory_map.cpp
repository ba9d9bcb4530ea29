#include "memory_map.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <map>
#include <string_view>

namespace vantor_sim {
namespace {

constexpr std::uint64_t kAddressSpace = std::uint64_t{1} << 40;
constexpr std::size_t kLargestMapFile = std::size_t{1} << 20;
constexpr std::size_t kMostLoaded = std::size_t{16} << 20;
constexpr std::uint64_t kLargestDataLength = 0xffffff;

struct FileBytes {
    std::string bytes;
    bool longer = false; // the file holds more than the limit
};

// At most limit bytes of a file, read in pieces so that a small file costs
// little under a large limit; nothing when it cannot be read.
std::optional<FileBytes> ReadAtMost(const std::filesystem::path &path, std::size_t limit)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    FileBytes file;
    std::vector<char> piece(std::size_t{1} << 16);
    while (in && file.bytes.size() <= limit) {
        const std::size_t wanted = std::min(piece.size(), limit + 1 - file.bytes.size());
        in.read(piece.data(), static_cast<std::streamsize>(wanted));
        file.bytes.append(piece.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) {
        return std::nullopt;
    }
    file.longer = file.bytes.size() > limit;
    file.bytes.resize(std::min(file.bytes.size(), limit));
    return file;
}

std::vector<std::string_view> Words(std::string_view line)
{
    std::vector<std::string_view> words;
    constexpr std::string_view kBlanks = " \t\r";
    for (std::size_t at = line.find_first_not_of(kBlanks); at != std::string_view::npos;
         at = line.find_first_not_of(kBlanks, at)) {
        const std::size_t end = std::min(line.find_first_of(kBlanks, at), line.size());
        words.push_back(line.substr(at, end - at));
        at = end;
    }
    return words;
}

std::string Lower(std::string_view word)
{
    std::string lower(word);
    for (char &c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

// The whole word as a hexadecimal number no larger than most.
std::optional<std::uint64_t> Hex(std::string_view word, std::uint64_t most)
{
    std::uint64_t value = 0;
    const char *end = word.data() + word.size();
    auto [stop, error] = std::from_chars(word.data(), end, value, 16);
    if (word.empty() || error != std::errc() || stop != end || value > most) {
        return std::nullopt;
    }
    return value;
}

std::string Quoted(std::string_view word) { return "\"" + std::string(word) + "\""; }

struct Reader {
    std::filesystem::path folder; // where load= names are found
    std::size_t loaded = 0; // bytes of every file loaded so far
    std::string problem;    // of the current line, without its number

    bool Fail(std::string what)
    {
        problem = std::move(what);
        return false;
    }

    bool Load(std::string_view name, Region &region)
    {
        const std::filesystem::path path = folder / std::filesystem::path(name);
        const std::size_t room = kMostLoaded - loaded;
        const std::size_t limit = static_cast<std::size_t>(std::min<std::uint64_t>(region.length, room));
        const std::optional<FileBytes> file = ReadAtMost(path, limit);
        if (!file) {
            return Fail("cannot read " + Quoted(name));
        }
        if (file->longer) {
            return Fail(region.length <= room ? Quoted(name) + " is longer than the region"
                                              : "the loaded files hold more than 16 MiB");
        }
        region.load.assign(file->bytes.begin(), file->bytes.end());
        loaded += region.load.size();
        return true;
    }

    bool Rule(std::string_view word, Region &region)
    {
        const std::size_t equals = word.find('=');
        const std::string name = Lower(word.substr(0, equals));
        if (equals == std::string_view::npos) {
            bool *flag = name == "read" ? &region.read : name == "write" ? &region.write
                       : name == "rmw"  ? &region.rmw  : name == "fails" ? &region.fails : nullptr;
            if (flag != nullptr) {
                *flag = true;
            } else if (name == "increment" || name == "single") {
                const Addressing wanted = name == "increment" ? Addressing::IncrementOnly : Addressing::SingleOnly;
                if (region.addressing != Addressing::Any && region.addressing != wanted) {
                    return Fail("increment and single together");
                }
                region.addressing = wanted;
            } else {
                return Fail("unknown rule " + Quoted(word));
            }
            return true;
        }
        const std::string_view value = word.substr(equals + 1);
        if (name == "load") {
            return !value.empty() ? Load(value, region) : Fail("bad value " + Quoted(word));
        }
        std::optional<std::uint64_t> number;
        if (name == "align") {
            number = Hex(value, kAddressSpace);
            if (number && *number != 0 && (*number & (*number - 1)) == 0) {
                region.align = *number;
                return true;
            }
        } else if (name == "size") {
            if ((number = Hex(value, kLargestDataLength)) && *number != 0) {
                region.size = static_cast<std::uint32_t>(*number);
                return true;
            }
        } else if (name == "verify") {
            if ((number = Hex(value, kLargestDataLength))) {
                region.verify = static_cast<std::uint32_t>(*number);
                return true;
            }
        } else if (name == "fill") {
            if ((number = Hex(value, 0xff))) {
                region.fill = static_cast<std::uint8_t>(*number);
                return true;
            }
        } else {
            return Fail("unknown rule " + Quoted(word));
        }
        return Fail("bad value " + Quoted(word));
    }

    bool ReadRegion(const std::vector<std::string_view> &words, Region &region)
    {
        if (words.size() < 3) {
            return Fail("region needs a start and a length");
        }
        const std::size_t colon = words[1].find(':');
        const auto extended = Hex(words[1].substr(0, colon), 0xff);
        const auto address = colon == std::string_view::npos ? std::nullopt : Hex(words[1].substr(colon + 1), 0xffffffff);
        if (!extended || !address) {
            return Fail("bad start " + Quoted(words[1]));
        }
        region.start = (*extended << 32) | *address;
        const auto length = Hex(words[2], kAddressSpace - region.start);
        if (!length || *length == 0) {
            return Fail("bad length " + Quoted(words[2]));
        }
        region.length = *length;
        for (std::size_t i = 3; i < words.size(); ++i) {
            if (!Rule(words[i], region)) {
                return false;
            }
        }
        return true;
    }
};

struct Placed {
    Region region;
    int line = 0;
};

// The region already placed that shares an address with [start, end), if any.
const Placed *Overlapping(const std::map<std::uint64_t, Placed> &placed, std::uint64_t start, std::uint64_t end)
{
    auto next = placed.lower_bound(start);
    if (next != placed.end() && next->first < end) {
        return &next->second;
    }
    if (next != placed.begin()) {
        const Placed &before = std::prev(next)->second;
        if (before.region.start + before.region.length > start) {
            return &before;
        }
    }
    return nullptr;
}

bool ReadItem(Reader &reader, const std::vector<std::string_view> &words, std::map<std::uint64_t, Placed> &placed,
              MemoryMap &map, int line)
{
    const std::string item = Lower(words[0]);
    if (item == "region") {
        Placed next{Region{}, line};
        if (!reader.ReadRegion(words, next.region)) {
            return false;
        }
        if (const Placed *other = Overlapping(placed, next.region.start, next.region.start + next.region.length)) {
            return reader.Fail("overlaps the region of line " + std::to_string(other->line));
        }
        placed.emplace(next.region.start, std::move(next));
        return true;
    }
    if (item == "logical_address") {
        if (words.size() < 2) {
            return reader.Fail("logical_address needs an address");
        }
        for (std::size_t i = 1; i < words.size(); ++i) {
            const auto address = words[i].size() <= 2 ? Hex(words[i], 0xff) : std::nullopt;
            // Bytes below 0x20 are path addresses, never a logical address.
            if (!address || *address < 0x20) {
                return reader.Fail("bad logical address " + Quoted(words[i]));
            }
            map.logical_addresses.push_back(static_cast<std::uint8_t>(*address));
        }
        return true;
    }
    if (item == "key") {
        const auto key = words.size() == 2 && words[1].size() <= 2 ? Hex(words[1], 0xff) : std::nullopt;
        if (!key) {
            return reader.Fail("key takes one value from 0 to ff");
        }
        map.key = static_cast<std::uint8_t>(*key);
        return true;
    }
    if (item == "unknown_address") {
        const std::string word = words.size() == 2 ? Lower(words[1]) : "";
        if (word != "discard" && word != "status12") {
            return reader.Fail("unknown_address takes discard or status12");
        }
        map.unknown_address = word == "discard" ? UnknownAddress::Discard : UnknownAddress::Status12;
        return true;
    }
    return reader.Fail("unknown item " + Quoted(words[0]));
}

const Region *RegionHolding(const MemoryMap &map, std::uint64_t address)
{
    auto after = std::upper_bound(map.regions.begin(), map.regions.end(), address,
                                  [](std::uint64_t at, const Region &r) { return at < r.start; });
    if (after == map.regions.begin()) {
        return nullptr;
    }
    const Region &region = *std::prev(after);
    return address - region.start < region.length ? &region : nullptr;
}

} // namespace

ParsedMap ReadMemoryMap(const std::filesystem::path &path)
{
    ParsedMap parsed;
    const std::optional<FileBytes> file = ReadAtMost(path, kLargestMapFile);
    if (!file || file->longer) {
        parsed.problem = file ? "longer than 1 MiB" : "cannot be read";
        return parsed;
    }
    Reader reader{path.parent_path(), 0, {}};
    MemoryMap map;
    std::map<std::uint64_t, Placed> placed;
    std::string_view text = file->bytes;
    for (int line = 1; !text.empty(); ++line) {
        const std::string_view whole = text.substr(0, text.find('\n'));
        text.remove_prefix(std::min(whole.size() + 1, text.size()));
        const std::vector<std::string_view> words = Words(whole.substr(0, whole.find('#')));
        if (!words.empty() && !ReadItem(reader, words, placed, map, line)) {
            parsed.problem = "line " + std::to_string(line) + ": " + reader.problem;
            return parsed;
        }
    }
    if (placed.empty()) {
        parsed.problem = "no region";
        return parsed;
    }
    for (auto &[start, region] : placed) {
        map.regions.push_back(std::move(region.region));
    }
    parsed.map = std::move(map);
    return parsed;
}

std::uint8_t CheckAccess(const MemoryMap &map, const Access &access)
{
    constexpr std::uint8_t kNotAuthorised = 10, kVerifyBufferOverrun = 9, kGeneralError = 1;
    // The region holds the address itself, which also a command of no data names.
    const Region *region = RegionHolding(map, access.address);
    const std::uint64_t touched = access.increment ? access.length : 1;
    if (region == nullptr || touched > region->length - (access.address - region->start)) {
        return kNotAuthorised;
    }
    const bool allowed = access.kind == AccessKind::Read    ? region->read
                         : access.kind == AccessKind::Write ? region->write
                                                            : region->rmw;
    const bool addressing = region->addressing == Addressing::Any ||
                            access.increment == (region->addressing == Addressing::IncrementOnly);
    const bool sized = region->size == 0 || (access.length != 0 && access.length % region->size == 0);
    if (!allowed || !addressing || !sized || access.address % region->align != 0) {
        return kNotAuthorised;
    }
    if (access.kind == AccessKind::Write && access.verify && region->verify && access.length > *region->verify) {
        return kVerifyBufferOverrun;
    }
    return region->fails ? kGeneralError : 0;
}

void LayOutMemory(const MemoryMap &map, TargetMemory &memory)
{
    for (const Region &region : map.regions) {
        if (region.fill) {
            memory.SetBackground(region.start, region.length, *region.fill);
        }
        memory.WriteBlock(region.start, region.load);
    }
}

} // namespace vantor_sim
