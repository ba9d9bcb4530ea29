#include "common/byte_text.h"

#include <cstring>

#include "common/number_base.h"

namespace {

// A byte in base 2 needs 8 digits; one more for the blank behind it.
constexpr std::size_t kLongestByteText = 9;

struct ByteTexts {
    char text[256][kLongestByteText];
    unsigned char length[256];
};

void FillByteTexts(int base, ByteTexts &texts)
{
    for (int value = 0; value < 256; ++value) {
        char digits[34];
        itoa(static_cast<std::uint32_t>(value), digits, base);
        const std::size_t length = std::strlen(digits);
        std::memcpy(texts.text[value], digits, length);
        texts.text[value][length] = ' ';
        texts.length[value] = static_cast<unsigned char>(length + 1);
    }
}

// The text of every byte value is made once per base, so that a byte costs
// one table look-up and a copy, in large packets and many small replies alike.
const ByteTexts &TextsIn(int base)
{
    static ByteTexts texts{};
    static int texts_base = 0;
    if (texts_base != base) {
        FillByteTexts(base, texts);
        texts_base = base;
    }
    return texts;
}

} // namespace

void AppendBytesInBase(std::span<const std::uint8_t> bytes, int base, std::string &text)
{
    const ByteTexts &texts = TextsIn(base);
    for (const std::uint8_t byte : bytes) {
        text.append(texts.text[byte], texts.length[byte]);
    }
}

void WriteBytesInBase(std::span<const std::uint8_t> bytes, int base, std::FILE *stream)
{
    if (bytes.empty()) {
        return;
    }
    const ByteTexts &texts = TextsIn(base);
    char buffer[16384];
    std::size_t used = 0;
    for (const std::uint8_t byte : bytes) {
        if (used + kLongestByteText > sizeof buffer) {
            std::fwrite(buffer, 1, used, stream);
            used = 0;
        }
        std::memcpy(buffer + used, texts.text[byte], kLongestByteText);
        used += texts.length[byte];
    }
    std::fwrite(buffer, 1, used, stream);
}
