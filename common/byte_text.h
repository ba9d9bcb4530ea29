// Rows of bytes as the displays write them: each byte in a base, then a blank.
#ifndef ZARK_COMMON_BYTE_TEXT_H
#define ZARK_COMMON_BYTE_TEXT_H

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

// Writes every byte as itoa writes it in base, each followed by one blank
// ("1 fe " for the bytes 01 FE in base 16).  Nothing else, no line break.
void WriteBytesInBase(std::span<const std::uint8_t> bytes, int base, std::FILE *stream);
// The same text, added to the end of text.
void AppendBytesInBase(std::span<const std::uint8_t> bytes, int base, std::string &text);

#endif
