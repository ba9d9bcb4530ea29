// The white space of command lists, their parsers and the values a user types.
#ifndef ZARK_COMMON_WHITE_SPACE_H
#define ZARK_COMMON_WHITE_SPACE_H

// Space, tab, carriage return and line feed; only the low 8 bits count.
inline bool IsWhiteSpace(int character)
{
    const int c = character & 0xFF;
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

#endif
