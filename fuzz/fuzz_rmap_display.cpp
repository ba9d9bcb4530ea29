// DisplayRMAPResponse on arbitrary bytes.
//
// Input: one control byte, then the bytes of a received packet.
//   bits 1..0  default_base: 0 -> 2, 1 -> 8, 2 -> 10, 3 -> 16
//   bit 2      name a data file (inside a scratch directory)
//
// Beyond surviving, every input must keep these properties:
// - the display succeeds exactly for the packets the RMAP library accepts
//   as replies; otherwise it writes one of its refusal lines;
// - a shown reply has its heading and one "Data: " row holding one number
//   per data byte;
// - the data file receives exactly the data of a read or read/modify/write
//   reply, and is not created for anything else.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings.h"
#include "common/display.h"
#include "device/quill_rmap.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr int kBases[4] = {2, 8, 10, 16};

using fuzz_support::Scratch;

// Everything written to a memory stream.
class CapturedText {
public:
    CapturedText() : stream_(open_memstream(&buffer_, &size_)) { FUZZ_CHECK(stream_ != nullptr); }
    ~CapturedText()
    {
        if (stream_ != nullptr) {
            std::fclose(stream_);
        }
        std::free(buffer_);
    }
    CapturedText(const CapturedText &) = delete;
    CapturedText &operator=(const CapturedText &) = delete;

    std::FILE *stream() { return stream_; }
    std::string Finish()
    {
        FUZZ_CHECK(std::fclose(stream_) == 0);
        stream_ = nullptr;
        return std::string(buffer_, size_);
    }

private:
    char *buffer_ = nullptr;
    std::size_t size_ = 0;
    std::FILE *stream_;
};

bool StartsWith(std::string_view text, std::string_view start) { return text.substr(0, start.size()) == start; }

// Numbers in the row that begins with label, or -1 when there is no such row.
long CountRowNumbers(std::string_view text, std::string_view label)
{
    const std::size_t at = text.find(std::string("\n") + std::string(label));
    if (at == std::string_view::npos) {
        return -1;
    }
    const std::size_t begin = at + 1 + label.size();
    const std::size_t end = text.find('\n', begin);
    FUZZ_CHECK(end != std::string_view::npos);
    const std::string_view row = text.substr(begin, end - begin);
    long numbers = 0;
    for (const char c : row) {
        if (c == ' ') {
            ++numbers;
        }
    }
    return numbers;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Scratch();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0 || size - 1 > 0x7FFFFFFF) {
        return -1;
    }
    default_base = kBases[data[0] & 3u];
    const bool with_file = (data[0] & 4u) != 0;
    const std::uint8_t *packet = data + 1;
    const int length = static_cast<int>(size - 1);
    const std::string data_file = (Scratch() / "data.bin").string();
    std::remove(data_file.c_str());

    CapturedText captured;
    const bool shown = DisplayRMAPResponse(length == 0 ? nullptr : packet, length, captured.stream(),
                                           with_file ? data_file.c_str() : nullptr);
    const std::string text = captured.Finish();

    RmapPacketInfo info{};
    const int verdict = RMAP_CheckPacketValid(packet, static_cast<unsigned int>(length), &info, 1);
    const int type = verdict == RMAP_CHECK_OK ? RMAP_GetPacketType(&info) : RMAP_PACKET_TYPE_INVALID;
    const bool reply = type == RMAP_PACKET_TYPE_READ_REPLY || type == RMAP_PACKET_TYPE_WRITE_REPLY ||
                       type == RMAP_PACKET_TYPE_READ_MODIFY_WRITE_REPLY;
    FUZZ_CHECK(shown == reply);
    const auto file = fuzz_support::ReadFile(data_file);

    if (!shown) {
        FUZZ_CHECK(text == "Error in the structure of the RMAP packet\n" ||
                   text == "\n\nUnexpected packet type " + std::to_string(type) + "\n");
        FUZZ_CHECK(!file);
        default_base = 16;
        return 0;
    }
    switch (type) {
    case RMAP_PACKET_TYPE_READ_REPLY:
        FUZZ_CHECK(StartsWith(text, "\n\nRead response\n-------------\nReply address: "));
        break;
    case RMAP_PACKET_TYPE_READ_MODIFY_WRITE_REPLY:
        FUZZ_CHECK(StartsWith(text, "\n\nRead/modify/write response\n--------------------------\nReply address: "));
        break;
    default:
        FUZZ_CHECK(StartsWith(text, "\n\nWrite response\n--------------\nReply address: "));
        break;
    }
    FUZZ_CHECK(text.back() == '\n');
    FUZZ_CHECK(text.find('\0') == std::string::npos);
    unsigned long long reply_length = 0;
    RMAP_GetReplyAddress(&info, &reply_length);
    FUZZ_CHECK(CountRowNumbers(text, "Reply address: ") == static_cast<long>(reply_length));
    FUZZ_CHECK(CountRowNumbers(text, "Target address: ") == 1);

    if (type == RMAP_PACKET_TYPE_WRITE_REPLY) {
        FUZZ_CHECK(CountRowNumbers(text, "Data: ") == -1);
        FUZZ_CHECK(!file);
    } else {
        unsigned int count = 0;
        const unsigned char *bytes = RMAP_GetData(&info, &count);
        FUZZ_CHECK(CountRowNumbers(text, "Data: ") == static_cast<long>(count));
        // Data is kept only from a reply that says its command succeeded.
        if (with_file && RMAP_GetStatus(&info) == 0) {
            FUZZ_CHECK(file && *file == std::vector<std::uint8_t>(bytes, bytes + count));
        } else {
            FUZZ_CHECK(!file);
        }
    }
    default_base = 16;
    return 0;
}
