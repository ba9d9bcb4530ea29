#include "common/console_input.h"

#include <cctype>
#include <cstdio>
#include <stdio_ext.h>
#include <termios.h>
#include <unistd.h>

bool StandardInputIsTerminal() { return isatty(STDIN_FILENO) != 0; }

std::optional<std::string> ReadFromKeyboard()
{
    std::string line;
    bool read_any = false;
    for (;;) {
        const int c = std::getc(stdin);
        if (c == EOF) {
            break;
        }
        read_any = true;
        if (c == '\n') {
            return line;
        }
        line.push_back(static_cast<char>(c));
    }
    if (!read_any) {
        return std::nullopt;
    }
    return line;
}

std::optional<std::string> ReadWord()
{
    int c = std::getc(stdin);
    while (c != EOF && std::isspace(c)) {
        c = std::getc(stdin);
    }
    if (c == EOF) {
        return std::nullopt;
    }
    std::string word;
    while (c != EOF && !std::isspace(c)) {
        word.push_back(static_cast<char>(c));
        c = std::getc(stdin);
    }
    // The rest of the typed line is not part of the answer.
    while (c != EOF && c != '\n') {
        c = std::getc(stdin);
    }
    return word;
}

void DiscardPendingInput()
{
    if (!StandardInputIsTerminal()) {
        return;
    }
    __fpurge(stdin);
    tcflush(STDIN_FILENO, TCIFLUSH);
}
