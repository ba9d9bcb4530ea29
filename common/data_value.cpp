#include "common/data_value.h"

#include <cstring>
#include <new>
#include <string>

#include "app/settings.h"
#include "common/white_space.h"
#include "common/file_bytes.h"
#include "common/number_base.h"

namespace {

bool IsQuote(char c) { return c == '"' || c == '\'' || c == '`'; }

bool IsSpace(char c) { return IsWhiteSpace(static_cast<unsigned char>(c)); }

// The base named by a one-letter prefix, or 0.
int LetterPrefixBase(char c)
{
    switch (c) {
    case 'i': case 'I': return 2;
    case 'o': case 'O': return 8;
    case 'n': case 'N': return 10;
    case 'h': case 'H': return 16;
    default: return 0;
    }
}

// The base named by the letter behind a "0" prefix, or 0.
int ZeroPrefixBase(char c)
{
    switch (c) {
    case 'b': case 'B': return 2;
    case 'o': case 'O': return 8;
    case 'd': case 'D': return 10;
    case 'x': case 'X': return 16;
    default: return 0;
    }
}

int DigitValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

struct Digits {
    bool valid = true;
    bool any = false;
    std::uint32_t value = 0;
    bool beyond_32_bits = false;
};

std::uint32_t LowBits(std::uint32_t value, int bits) { return bits >= 32 ? value : value & ((1u << bits) - 1u); }

std::optional<ValueNote> WidthNote(const NumberItem &number, int width, int kept_bits)
{
    if (!number.beyond_32_bits && LowBits(number.value, width) == number.value) {
        return std::nullopt;
    }
    const std::string prefix = number.text.substr(0, number.prefix_length);
    return ValueNote{number.text, prefix + ToBaseText(LowBits(number.value, kept_bits), number.base), width};
}

class Converter {
public:
    Converter(std::string_view text, bool single_value) : text_(text), single_value_(single_value) {}

    std::optional<DataValue> Run()
    {
        for (;;) {
            SkipWhiteSpace();
            if (AtEnd()) {
                return std::move(result_);
            }
            bool produced_nothing = false;
            if (!ConvertItem(produced_nothing)) {
                return std::nullopt;
            }
            // The item stopped at white space or at the end of the text.
            if (produced_nothing) {
                // A bare prefix or empty quotes: harmless only between items
                // once something has been produced.
                if (AtEnd() || result_.bytes.empty()) {
                    return std::nullopt;
                }
                continue;
            }
            if (single_value_ && !AtEnd() && !result_.bytes.empty()) {
                SkipWhiteSpace();
                if (!AtEnd()) {
                    return std::nullopt;
                }
                return std::move(result_);
            }
        }
    }

private:
    bool AtEnd() const { return position_ == text_.size(); }

    void SkipWhiteSpace()
    {
        while (!AtEnd() && IsSpace(text_[position_])) {
            ++position_;
        }
    }

    // Appends the byte of the number whose text began at start and whose
    // digits, in base, began at digits_start and end at the position.
    void AppendNumber(std::size_t start, std::size_t digits_start, int base, const Digits &digits)
    {
        const bool first = result_.bytes.empty();
        const bool cut = !single_value_ && (digits.beyond_32_bits || digits.value > 0xFFu);
        // The item's text is copied only when someone is told about it.
        if (first || cut) {
            NumberItem number{std::string(text_.substr(start, position_ - start)), digits_start - start, base,
                              digits.value, digits.beyond_32_bits};
            if (cut) {
                result_.notes.push_back(*WidthNote(number, 8, 8));
            }
            if (first) {
                result_.first_value = digits.value;
                result_.first_number = std::move(number);
            }
        }
        result_.bytes.push_back(static_cast<std::uint8_t>(digits.value & 0xFFu));
    }

    void AppendRaw(const char *begin, std::size_t length)
    {
        if (length == 0) {
            return;
        }
        if (result_.bytes.empty()) {
            result_.first_value = static_cast<unsigned char>(*begin);
        }
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(begin);
        result_.bytes.insert(result_.bytes.end(), bytes, bytes + length);
    }

    // Reads digits in base up to white space or the end of the text.
    Digits ReadDigits(int base)
    {
        Digits digits;
        const auto multiplier = static_cast<std::uint32_t>(base);
        while (!AtEnd() && !IsSpace(text_[position_])) {
            const int digit = DigitValue(text_[position_]);
            if (digit < 0 || digit >= base) {
                digits.valid = false;
                return digits;
            }
            const std::uint64_t next = std::uint64_t{digits.value} * multiplier + static_cast<std::uint32_t>(digit);
            digits.beyond_32_bits = digits.beyond_32_bits || next > 0xFFFFFFFFu;
            digits.value = static_cast<std::uint32_t>(next);
            digits.any = true;
            ++position_;
        }
        return digits;
    }

    // Digits written directly behind a closing quote add one more byte.
    bool ConvertDigitsBehindQuote(bool &any)
    {
        const std::size_t start = position_;
        const int base = default_base;
        const Digits digits = ReadDigits(base);
        if (!digits.valid) {
            return false;
        }
        any = digits.any;
        if (digits.any) {
            AppendNumber(start, start, base, digits);
        }
        return true;
    }

    // The position of the next quote of any kind from position_, or npos.
    std::size_t FindQuote() const
    {
        for (std::size_t i = position_; i < text_.size(); ++i) {
            if (IsQuote(text_[i])) {
                return i;
            }
        }
        return std::string_view::npos;
    }

    bool ConvertItem(bool &produced_nothing)
    {
        const char first = text_[position_];
        if (IsQuote(first)) {
            return ConvertQuotedText(produced_nothing);
        }
        if (first == '-') {
            return ConvertFileReference();
        }
        return ConvertNumber(produced_nothing);
    }

    bool ConvertNumber(bool &produced_nothing)
    {
        int base = default_base;
        const std::size_t start = position_;
        const char first = text_[position_];
        if (const int letter_base = LetterPrefixBase(first); letter_base != 0) {
            base = letter_base;
            position_ += 1;
        } else if (first == '0' && position_ + 1 < text_.size() && ZeroPrefixBase(text_[position_ + 1]) != 0) {
            base = ZeroPrefixBase(text_[position_ + 1]);
            position_ += 2;
        }
        const std::size_t digits_start = position_;
        const Digits digits = ReadDigits(base);
        if (!digits.valid) {
            return false;
        }
        if (digits.any) {
            AppendNumber(start, digits_start, base, digits);
        } else {
            produced_nothing = true;
            NoteBarePrefix(text_.substr(start, position_ - start));
        }
        return true;
    }

    // A prefix without digits adds nothing; 0b and 0d are also hex bytes
    // written the usual way, so the note says how to write those.
    void NoteBarePrefix(std::string_view item)
    {
        std::string byte;
        if (item.size() == 2 && (item[1] == 'b' || item[1] == 'B' || item[1] == 'd' || item[1] == 'D')) {
            byte = std::string("0x0") + item[1];
        }
        result_.notes.push_back(ValueNote{std::string(item), std::move(byte), 0});
    }

    bool ConvertQuotedText(bool &produced_nothing)
    {
        ++position_;
        const std::size_t start = position_;
        const std::size_t close = FindQuote();
        if (close == std::string_view::npos) {
            // Unclosed text keeps what it collected; with nothing collected
            // it is an empty item at the end of the text.
            AppendRaw(text_.data() + start, text_.size() - start);
            position_ = text_.size();
            produced_nothing = start == text_.size();
            return true;
        }
        AppendRaw(text_.data() + start, close - start);
        position_ = close + 1;
        bool any_digits = false;
        if (!ConvertDigitsBehindQuote(any_digits)) {
            return false;
        }
        produced_nothing = close == start && !any_digits;
        return true;
    }

    bool ConvertFileReference()
    {
        ++position_;
        if (AtEnd() || IsSpace(text_[position_])) {
            return false;
        }
        std::string name;
        const bool quoted = IsQuote(text_[position_]);
        if (quoted) {
            ++position_;
            const std::size_t close = FindQuote();
            if (close == std::string_view::npos || close == position_) {
                return false;
            }
            name.assign(text_.substr(position_, close - position_));
            position_ = close + 1;
        } else {
            const std::size_t start = position_;
            while (!AtEnd() && !IsSpace(text_[position_])) {
                ++position_;
            }
            name.assign(text_.substr(start, position_ - start));
        }
        const bool was_empty = result_.bytes.empty();
        if (!AppendFileBytes(name, result_.bytes)) {
            return false;
        }
        if (was_empty && !result_.bytes.empty()) {
            result_.first_value = result_.bytes.front();
        }
        if (quoted) {
            bool any_digits = false;
            return ConvertDigitsBehindQuote(any_digits);
        }
        return true;
    }

    std::string_view text_;
    bool single_value_;
    std::size_t position_ = 0;
    DataValue result_;
};

} // namespace

std::optional<DataValue> CreateDataFromString(std::string_view text, bool single_value)
{
    // A NUL would end the text early for any caller holding it as a C string;
    // refusing it keeps every caller's view of the value the same.
    if (text.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    try {
        return Converter(text, single_value).Run();
    } catch (const std::bad_alloc &) {
        return std::nullopt;
    }
}

std::vector<ValueNote> FirstValueNotes(const DataValue &value, int width, int kept_bits)
{
    std::vector<ValueNote> notes;
    if (value.first_number) {
        if (std::optional<ValueNote> note = WidthNote(*value.first_number, width, kept_bits)) {
            notes.push_back(std::move(*note));
        }
    }
    return notes;
}
