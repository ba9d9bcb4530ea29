// Number bases: the base keywords and the conversion of numbers to text.
#ifndef ZARK_COMMON_NUMBER_BASE_H
#define ZARK_COMMON_NUMBER_BASE_H

#include <cstdint>
#include <string>
#include <string_view>

// 2, 8, 10 or 16; -1 where a result means that no base was recognised.
using NumberBase = int;

// The base named by the whole text, or -1:
//   "2" "i" "0b" -> 2    "8" "o" "0o" -> 8    "10" "n" "0d" -> 10    "16" "h" "0x" -> 16
// Letters compare without regard to case; nothing else is accepted.
NumberBase GetBase(std::string_view text);

// Writes value in base (2 to 16) into buffer (at least 34 bytes) as lower-case
// digits without prefix or leading zeros, NUL-terminated; returns buffer.
// Values are taken as unsigned.
char *itoa(std::uint32_t value, char *buffer, int base);

// Convenience for callers that build strings: the same digits as itoa.
std::string ToBaseText(std::uint32_t value, int base);

#endif
