// Bounds-checked reading and writing of big-endian fields over byte spans.
#ifndef ZARK_PLATFORM_QUILL_RMAP_BYTE_CURSOR_H
#define ZARK_PLATFORM_QUILL_RMAP_BYTE_CURSOR_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace quill_rmap::detail {

// Reads fields from received bytes; every read checks what remains first and
// reports false, leaving the cursor where it was, when the bytes run out.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t Position() const { return position_; }
    std::size_t Remaining() const { return bytes_.size() - position_; }

    bool ReadU8(std::uint8_t &value) {
        if (Remaining() < 1) return false;
        value = bytes_[position_++];
        return true;
    }
    bool ReadU16(std::uint16_t &value) {
        if (Remaining() < 2) return false;
        value = static_cast<std::uint16_t>((bytes_[position_] << 8) | bytes_[position_ + 1]);
        position_ += 2;
        return true;
    }
    bool ReadU24(std::uint32_t &value) {
        if (Remaining() < 3) return false;
        value = (std::uint32_t{bytes_[position_]} << 16) | (std::uint32_t{bytes_[position_ + 1]} << 8) |
                std::uint32_t{bytes_[position_ + 2]};
        position_ += 3;
        return true;
    }
    bool ReadU32(std::uint32_t &value) {
        if (Remaining() < 4) return false;
        value = (std::uint32_t{bytes_[position_]} << 24) | (std::uint32_t{bytes_[position_ + 1]} << 16) |
                (std::uint32_t{bytes_[position_ + 2]} << 8) | std::uint32_t{bytes_[position_ + 3]};
        position_ += 4;
        return true;
    }
    bool Take(std::size_t count, std::span<const std::uint8_t> &out) {
        if (Remaining() < count) return false;
        out = bytes_.subspan(position_, count);
        position_ += count;
        return true;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

// Writes fields into a buffer sized in advance.  A write that would not fit
// is dropped and remembered, so a sizing mistake shows as Ok() == false
// instead of a write past the end.
class ByteWriter {
public:
    explicit ByteWriter(std::span<std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t Position() const { return position_; }
    bool Ok() const { return ok_; }
    bool Full() const { return ok_ && position_ == bytes_.size(); }

    void U8(std::uint8_t value) {
        if (!Room(1)) return;
        bytes_[position_++] = value;
    }
    void U16(std::uint16_t value) {
        if (!Room(2)) return;
        bytes_[position_++] = static_cast<std::uint8_t>(value >> 8);
        bytes_[position_++] = static_cast<std::uint8_t>(value);
    }
    void U24(std::uint32_t value) {
        if (!Room(3)) return;
        bytes_[position_++] = static_cast<std::uint8_t>(value >> 16);
        bytes_[position_++] = static_cast<std::uint8_t>(value >> 8);
        bytes_[position_++] = static_cast<std::uint8_t>(value);
    }
    void U32(std::uint32_t value) {
        if (!Room(4)) return;
        bytes_[position_++] = static_cast<std::uint8_t>(value >> 24);
        bytes_[position_++] = static_cast<std::uint8_t>(value >> 16);
        bytes_[position_++] = static_cast<std::uint8_t>(value >> 8);
        bytes_[position_++] = static_cast<std::uint8_t>(value);
    }
    void Bytes(std::span<const std::uint8_t> bytes) {
        if (!Room(bytes.size())) return;
        std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(position_));
        position_ += bytes.size();
    }
    void Zeros(std::size_t count) {
        if (!Room(count)) return;
        std::fill_n(bytes_.begin() + static_cast<std::ptrdiff_t>(position_), count, std::uint8_t{0});
        position_ += count;
    }

private:
    bool Room(std::size_t count) {
        if (!ok_ || bytes_.size() - position_ < count) {
            ok_ = false;
            return false;
        }
        return true;
    }

    std::span<std::uint8_t> bytes_;
    std::size_t position_ = 0;
    bool ok_ = true;
};

} // namespace quill_rmap::detail

#endif
