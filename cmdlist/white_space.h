// The white space of command lists and their parsers.
#ifndef ZARK_CMDLIST_WHITE_SPACE_H
#define ZARK_CMDLIST_WHITE_SPACE_H

// Space, tab, carriage return and line feed; only the low 8 bits count.
inline bool IsWhiteSpace(int character)
{
    const int c = character & 0xFF;
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

#endif
