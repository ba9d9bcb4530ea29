#include "common/json_line.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>

namespace {

// The length of the UTF-8 sequence that starts at text[at], 0 when it is not one.
std::size_t Utf8Length(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(at);
    const std::size_t length = lead >= 0xf0 && lead <= 0xf4 ? 4
                               : lead >= 0xe0 && lead < 0xf0 ? 3
                               : lead >= 0xc2 && lead < 0xe0 ? 2
                                                             : 0;
    if (length == 0 || at + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(at + k) & 0xc0) != 0x80) {
            return 0;
        }
    }
    // Overlong forms, surrogates and values beyond U+10FFFF are not UTF-8.
    const unsigned char second = byte(at + 1);
    if ((lead == 0xe0 && second < 0xa0) || (lead == 0xed && second >= 0xa0) || (lead == 0xf0 && second < 0x90) ||
        (lead == 0xf4 && second >= 0x90)) {
        return 0;
    }
    return length;
}

constexpr char kHexDigits[] = "0123456789abcdef";

} // namespace

void JsonLine::Begin()
{
    text_.clear();
    text_ += '{';
    closing_ = "}";
    first_ = true;
}

void JsonLine::Key(std::string_view key)
{
    if (!first_) {
        text_ += ',';
    }
    first_ = false;
    if (!key.empty()) {
        // Keys are the program's own names, plain ASCII: nothing to escape.
        text_ += '"';
        text_ += key;
        text_ += "\":";
    }
}

void JsonLine::Object(std::string_view key)
{
    Key(key);
    text_ += '{';
    closing_ += '}';
    first_ = true;
}

void JsonLine::Array(std::string_view key)
{
    Key(key);
    text_ += '[';
    closing_ += ']';
    first_ = true;
}

void JsonLine::Element()
{
    Key({});
    text_ += '{';
    closing_ += '}';
    first_ = true;
}

void JsonLine::End()
{
    if (!closing_.empty()) {
        text_ += closing_.back();
        closing_.pop_back();
    }
    first_ = false;
}

void JsonLine::Quoted(std::string_view value)
{
    text_ += '"';
    for (std::size_t at = 0; at < value.size();) {
        // Plain characters go in runs: keys and most texts are nothing else.
        std::size_t plain = at;
        while (plain < value.size()) {
            const unsigned char c = static_cast<unsigned char>(value[plain]);
            if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\') {
                break;
            }
            ++plain;
        }
        text_.append(value.substr(at, plain - at));
        at = plain;
        if (at == value.size()) {
            break;
        }
        const unsigned char c = static_cast<unsigned char>(value[at]);
        if (c == '"' || c == '\\') {
            text_ += '\\';
            text_ += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x80) {
            text_ += static_cast<char>(c);
        } else if (const std::size_t length = c >= 0x80 ? Utf8Length(value, at) : 0; length > 0) {
            text_.append(value.substr(at, length));
            at += length;
            continue;
        } else {
            text_ += "\\u00";
            text_ += kHexDigits[c >> 4];
            text_ += kHexDigits[c & 0x0f];
        }
        ++at;
    }
    text_ += '"';
}

void JsonLine::Text(std::string_view key, std::string_view value)
{
    Key(key);
    Quoted(value);
}

void JsonLine::Number(std::string_view key, std::int64_t value)
{
    Key(key);
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    text_.append(digits, result.ptr);
}

void JsonLine::Number(std::string_view key, double value)
{
    Key(key);
    if (!std::isfinite(value)) {
        text_ += "null"; // JSON has no infinities
        return;
    }
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    text_.append(digits, result.ptr);
}

void JsonLine::Boolean(std::string_view key, bool value)
{
    Key(key);
    text_ += value ? "true" : "false";
}

void JsonLine::Hex(std::string_view key, std::span<const std::uint8_t> bytes)
{
    Key(key);
    text_ += '"';
    std::size_t at = text_.size();
    text_.resize(at + 2 * bytes.size());
    for (std::uint8_t byte : bytes) {
        text_[at++] = kHexDigits[byte >> 4];
        text_[at++] = kHexDigits[byte & 0x0f];
    }
    text_ += '"';
}

void JsonLine::Time(std::string_view key, std::int64_t microseconds)
{
    // The date and time of day change once a second: formatted then only,
    // since every command's record carries two times.
    const std::int64_t seconds = microseconds / 1000000;
    const std::size_t slot = static_cast<std::size_t>(seconds & 1);
    if (seconds != second_[slot]) {
        const std::time_t whole = static_cast<std::time_t>(seconds);
        std::tm utc{};
        gmtime_r(&whole, &utc);
        char text[32];
        second_text_[slot].assign(text, std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc));
        second_[slot] = seconds;
    }
    Key(key);
    text_ += '"';
    text_ += second_text_[slot];
    char fraction[8] = {'.', '0', '0', '0', '0', '0', '0', 'Z'};
    for (int k = 6, rest = static_cast<int>(microseconds % 1000000); k >= 1; --k, rest /= 10) {
        fraction[k] = static_cast<char>('0' + rest % 10);
    }
    text_.append(fraction, sizeof fraction);
    text_ += '"';
}

bool WriteJsonLine(std::FILE *file, const JsonLine &line)
{
    const std::string &text = line.text();
    return std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fputc('\n', file) != EOF;
}

std::int64_t MicrosecondsNow()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}
